#!/usr/bin/env bash
# Runs a program on a private D-Bus session bus whose secret service is a throw-away GNOME
# Keyring: unlocked with a made-up password, its keyrings under a temporary HOME, so the user's
# own keyring is never touched and nothing is left behind. The program learns the daemon's
# process id from DOORWARDEN_TEST_SECRET_SERVICE_PID.
set -u
if [ $# -lt 1 ]; then
  echo "usage: $0 PROGRAM [ARGUMENT...]" >&2
  exit 2
fi
home=$(mktemp -d)
trap 'rm -rf "$home"' EXIT
mkdir -m 0700 "$home/runtime"

# No display: nothing may prompt on the user's desktop.
# shellcheck disable=SC2016 # the inner shell expands its own variables
env -u DISPLAY -u WAYLAND_DISPLAY -u DBUS_SESSION_BUS_ADDRESS -u DOORWARDEN_SECRET_STORE \
    HOME="$home" XDG_DATA_HOME="$home/data" XDG_CONFIG_HOME="$home/config" XDG_CACHE_HOME="$home/cache" \
    XDG_RUNTIME_DIR="$home/runtime" \
    dbus-run-session -- sh -c '
  pid=
  cleanup() {
    if [ -n "$pid" ]; then kill -TERM "$pid" 2>/dev/null; kill -CONT "$pid" 2>/dev/null; fi
  }
  trap cleanup EXIT
  # The daemon forks; the parent prints the variables that find it once it is ready.
  variables=$(echo throw-away-password | gnome-keyring-daemon --unlock --components=secrets) || {
    echo "gnome-keyring-daemon did not start" >&2; exit 1; }
  while IFS= read -r variable; do
    if [ -n "$variable" ]; then export "$variable"; fi
  done <<VARIABLES
$variables
VARIABLES
  # The daemon is whoever owns the secret service name (give it a moment to claim it).
  for attempt in 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16 17 18 19 20; do
    pid=$(dbus-send --session --print-reply=literal --dest=org.freedesktop.DBus /org/freedesktop/DBus \
          org.freedesktop.DBus.GetConnectionUnixProcessID string:org.freedesktop.secrets 2>/dev/null) && break
    pid=
    sleep 0.5
  done
  pid=${pid##* }
  if [ -z "$pid" ]; then echo "no secret service on the private bus" >&2; exit 1; fi
  export DOORWARDEN_TEST_SECRET_SERVICE_PID="$pid"
  "$@"
' sh "$@"
