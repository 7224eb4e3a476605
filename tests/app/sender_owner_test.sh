#!/usr/bin/env bash
# The service answers only its own user's programs. Wine has one user, so the
# nearest stand-in for another user's program is one that the service's Wine
# cannot trace to a process of its own: a Linux process (Python here), and a
# teldial.exe under a second Wine prefix with its own wineserver. Neither gets
# an answer, each sending port is logged once, and nothing is dialled; the same
# teldial.exe under the service's own prefix is served.
#
#   sender_owner_test.sh i686|x86_64 dial-service.exe teldial.exe
set -uo pipefail
export TELDIAL_ARCH=$1
service=$2
teldial=$3
source "$(dirname "$0")/../../scripts/wine-env.sh" || exit 1
own_prefix=$WINEPREFIX
# Kept beside the service's prefix, so that only the first run pays for making it.
other_prefix="$own_prefix-second-user"
work=$(mktemp -d)
service_pid=""
cleanup() {
  [ -n "$service_pid" ] && kill "$service_pid" 2>/dev/null && wait "$service_pid" 2>/dev/null
  WINEPREFIX=$other_prefix wineserver -k >/dev/null 2>&1
  rm -rf "$work"
}
trap cleanup EXIT

failures=0
check() {  # description, expected, actual
  if [ "$2" != "$3" ]; then
    failures=$((failures + 1))
    printf 'FAIL: %s\n  expected: [%s]\n  actual:   [%s]\n' "$1" "$2" "$3"
  fi
}
log="$work/service.log"
await_log() {  # fixed text, seconds
  for _ in $(seq 1 $(($2 * 10))); do grep -q -F -- "$1" "$log" && return 0; sleep 0.1; done
  return 1
}
refusals() { grep -c -F "no answer to 127.0.0.1:" "$log"; }

wine "$service" --port 20000 --verbose >"$log" 2>&1 </dev/null &
service_pid=$!
if ! await_log "listening on" 30; then
  cat "$log"
  echo "sender_owner_test: the dial service did not start"
  exit 1
fi

# Two pings and a dial from one Linux socket.
python_port=$(/usr/bin/python3 - <<'EOF'
import socket
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
s.bind(("127.0.0.1", 0))
s.settimeout(1.5)
answers = 0
for text in (b"ping", b"ping", b"dial +4930111"):
    s.sendto(text, ("127.0.0.1", 20000))
    try:
        s.recv(100)
        answers += 1
    except socket.timeout:
        pass
print(s.getsockname()[1], answers)
EOF
)
check "answers to the Linux process" 0 "${python_port#* }"
python_port=${python_port% *}
await_log "127.0.0.1:$python_port:" 5
check "log line of the Linux process" \
  "no answer to 127.0.0.1:$python_port: the program that sent it is unknown" \
  "$(grep -F "127.0.0.1:$python_port:" "$log" | cut -c25- | tr -d '\r')"

# Under a second prefix; the client tries every port before it gives up.
(export WINEPREFIX=$other_prefix && teldial_prepare_prefix && timeout -k 5 120 wine "$teldial" +4930222 </dev/null)
check "log lines after the second prefix's teldial" 2 "$(refusals)"

timeout -k 5 60 wine "$teldial" +4930333 </dev/null
await_log "number +4930333" 10
check "the own prefix's teldial served" 1 "$(grep -c -F " dial +4930333 (from port" "$log")"
check "log lines in all" 2 "$(refusals)"
check "nothing dialled for the others" 0 "$(grep -c -E " dial \+4930(111|222)" "$log")"

if [ "$failures" -ne 0 ]; then
  sed 's/^/   service: /' "$log"
  exit 1
fi
echo "sender_owner_test: passed"
