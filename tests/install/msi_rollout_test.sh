#!/usr/bin/env bash
# A roll-out as the administrator's guide (docs/admin.md) shows it: its
# example msiexec line, run as cmd would run it (%USERNAME% expanded), on a
# clean Wine prefix; then a user's tray started as at logon, and a tel:
# link. The user has chosen nothing yet, so the tray asks before the first
# call: the confirmation window is on the screen and nothing has gone to the
# phone. Then a repair names a phone that wants a password: the user's next
# start opens the settings window to ask for it. (Which fields it locks is
# checked control by control in settings_window_test, with the same file.)
#
#   msi_rollout_test.sh i686|x86_64 path/to/teldial-<version>-x64.msi (or -x86.msi)
set -uo pipefail
export TELDIAL_ARCH=$1
msi=$2
guide="$(dirname "$0")/../../docs/admin.md"

source "$(dirname "$0")/clean_prefix.sh"

drive_c="$WINEPREFIX/drive_c"
teldial_prepare_prefix || exit 1
cp "$msi" "$drive_c/teldial.msi"

echo "== the administrator's guide's msiexec line"
line=$(grep -m 1 -E '^    msiexec /i teldial-[^ ]+\.msi /qn ' "$guide" | sed 's/^ *//')
check "the administrator's guide has an msiexec line" yes "$([ -n "$line" ] && echo yes || echo no)"
expanded=$(winerun cmd /c echo $line)
echo "   $expanded"
read -r -a words <<<"$expanded"
words[2]='C:\teldial.msi'
wine "${words[@]}" </dev/null >/dev/null 2>&1
check "msiexec exit code" 0 "$?"
wineserver -w

echo "== a user's tray, as at logon, and a tel: link"
wine "$drive_c/Program Files/teldial/dial-service-tray.exe" </dev/null >/dev/null 2>&1 &
service_pid=$!
log="$drive_c/users/$(ls "$drive_c/users" | grep -v -x -e Public -e Default | head -n 1)/AppData/Local/teldial/dial-service.log"
for _ in $(seq 1 150); do grep -q "listening on" "$log" 2>/dev/null && break; sleep 0.2; done
check "the tray listens" yes "$(grep -q "listening on" "$log" 2>/dev/null && echo yes || echo no)"
wine start 'tel:0555501230' </dev/null >/dev/null 2>&1
asking=$(timeout 30 xdotool search --sync --onlyvisible --name 'call this number' 2>/dev/null | head -n 1)
check "the confirmation window is on the screen" yes "$([ -n "$asking" ] && echo yes || echo no)"
sleep 1
tr -d '\r' <"$log" | sed 's/^/   tray: /'
check "the tray asks the user" 1 "$(tr -d '\r' <"$log" | grep -c 'asking the user to confirm')"
check "nothing went to the phone" 0 "$(tr -d '\r' <"$log" | grep -c -E 'http [0-9+]')"

echo "== a repair names a phone that asks for a password"
kill "$service_pid" 2>/dev/null
wait "$service_pid" 2>/dev/null
wineserver -w
wine msiexec /i 'C:\teldial.msi' /qn REINSTALL=ALL PHONE=grandstream </dev/null >/dev/null 2>&1
check "repair exit code" 0 "$?"
wineserver -w
: >"$log"
wine "$drive_c/Program Files/teldial/dial-service-tray.exe" </dev/null >/dev/null 2>&1 &
service_pid=$!
asked=$(timeout 30 xdotool search --sync --onlyvisible --name 'teldial settings' 2>/dev/null | head -n 1)
check "the settings window is on the screen" yes "$([ -n "$asked" ] && echo yes || echo no)"
check "the tray says the password is missing" 1 \
  "$(tr -d '\r' <"$log" | grep -c "asks for a password, which this user has not given yet")"
kill "$service_pid" 2>/dev/null
wait "$service_pid" 2>/dev/null

echo "$passes passed, $failures failed"
[ "$failures" -eq 0 ]
