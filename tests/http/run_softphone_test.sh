#!/usr/bin/env bash
# Runs the softphone call test under Wine between a real baresip (its httpd
# module on 127.0.0.1:18450, SIP on 18451) and sipp as the callee (18452),
# both started here with settings made for this run, and stops them afterwards.
#
#   run_softphone_test.sh i686|x86_64 path/to/softphone_call_test.exe [gtest options]
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
top=$(cd "$here/../.." && pwd)
arch=$1
program=$2
shift 2
work=$(mktemp -d)
pids=()
cleanup() {
  local pid
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null; done
  rm -rf "$work"
}
trap cleanup EXIT
show_logs() {
  local log
  for log in "$work"/*.out; do echo "--- $(basename "$log")" >&2; tail -n 40 "$log" >&2; done
}

for tool in baresip sipp; do
  if ! command -v "$tool" >/dev/null; then
    echo "run_softphone_test: $tool is not installed (scripts/setup installs it)" >&2
    exit 1
  fi
done

# The account's domain is the callee, so "d NUMBER" becomes an INVITE to
# sip:NUMBER@127.0.0.1:18452; regint=0 keeps it from registering anywhere.
# The call's sound is a minute of silence made here: a sound source that
# fails (aufile takes only S16LE files, which the packaged ring.wav is not)
# makes baresip end the call by itself, and only --hang-up may end it here.
mkdir "$work/baresip"
cat >"$work/baresip/config" <<CONFIG
poll_method epoll
net_interface 127.0.0.1
sip_listen 127.0.0.1:18451
http_listen 127.0.0.1:18450
audio_source aufile,$work/silence.wav
audio_player aufile,$work/heard.wav
module_path /usr/lib/baresip/modules
module g711.so
module aufile.so
module httpd.so
module_app account.so
module_app menu.so
CONFIG
echo "<sip:teldial@127.0.0.1:18452>;regint=0" >"$work/baresip/accounts"
/usr/bin/python3 -c 'import sys, wave
with wave.open(sys.argv[1], "wb") as out:
    out.setnchannels(1); out.setsampwidth(2); out.setframerate(8000); out.writeframes(bytes(2 * 8000 * 60))' \
  "$work/silence.wav"

sipp -sn uas -i 127.0.0.1 -p 18452 -nostdin -trace_msg -message_file "$work/sip-messages.txt" \
  >"$work/sipp.out" 2>&1 </dev/null &
pids+=($!)
baresip -4 -f "$work/baresip" >"$work/baresip.out" 2>&1 </dev/null &
pids+=($!)
for _ in $(seq 1 100); do grep -q "baresip is ready" "$work/baresip.out" && break; sleep 0.1; done
if ! grep -q "baresip is ready" "$work/baresip.out"; then
  echo "run_softphone_test: baresip did not start" >&2
  show_logs
  exit 1
fi
SIP_TEST_MESSAGES="$work/sip-messages.txt" "$top/scripts/wine-run" "$arch" "$program" "$@"
status=$?
[ "$status" -eq 0 ] || show_logs
exit "$status"
