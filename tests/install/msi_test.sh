#!/usr/bin/env bash
# The Windows Installer package as an administrator rolls it out, on a clean
# Wine prefix: an earlier version installed silently per machine with the
# settings as properties, upgraded to this one without them (one product, the
# settings kept),
# the files, the links, the machine-wide settings file and the logon start in
# place, a tel: link reaching the installed service; then a silent removal that
# leaves the registry and the folders as they were; then the release zip in the
# same folder with `register.cmd /all`, whose links must be the package's, value
# for value.
#
#   msi_test.sh i686|x86_64 path/to/teldial-<version>-x64.msi (or -x86.msi) path/to/the release zip
#               path/to/the same package as an earlier version
#
# The i686 build runs in a 32-bit prefix, so both packages install into
# C:\Program Files\teldial.
set -uo pipefail
export TELDIAL_ARCH=$1
msi=$2
zip=$3
earlier=$4

source "$(dirname "$0")/clean_prefix.sh"

reg_value() {  # key, value: the data of one REG_SZ value
  winerun reg query "$1" /v "$2" | sed -n "s/^    $2    REG_SZ    //p"
}

drive_c="$WINEPREFIX/drive_c"
folder_unix="$drive_c/Program Files/teldial"
folder='C:\Program Files\teldial'
settings_unix="$drive_c/ProgramData/teldial/dial-service.ini"
run_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Run'

