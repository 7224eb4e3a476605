# Sourced by the installation tests: a fresh Wine prefix in a temporary
# folder for the build TELDIAL_ARCH names, removed at exit together with a
# service the test left running (service_pid), and check(), which counts
# passes and failures for the closing line.
work=$(mktemp -d)
export WINEPREFIX="$work/prefix"
source "$(dirname "${BASH_SOURCE[0]}")/../../scripts/wine-env.sh" || exit 1
service_pid=""
cleanup() {
  [ -n "$service_pid" ] && kill "$service_pid" 2>/dev/null
  wineserver -k >/dev/null 2>&1
  rm -rf "$work"
}
trap cleanup EXIT

failures=0
passes=0
check() {  # description, expected, actual
  if [ "$2" == "$3" ]; then
    passes=$((passes + 1))
  else
    failures=$((failures + 1))
    printf 'FAIL: %s\n  expected: [%s]\n  actual:   [%s]\n' "$1" "$2" "$3"
  fi
}

winerun() { wine "$@" </dev/null 2>/dev/null | tr -d '\r'; }

# Opens link the way a browser does (ShellExecute through `start`) while
# folder's dial-service.exe serves one command; its log goes to $work/service.log
# and, indented, to the output. False when the service does not start.
open_link_with_service() {  # folder (Unix path), link
  local log="$work/service.log"
  : >"$log"
  wine "$1/dial-service.exe" --count 1 >"$log" 2>&1 </dev/null &
  service_pid=$!
  for _ in $(seq 1 100); do grep -q "listening on" "$log" && break; sleep 0.1; done
  if ! grep -q "listening on" "$log"; then
    cat "$log"
    echo "the dial service did not start"
    return 1
  fi
  wine start "$2" </dev/null >/dev/null 2>&1
  for _ in $(seq 1 150); do kill -0 "$service_pid" 2>/dev/null || break; sleep 0.1; done
  kill "$service_pid" 2>/dev/null
  service_pid=""
  sed 's/^/   service: /' "$log" | tr -d '\r'
}
