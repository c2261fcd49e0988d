#!/usr/bin/env bash
# A support session on this machine: the development relay (TLS with a throw-away CA), the
# client without windows and the headless viewer, all on 127.0.0.1. Everything it starts is
# stopped when it ends, however it ends. The client captures a private X display (Xvfb) on which
# the test screen draws; the viewer decodes the stream and saves what it shows in
# BUILD_DIR/demo-frames/.
#   tools/demo.sh BUILD_DIR [--desktop | --window]
# With --desktop the client runs as on a user's desktop: no --state-dir, its session record in
# the desktop's secret service (a throw-away GNOME Keyring on a private session bus, under a
# temporary home), and it is killed mid-session and started again to resume from the keyring.
# With --window the session runs on this desktop: the client shares it (DISPLAY) and the viewer
# shows it in a window, from which its mouse and keyboard control it; the demo ends when that
# window is closed.
set -euo pipefail
build=${1:-build}
mode=${2:-}
here=$(cd "$(dirname "$0")" && pwd)
if [ "$mode" = --desktop ]; then
  build=$(cd "$build" && pwd)
  printf '\n== a private session bus with a throw-away keyring, a temporary home\n'
  exec bash "$here/../tests/platform/with_secret_service.sh" bash "$here/demo.sh" "$build" --desktop-inside
fi
desktop=false
[ "$mode" = --desktop-inside ] && desktop=true
window=false
[ "$mode" = --window ] && window=true
case $mode in ''|--desktop-inside|--window) ;; *) echo "usage: tools/demo.sh BUILD_DIR [--desktop | --window]" >&2; exit 2 ;; esac
client=$build/app/doorwarden
relay=$build/tools/doorwarden-relay
viewer=$build/tools/doorwarden-viewer
screen=$build/tools/doorwarden-test-screen
frames=$build/demo-frames
code=482913

