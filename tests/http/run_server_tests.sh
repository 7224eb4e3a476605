#!/usr/bin/env bash
# Runs an HTTP test program under Wine against the real web servers
# (servers/servers.sh) and http_test_server.py (run_http_tests.sh), and stops
# the servers afterwards. HTTP_TEST_SERVERS names the servers' folder; the
# program restarts one by writing "stop NAME" or "start NAME" to its file
# "request", which is removed once done.
#
#   run_server_tests.sh i686|x86_64 path/to/program.exe [gtest options]
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
servers=$(mktemp -d)
watcher=""
cleanup() {
  [ -n "$watcher" ] && kill "$watcher" 2>/dev/null && wait "$watcher" 2>/dev/null
  bash "$here/servers/servers.sh" stop "$servers"
  rm -rf "$servers"
}
trap cleanup EXIT
bash "$here/servers/servers.sh" start "$servers" || exit 1
(
  while sleep 0.2; do
    [ -f "$servers/request" ] || continue
    read -r command name <"$servers/request"
    bash "$here/servers/servers.sh" "$command" "$servers" "$name" >&2
    rm -f "$servers/request"
  done
) &
watcher=$!
HTTP_TEST_SERVERS="$servers" bash "$here/run_http_tests.sh" "$@"