# What the package may touch, as text: all of HKLM\Software, and the trees
# that hold the programs, the settings file and the Start menus. Wine's
# msiexec leaves its own bookkeeping keys behind, empty (Windows has them from
# the start); those go, an empty key of the package's stays.
machine_state() {
  winerun reg export 'HKLM\Software' "C:\\state.reg" /y >/dev/null
  iconv -f UTF-16 -t UTF-8 "$drive_c/state.reg" | tr -d '\r' |
    awk 'BEGIN { RS = ""; ORS = "\n\n" } !($0 !~ /\n/ && index($0, "\\Installer"))'
  rm -f "$drive_c/state.reg"
  (cd "$drive_c" && find "Program Files" ProgramData users/*/AppData/Roaming/Microsoft/Windows/Start\ Menu | sort)
}

# The links register.cmd /all writes, as reg export shows them.
links_state() {
  local key
  for key in Software\\Classes\\tel Software\\Classes\\callto Software\\Classes\\teldial.url \
             Software\\teldial\\Capabilities; do
    winerun reg export "HKLM\\$key" "C:\\links.reg" /y >/dev/null
    iconv -f UTF-16 -t UTF-8 "$drive_c/links.reg" | tr -d '\r'
    rm -f "$drive_c/links.reg"
  done
  winerun reg query 'HKLM\Software\RegisteredApplications' /v teldial
}

echo "== clean prefix"
teldial_prepare_prefix || exit 1
# As on any desk, another program starts at logon: its value, and the key the
# package shares with it, stay.
wine reg add "$run_key" /v other /d '"C:\Other\tray.exe"' /f </dev/null >/dev/null 2>&1
wineserver -w
cp "$msi" "$drive_c/teldial.msi"
cp "$earlier" "$drive_c/earlier.msi"
before=$(machine_state)

echo "== a value its setting does not take stops the install, at the check of its property"
# Wine's log does not carry a type-19 action's message, only the action that
# ended the install: Check_<PROPERTY>, whose message names the property
# (msi_tables_test). A process's exit status keeps 8 bits: 1603 is 67 here.
t=$'\t'
refused=(
  "COUNTRY${t}49"$'\n'"exec=C:\\Users\\Public\\x.exe {number}"$'\n'"any-user=yes"
  "AREA${t}55"$'\r'"55"
  "OUTSIDE${t}0 "
  "CONFIRM${t}no"$'\n'"[other]"
  "COUNTRY${t}4\"9"
  "PHONE${t}Snom"
  "PHONE_ADDRESS${t}phone.example.com/dial"
  "PHONE_ADDRESS${t}:8080"
  "PHONE_ADDRESS${t}phone-{usr}.example.com"
  "PHONE_ADDRESS${t}phone-{user.example.com"
  "PHONE_HTTPS${t}true"
  "BLOCK${t}0900;0137"
  "BLOCK${t}09+00"
)
for row in "${refused[@]}"; do
  property=${row%%$t*} value=${row#*$t}
  rm -f "$drive_c/msi.log"
  wine msiexec /i 'C:\teldial.msi' /qn /l*v 'C:\msi.log' "$property=$value" </dev/null >/dev/null 2>&1
  check "$property=${value@Q}: exit code" 67 "$?"
  check "$property=${value@Q}: the check that stopped it" "Check_$property" \
    "$(grep -a -o 'Action start [0-9:]*: [A-Za-z_]*' "$drive_c/msi.log" | tail -n 1 | sed 's/.*: //')"
done
check "nothing installed by a refused value" "$before" "$(machine_state)"

# Without a property the settings file is there all the same, empty; with
# values at the edges of what their settings take, it holds them.
for properties in "" "PHONE_ADDRESS=[2001:db8::1]:8080${t}BLOCK=+49900, 0137,*21*${t}CONFIRM=no${t}PHONE_HTTPS=yes"; do
  IFS=$t read -r -a given <<<"$properties"
  wine msiexec /i 'C:\teldial.msi' /qn "${given[@]}" </dev/null >/dev/null 2>&1
  check "${properties:-no property}: exit code" 0 "$?"
  check "${properties:-no property}: the settings file is there" yes "$([ -f "$settings_unix" ] && echo yes || echo no)"
  check "${properties:-no property}: its lines" \
    "$(for p in "${given[@]}"; do key=${p%%=*}; key=${key,,}; echo "${key//_/-}=${p#*=}"; done |
       sed '1i [dial-service]' | LC_ALL=C sort)" \
    "$(tr -d '\r' <"$settings_unix" 2>/dev/null | grep -v '^$' | LC_ALL=C sort)"
  wine msiexec /x 'C:\teldial.msi' /qn </dev/null >/dev/null 2>&1
done
check "HKLM\\Software and the folders as before, after those removals" "" \
  "$(diff <(echo "$before") <(machine_state))"

echo "== an earlier version with the administrator's properties, then this one without them"
wine msiexec /i 'C:\earlier.msi' /qn PHONE=snom PHONE_ADDRESS=phone.example.com COUNTRY=49 AREA=5555 \
  OUTSIDE=0 AUTOSTART=1 </dev/null >/dev/null 2>&1
check "msiexec /i of the earlier version: exit code" 0 "$?"
wine msiexec /i 'C:\teldial.msi' /qn </dev/null >/dev/null 2>&1
check "msiexec /i exit code" 0 "$?"
check "one teldial installed after the upgrade" 1 \
  "$(winerun reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall' /s | grep -c 'DisplayName    REG_SZ    teldial$')"
for file in teldial.exe dial-service.exe dial-service-tray.exe README.md LICENSE; do
  check "installed: $file" yes "$([ -f "$folder_unix/$file" ] && echo yes || echo no)"
done
for file in $(grep -o -E 'docs/[a-z-]+\.(md|png)' "$folder_unix/README.md" | sort -u); do
  check "installed: $file, which the README links to" yes "$([ -f "$folder_unix/$file" ] && echo yes || echo no)"
done
# Wine 8 puts a per-machine package's shortcut into the installing user's
# Start menu; Windows into the all-users one.
shortcuts=$(cd "$drive_c" &&
  ls {ProgramData,users/*/AppData/Roaming}/Microsoft/Windows/Start\ Menu/Programs/*.lnk 2>/dev/null)
check "Start-menu shortcut" 1 "$(grep -c 'teldial dial service.lnk$' <<<"$shortcuts")"
installed=$(machine_state)
# The snapshot sees the installed package, so a leftover of it would show.
check "the machine's state shows the package" 2 \
  "$(grep -c -F -e '[HKEY_LOCAL_MACHINE\Software\teldial]' -e 'Program Files/teldial/teldial.exe' <<<"$installed")"
# Only the properties given become lines, each once. Windows Installer gives
# the folder and the file the package's MsiLockPermissionsEx lists (owned by
# Administrators, only SYSTEM and Administrators may change them; checked in
# msi_tables_test). Wine's msiexec ignores that table, and Wine 8 keeps no
# owner or access list set on a file (SetNamedSecurityInfo succeeds and
# changes only the Unix mode), so here both show the Wine user as owner, with
# Everyone reading.
check "machine-wide settings file" \
  "$(printf '%s\n' '[dial-service]' area=5555 country=49 outside=0 phone-address=phone.example.com phone=snom)" \
  "$(tr -d '\r' <"$settings_unix" 2>/dev/null | grep -v '^$' | LC_ALL=C sort)"
check "AUTOSTART=1: the HKLM Run value" "\"$folder\\dial-service-tray.exe\"" \
  "$(reg_value "$run_key" "teldial dial service")"
package_links=$(links_state)

echo "== a tel: link opened like a browser does, the installed service running"
open_link_with_service "$folder_unix" 'tel:0555501230' || exit 1
log="$work/service.log"
check "service received the number through the link" yes \
  "$(grep -q -F 'number 0555501230' "$log" && echo yes || echo no)"
# Only the machine-wide settings name a phone and the outside line: without
# them the number would go to the log alone, as written.
check "service dialled it with the machine-wide phone and rules" yes \
  "$(grep -q -F 'http 00555501230' "$log" && echo yes || echo no)"

echo "== a repair with new properties: each user's own phone, no logon start"
wine msiexec /i 'C:\teldial.msi' /qn REINSTALL=ALL AUTOSTART=0 'PHONE_ADDRESS=phone-{user}.example.com' \
  </dev/null >/dev/null 2>&1
check "msiexec REINSTALL=ALL: exit code" 0 "$?"
check "the machine-wide settings file after the repair" \
  "$(printf '%s\n' '[dial-service]' area=5555 country=49 outside=0 'phone-address=phone-{user}.example.com' phone=snom)" \
  "$(tr -d '\r' <"$settings_unix" 2>/dev/null | grep -v '^$' | LC_ALL=C sort)"
check "AUTOSTART=0: no HKLM Run value" "" "$(reg_value "$run_key" "teldial dial service")"
check "the other program's logon start stays" '"C:\Other\tray.exe"' "$(reg_value "$run_key" other)"
# The name does not resolve here, so the request is looked at, not sent.
user=$(winerun cmd /c echo %USERNAME%)
check "the service asks the user's own phone" "http://phone-$user.example.com" \
  "$(winerun "$folder_unix/dial-service.exe" --show-request 0555501230 | grep -o -m 1 'http://[^/:]*')"

echo "== msiexec /x removes everything"
wine msiexec /x 'C:\teldial.msi' /qn </dev/null >/dev/null 2>&1
check "msiexec /x exit code" 0 "$?"
wineserver -w
after=$(machine_state)
check "HKLM\\Software and the folders as before the install" "" \
  "$(diff <(echo "$before") <(echo "$after"))"

echo "== the release zip with register.cmd /all in the same folder"
/usr/bin/python3 -m zipfile -e "$zip" "$work/zip"
mkdir -p "$drive_c/Program Files"
mv "$work/zip/"* "$folder_unix"
(cd "$folder_unix" && wine cmd /c register.cmd /all </dev/null >/dev/null 2>&1)
check "register.cmd /all exit code" 0 "$?"
check "the package's links are register.cmd /all's" "$(links_state)" "$package_links"

echo "$passes passed, $failures failed"
[ "$failures" -eq 0 ]
