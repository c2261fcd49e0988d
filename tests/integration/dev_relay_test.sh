#!/usr/bin/env bash
# Starts the development relay as the demo and the integration tests do, reads what it prints
# and writes, and stops it.
set -u
relay=$1
dir=$(mktemp -d)
pid=
cleanup() {
  if [ -n "$pid" ]; then kill "$pid" 2>/dev/null; wait "$pid" 2>/dev/null; fi
  rm -rf "$dir"
}
trap cleanup EXIT
failures=0

check() { # description, then the condition as a command
  local what=$1; shift
  if "$@"; then echo "ok: $what"; else echo "FAILED: $what"; failures=$((failures + 1)); fi
}

out=$("$relay" --port 0 2>&1); status=$?
check "without TLS settings it refuses to start" test "$status" -eq 2
check "the message names the TLS switches" grep -q -- "--generate-ca" <<<"$out"
out=$("$relay" --generate-ca "$dir/unused" --port 70000 2>&1); status=$?
check "a port out of range fails" test "$status" -eq 2
out=$("$relay" --cert "$dir/missing.pem" 2>&1); status=$?
check "--cert without --key fails" test "$status" -eq 2
out=$("$relay" --help)
for option in --port --generate-ca --cert --key --recovery-pending --help; do
  check "--help lists $option" grep -q -- "$option" <<<"$out"
done

# Started for real: stdout through a pipe, read line by line with a time limit.
mkfifo "$dir/stdout"
"$relay" --generate-ca "$dir/ca" --port 0 >"$dir/stdout" 2>"$dir/stderr" &
pid=$!
exec 3<"$dir/stdout"
read -r -t 20 listening <&3 || listening=
read -r -t 5 caLine <&3 || caLine=
check "the first line says where it listens" grep -Eq '^listening wss://127\.0\.0\.1:[1-9][0-9]*$' <<<"$listening"
port=${listening##*:}
check "the second line names the CA file" test "$caLine" = "ca-file $dir/ca/ca.pem"
check "the CA file holds one certificate" test "$(grep -c 'BEGIN CERTIFICATE' "$dir/ca/ca.pem" 2>/dev/null)" = 1
check "the port accepts connections" bash -c "exec 4<>/dev/tcp/127.0.0.1/$port" 2>/dev/null
if command -v openssl >/dev/null; then
  for name in "-verify_ip 127.0.0.1" "-verify_hostname localhost"; do
    # shellcheck disable=SC2086 # the option and its value are two words
    verified=$(openssl s_client -connect "127.0.0.1:$port" -CAfile "$dir/ca/ca.pem" $name \
               -verify_return_error </dev/null 2>&1)
    check "its certificate verifies against the CA file ($name)" grep -q "Verify return code: 0 (ok)" <<<"$verified"
  done
else
  echo "skipped: openssl is not installed, the certificate is not checked here"
fi
check "it logs to stderr" grep -q "listening on 127.0.0.1:$port" "$dir/stderr"

kill "$pid"; wait "$pid" 2>/dev/null; pid=
exit $((failures > 0))
