#!/usr/bin/env bash
# Runs the HTTP bridge test program under Wine against http_test_server.py,
# started here with a certificate made for this run, and stops it afterwards.
#
#   run_http_tests.sh i686|x86_64 path/to/http_bridge_test.exe [gtest options]
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
top=$(cd "$here/../.." && pwd)
arch=$1
program=$2
shift 2
work=$(mktemp -d)
server_pid=""
cleanup() {
  [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null && wait "$server_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

# A self-signed certificate for 127.0.0.1, which no trust store holds.
if ! openssl req -x509 -newkey rsa:2048 -nodes -keyout "$work/key.pem" -out "$work/cert.pem" -days 2 \
    -subj "/CN=127.0.0.1" -addext "subjectAltName=IP:127.0.0.1" >/dev/null 2>&1; then
  echo "run_http_tests: openssl cannot make a certificate" >&2
  exit 1
fi
# And one issued by an authority the server does not send, whose certificate
# is to be fetched from a port that never answers (the "silent" one).
if ! (openssl req -x509 -newkey rsa:2048 -nodes -keyout "$work/issuer-key.pem" -out "$work/issuer.pem" -days 2 \
        -subj "/CN=teldial test issuer" -addext "basicConstraints=critical,CA:TRUE" \
        -addext "keyUsage=critical,keyCertSign" &&
      openssl req -newkey rsa:2048 -nodes -keyout "$work/issued-key.pem" -out "$work/issued.csr" \
        -subj "/CN=127.0.0.1" &&
      printf '%s\n' "subjectAltName=IP:127.0.0.1" "extendedKeyUsage=serverAuth" \
        "authorityInfoAccess=caIssuers;URI:http://127.0.0.1:18459/issuer.crt" >"$work/issued.ext" &&
      openssl x509 -req -in "$work/issued.csr" -CA "$work/issuer.pem" -CAkey "$work/issuer-key.pem" \
        -CAcreateserial -out "$work/issued.pem" -days 2 -extfile "$work/issued.ext") >/dev/null 2>&1; then
  echo "run_http_tests: openssl cannot make the issued certificate" >&2
  exit 1
fi
: >"$work/record.txt"
mkfifo "$work/server-input"
/usr/bin/python3 "$here/http_test_server.py" --record "$work/record.txt" --cert "$work/cert.pem" \
  --key "$work/key.pem" --issued-cert "$work/issued.pem" --issued-key "$work/issued-key.pem" \
  --listen 18458:tls-issued-open --listen 18459:silent --listen 18431:basic --listen 18432:digest --listen 18433:digest-md5 \
  --listen 18434:digest-2617 --listen 18435:status500 --listen 18436:slow --listen 18437:tls-open \
  --listen 18438:open --listen 18440:tls-digest --listen 18441:tls-basic@Polycom \
  --listen 18442:status-hostile --listen 18443:redirect --listen 18444:digest-unanswerable \
  --listen 18445:endless-headers --listen 18446:drip --listen 18447:digest-stale --listen 18448:tls-redirect \
  --listen 18449:digest-stale-always \
  --listen 127.0.0.2:18602:open <"$work/server-input" >"$work/server.out" 2>&1 &
server_pid=$!
exec 3>"$work/server-input"  # the server ends when this closes
for _ in $(seq 1 100); do grep -q ready "$work/server.out" && break; sleep 0.1; done
if ! grep -q ready "$work/server.out"; then
  cat "$work/server.out" >&2
  echo "run_http_tests: the test server did not start" >&2
  exit 1
fi
HTTP_TEST_RECORD="$work/record.txt" "$top/scripts/wine-run" "$arch" "$program" "$@"
status=$?
if [ -s "$work/server.out" ] && grep -v -x ready "$work/server.out" >/dev/null; then
  echo "test server output:" >&2
  grep -v -x ready "$work/server.out" >&2
fi
exit "$status"
