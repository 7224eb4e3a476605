# Sourced by the project's scripts: the Wine of one build, a prefix of its own
# inside the build folder, a persistent wineserver and a virtual display,
# started once per run. TELDIAL_ARCH chooses the build: i686 (the default) runs
# under the 32-bit Wine in build/wine, x86_64 under the 64-bit Wine in
# build/wine64. After sourcing, `wine`, `wineserver` and `wineboot` are that
# build's, also for every program started from here.
teldial_top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
source "$teldial_top/scripts/machine.sh"

export TELDIAL_ARCH="${TELDIAL_ARCH:-i686}"
case $TELDIAL_ARCH in
  i686)
    export WINELOADER=/usr/lib/wine/wine WINEARCH=win32
    export WINEPREFIX="${WINEPREFIX:-$teldial_top/build/wine}" ;;
  x86_64)
    export WINELOADER=/usr/lib/wine/wine64 WINEARCH=win64
    export WINEPREFIX="${WINEPREFIX:-$teldial_top/build/wine64}" ;;
  *)
    echo "wine-env: unknown TELDIAL_ARCH $TELDIAL_ARCH (i686 or x86_64)" >&2
    return 1 ;;
esac
# One server serves both kinds of program; the 64-bit one wherever it runs.
if teldial_machine_runs x86_64; then
  export WINESERVER=/usr/lib/wine/wineserver64
else
  export WINESERVER=/usr/lib/wine/wineserver32
fi
case ":$PATH:" in
  *":$teldial_top/scripts/wine-bin:"*) ;;
  *) export PATH="$teldial_top/scripts/wine-bin:$PATH" ;;
esac
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"

teldial_started_display=""

# Starts Xvfb on a free display unless one is given.
teldial_start_display() {
  if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then return 0; fi
  local n
  for n in $(seq 90 140); do
    [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] && continue
    Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp -noreset >/dev/null 2>&1 &
    teldial_started_display=$!
    export DISPLAY=":$n"
    local i
    for i in $(seq 1 50); do
      xdpyinfo >/dev/null 2>&1 && return 0
      sleep 0.1
    done
    kill "$teldial_started_display" 2>/dev/null
    teldial_started_display=""
  done
  echo "no virtual display could be started" >&2
  return 1
}

# Makes the prefix on first use: no crash dialog (a crash becomes an exit code),
# unmanaged windows (no stall when a box closes on a bare X server).
teldial_prepare_prefix() {
  if [ ! -f "$WINEPREFIX/.teldial-ready" ]; then
    # An existing prefix is updated in place, never removed: it may be someone's own.
    mkdir -p "$WINEPREFIX"
    wineboot -i >/dev/null 2>&1 </dev/null || { echo "wineboot failed in $WINEPREFIX" >&2; return 1; }
    wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null 2>&1 </dev/null
    wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f >/dev/null 2>&1 </dev/null
    wineserver -w
    touch "$WINEPREFIX/.teldial-ready"
  fi
}

# A wineserver that stays up for the whole run; Wine's helper processes are
# started here so that they do not hold a test's output open.
# The server lingers a minute after its last client, so a run that is killed
# leaves nothing behind for long.
teldial_start_wine() {
  if ! teldial_machine_runs "$TELDIAL_ARCH"; then
    echo "wine-env: the $TELDIAL_ARCH build cannot run here: $(teldial_machine_why_not "$TELDIAL_ARCH")" >&2
    return 1
  fi
  teldial_start_display || return 1
  teldial_prepare_prefix || return 1
  wineserver -p60 >/dev/null 2>&1 </dev/null
  wine cmd /c exit >/dev/null 2>&1 </dev/null || true
}

teldial_stop_wine() {
  wineserver -k >/dev/null 2>&1 || true
  if [ -n "$teldial_started_display" ]; then
    kill "$teldial_started_display" 2>/dev/null || true
    wait "$teldial_started_display" 2>/dev/null || true
  fi
}
