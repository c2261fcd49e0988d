#!/usr/bin/env bash
# Runs the doorwarden front-end as a user would and checks what it prints and returns.
set -u
client=$1
state=$(mktemp -d)
trap 'rm -rf "$state"' EXIT
failures=0

check() { # description, then the condition as a command
  local what=$1; shift
  if "$@"; then echo "ok: $what"; else echo "FAILED: $what"; failures=$((failures + 1)); fi
}

out=$("$client" --version); status=$?
check "--version prints the version alone" test "$status:$out" = "0:v0.1.0-b1"

out=$("$client" --help)
for option in --version --help --state-dir --language --diagnostics; do
  check "--help lists $option" grep -q -- "$option" <<<"$out"
done

out=$("$client" --bogus 2>&1); status=$?
check "an unknown option fails with a message" test "$status" -eq 2
check "the message names the option" grep -q "bogus" <<<"$out"

out=$("$client" --state-dir "$state" --language fr 2>&1); status=$?
check "an unknown language fails" test "$status" -eq 2
check "the message names the choices" grep -q "ko or en" <<<"$out"

# Without a display the windows cannot open: it says so, in the chosen language's terms too.
out=$(DISPLAY= "$client" --state-dir "$state" 2>"$state/err"); status=$?
check "Korean is the default" grep -q "한국어" <<<"$out"
check "no display: status 2" test "$status" -eq 2
check "no display: says why" grep -q "no X display" "$state/err"
DISPLAY= "$client" --state-dir "$state" --language en >/dev/null 2>&1
out=$(DISPLAY= "$client" --state-dir "$state" 2>/dev/null)
check "the English choice is kept" grep -q "English" <<<"$out"
check "the choice is stored under its key" grep -q "Doorwarden.ClientLanguage=en" "$state/doorwarden.ini"

# Session options: each bad one is refused before anything connects.
while IFS='|' read -r what expected args; do
  # shellcheck disable=SC2086
  out=$(DISPLAY= "$client" --state-dir "$state" $args 2>&1 </dev/null); status=$?
  check "$what: status 2" test "$status" -eq 2
  check "$what: says why" grep -q -- "$expected" <<<"$out"
done <<'CASES'
--code alone|needs --headless|--code 482913
a relay address that is not wss|not a relay address|--headless --code 482913 --relay http://127.0.0.1:1
a CA file that does not exist|/nonexistent/ca.pem|--headless --code 482913 --relay wss://127.0.0.1:1 --ca-file /nonexistent/ca.pem
no code and nothing stored|give the support code with --code|--headless --relay wss://127.0.0.1:1
no X display to capture|X display (DISPLAY is not set) cannot be captured|--headless --code 482913 --relay wss://127.0.0.1:1
plain ws to another machine|not encrypted|--headless --code 482913 --relay ws://relay.doorwarden.example:80
CASES

out=$("$client" --diagnostics)
check "diagnostics start with the five header lines" \
  bash -c '[[ $(sed -n 1p <<<"$1") == "component=MacClient version=v0.1.0-b1" &&
             $(sed -n 2p <<<"$1") == machine=?* && $(sed -n 3p <<<"$1") == os=*kernel* &&
             $(sed -n 4p <<<"$1") =~ ^processorCount=[1-9][0-9]*$ &&
             $(sed -n 5p <<<"$1") =~ ^physicalMemory=[1-9][0-9]*$ ]]' _ "$out"
check "diagnostics hold the START line" \
  grep -Eq '^[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9:]{8}\.[0-9]{3}Z\|START\|component=MacClient version=v0.1.0-b1$' <<<"$out"

exit $((failures > 0))
