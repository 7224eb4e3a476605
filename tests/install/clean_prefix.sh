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
