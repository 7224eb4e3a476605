#!/usr/bin/env bash
# The service answers only its own user's programs. Wine has one user; what
# stands in for another user's programs is what the service's Wine cannot
# trace to a process of its own: a Linux process (Python here), and teldial.exe
# under a second prefix with its own wineserver. Neither is answered, each
# sending port is logged once, nothing is dialled; the same teldial.exe under
# the service's own prefix is served.
#
#   sender_owner_test.sh i686|x86_64 dial-service.exe teldial.exe
set -uo pipefail
export TELDIAL_ARCH=$1
source "$(dirname "$0")/../../scripts/wine-env.sh" || exit 1
# Beside the service's prefix, so that only the first run pays for making it.
other_prefix="$WINEPREFIX-second-user"
log=$(mktemp)
wine "$2" --port 20000 --verbose >"$log" 2>&1 </dev/null &
service_pid=$!
trap 'kill $service_pid; WINEPREFIX=$other_prefix wineserver -k; rm -f "$log"' EXIT
for _ in $(seq 1 300); do grep -q "listening on" "$log" && break; sleep 0.1; done

failures=0
check() {  # description, expected, actual
  [ "$2" == "$3" ] || { failures=$((failures + 1)); printf 'FAIL: %s\n  expected: [%s]\n  actual:   [%s]\n' "$@"; }
}
refusals() { grep -F "no answer to 127.0.0.1:" "$log" | cut -c25- | tr -d '\r'; }

python_port_and_answers=$(/usr/bin/python3 -c '
import socket
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
s.settimeout(1.5)
answers = 0
for text in (b"ping", b"ping", b"dial +4930111"):
    s.sendto(text, ("127.0.0.1", 20000))
    try:
        answers += len(s.recv(100)) > 0
    except socket.timeout:
        pass
print(s.getsockname()[1], answers)')
read -r python_port answers <<<"$python_port_and_answers"
check "answers to the Linux process" 0 "$answers"
check "its log line" "no answer to 127.0.0.1:$python_port: the program that sent it is unknown" "$(refusals)"

(export WINEPREFIX=$other_prefix && teldial_prepare_prefix && timeout -k 5 120 wine "$3" +4930222 </dev/null)
check "log lines after the second prefix's teldial" 2 "$(refusals | wc -l)"
timeout -k 5 60 wine "$3" +4930333 </dev/null
sleep 0.5
check "the own prefix's teldial served" 1 "$(grep -c -F "number +4930333" "$log")"
check "log lines in all" 2 "$(refusals | wc -l)"
check "nothing dialled for the others" 0 "$(grep -c -E "dial \+4930(111|222)" "$log")"
[ "$failures" -eq 0 ] || { sed 's/^/   service: /' "$log"; exit 1; }