work=$(mktemp -d)
pids=()
cleanup() {
  exec 4>&- 2>/dev/null || true
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

step() { printf '\n== %s\n' "$*"; }
fail() { printf 'demo: %s\n' "$*" >&2; exit 1; }

# wait_for FILE REGEX [SECONDS]: until a line of FILE matches; prints that line.
wait_for() {
  local file=$1 pattern=$2 seconds=${3:-10} tries
  for ((tries = seconds * 10; tries > 0; tries--)); do
    if grep -E -m1 -- "$pattern" "$file" 2>/dev/null; then return 0; fi
    sleep 0.1
  done
  fail "no line matching '$pattern' in $(basename "$file") after $seconds s"
}

if $window; then
  [ -n "${DISPLAY:-}" ] || fail "--window shares this desktop, but DISPLAY is not set"
  step "this desktop (DISPLAY=$DISPLAY) is the customer's screen"
else
  # A display of its own, whether or not this desktop has one: the test screen covers all of it.
  step "a private X server (Xvfb) as the customer's screen, with the test screen drawing on it"
  Xvfb -displayfd 3 -noreset -nolisten tcp -screen 0 1280x800x24 3>"$work/display" 2>/dev/null &
  pids+=($!)
  display=$(wait_for "$work/display" '^[0-9]+$')
  export DISPLAY=:$display
  "$screen" >"$work/screen.out" 2>&1 &
  pids+=($!)
  wait_for "$work/screen.out" '^test-screen ready '
  echo "DISPLAY=$DISPLAY: scrolling text, a moving box and a frame counter, 30 times a second"
fi

step "starting the development relay"
"$relay" --generate-ca "$work/ca" >"$work/relay.out" 2>"$work/relay.log" &
pids+=($!)
url=$(wait_for "$work/relay.out" '^listening ' | cut -d' ' -f2)
echo "listening on $url (its CA: a throw-away one made just now)"

# start_client OUTPUT [ARGUMENT...]: the client, headless, with the demo's relay.
start_client() {
  local out=$1; shift
  local state=(--state-dir "$work/state")
  $desktop && state=()
  "$client" --headless --relay "$url" --ca-file "$work/ca/ca.pem" "${state[@]}" --language en "$@" \
    > >(tee "$out" | sed -u 's/^/  client | /') 2>&1 &
  client_pid=$!
  pids+=("$client_pid")
}

if $desktop; then
  step "the customer starts the client as on a desktop (no --state-dir), support code ${code:0:3} ${code:3}"
else
  step "the customer starts the client with support code ${code:0:3} ${code:3}"
fi
start_client "$work/client.out" --code "$code"
wait_for "$work/client.out" '^state waitingForViewer$' >/dev/null

if $window; then
  step "the agent's viewer window joins with the same code"
  "$viewer" --window --relay "$url" --ca-file "$work/ca/ca.pem" --code "$code" --name "Agent Kim" \
    > >(tee "$work/viewer.out" | grep --line-buffered -v '^inner \|^video' | sed -u 's/^/  viewer | /') 2>&1 &
  viewer_pid=$!
  pids+=("$viewer_pid")
  wait_for "$work/client.out" '^state supporting$' >/dev/null
  shown=$(wait_for "$work/client.out" '^verification_code ' | cut -d' ' -f2)
  step "the window shows this desktop (verification code $shown on both sides)"
  echo "Point and click in the window's picture: the pointer goes to the place you point at, and"
  echo "keys typed there type on this desktop. End the session with 'End session', then close the"
  echo "window (closing it first ends the session too)."
  wait "$viewer_pid" || true
  status=0
  wait "$client_pid" || status=$?
  [ "$status" -eq 0 ] || fail "the client ended with status $status"
  step "done: the window is closed and the client closed cleanly"
  exit 0
fi

step "the agent's viewer joins with the same code"
mkfifo "$work/viewer.in"
rm -rf "$frames"
"$viewer" --relay "$url" --ca-file "$work/ca/ca.pem" --code "$code" --name "Agent Kim" --stdin \
  --save-frames "$frames" <"$work/viewer.in" > >(tee "$work/viewer.out" | sed -u 's/^/  viewer | /') 2>&1 &
pids+=($!)
exec 4>"$work/viewer.in"
wait_for "$work/client.out" '^state supporting$' >/dev/null
shown=$(wait_for "$work/client.out" '^verification_code ' | cut -d' ' -f2)
told=$(wait_for "$work/viewer.out" '^verification_code ' | cut -d' ' -f2)
wait_for "$work/viewer.out" '^encryption_ready$' >/dev/null
[ "$shown" = "$told" ] || fail "the verification codes differ: client $shown, viewer $told"

step "both sides show verification code $shown; the customer's screen streams to the viewer"
wait_for "$work/viewer.out" '^inner .*"type":"screen_info"' | cut -c1-160
wait_for "$work/viewer.out" '^decoded frame=1 ' >/dev/null
wait_for "$work/viewer.out" '^video_summary frames=60 ' 40 >/dev/null # the viewer saves each picture as PNG: slow on a busy machine
last=$(ls "$frames" | sed -n 's/^frame-\([0-9]*\)\.png$/\1/p' | sort -n | tail -1)
echo "the viewer decoded $last frames; what it saw: $frames/frame-1.png (the first, a key frame) to $frames/frame-$last.png"

step "the viewer sends an encrypted message (it asks for the computer's sound)"
echo '{"type":"audio_subscribe","audioSubscription":{"enabled":true,"quality":"automatic"}}' >&4
wait_for "$work/client.out" '^system_audio on$' >/dev/null

if $desktop; then
  step "the client is killed mid-session; started again without a code, it resumes from the keyring"
  kill -KILL "$client_pid"
  wait "$client_pid" 2>/dev/null || true
  [ -z "$(ls -A "${XDG_DATA_HOME:?}/doorwarden/secrets" 2>/dev/null)" ] || fail "the record went to files, not the keyring"
  [ -f "${XDG_CONFIG_HOME:?}/autostart/doorwarden.desktop" ] || fail "no login item to start the client again"
  start_client "$work/client2.out"
  wait_for "$work/client2.out" '^state supporting$' 20 >/dev/null
  # The viewer answers after the pictures still waiting for it, each saved as PNG: slow on a busy machine.
  wait_for "$work/client2.out" '^verification_code ' 60 >/dev/null
fi

step "the agent ends support; the client counts down and closes"
echo end >&4
status=0
wait "$client_pid" || status=$?
[ "$status" -eq 0 ] || fail "the client ended with status $status"
if $desktop; then
  [ ! -f "$XDG_CONFIG_HOME/autostart/doorwarden.desktop" ] || fail "the login item outlived the session"
else
  [ -z "$(ls -A "$work/state/secrets" 2>/dev/null)" ] || fail "the ended session is still stored"
fi

step "done: the session reached 'supporting', both sides agreed on $shown, the screen streamed, and the client closed cleanly"
