#!/usr/bin/env bash
# The release zip as a new user meets it, on a clean Wine prefix: unpack into a
# folder whose path has a space and an ampersand, register the phone links for the current user
# and for all users and read every value back, open a tel: link the way a
# browser does (ShellExecute through `start`) with the reference service
# running, start the background service at logon through the Run key with
# options that hold quotes, blanks and an ampersand, then unregister and check
# that nothing is left.
#
#   install_test.sh i686|x86_64 path/to/teldial-<version>-win32.zip (or -win64.zip)
#
# Wine 8 does not merge HKCU\Software\Classes into HKEY_CLASSES_ROOT for
# ShellExecute (Windows does), so the link is opened with the all-users
# registration in place.
set -uo pipefail
export TELDIAL_ARCH=$1
zip=$2
name=$(basename "$zip" .zip)

source "$(dirname "$0")/clean_prefix.sh"

# Runs one of the package's scripts from a prompt in its own folder, as a user
# would; `cmd /c` with the whole path would take the & in it for a command
# separator. Prints the script's output, returns its exit code.
run_script() {
  (cd "$folder_unix" && wine cmd /c "$@" </dev/null 2>/dev/null | tr -d '\r'; exit "${PIPESTATUS[0]}")
}

# The data of one REG_SZ value; "(Default)" for the unnamed value.
reg_value() {
  local key=$1 value=$2
  if [ "$value" = "(Default)" ]; then
    winerun reg query "$key" /ve | sed -n 's/^    (Default)    REG_SZ    //p'
  else
    winerun reg query "$key" /v "$value" | sed -n "s/^    $value    REG_SZ    //p"
  fi
}
key_exists() { wine reg query "$1" </dev/null >/dev/null 2>&1 && echo yes || echo no; }
value_exists() { wine reg query "$1" /v "$2" </dev/null >/dev/null 2>&1 && echo yes || echo no; }

echo "== clean prefix, package unpacked"
# The prefix is finished before anything is registered: a new 64-bit prefix
# goes on writing the registry in programs of its own after wineboot returns.
teldial_prepare_prefix || exit 1
wineserver -p >/dev/null 2>&1 </dev/null
folder_unix="$WINEPREFIX/drive_c/R&D tools/$name"
/usr/bin/python3 -m zipfile -e "$zip" "$WINEPREFIX/drive_c/R&D tools/"
for file in teldial.exe dial-service.exe dial-service-tray.exe register.cmd unregister.cmd README.md LICENSE; do
  check "package holds $file" yes "$([ -f "$folder_unix/$file" ] && echo yes || echo no)"
done
# Every guide and picture the README links to comes with it.
for file in $(grep -o -E 'docs/[a-z-]+\.(md|png)' "$folder_unix/README.md" | sort -u); do
  check "package holds $file, which the README links to" yes "$([ -f "$folder_unix/$file" ] && echo yes || echo no)"
done
folder="C:\\R&D tools\\$name"
command_line="\"$folder\\teldial.exe\" \"%1\""

check_registered() {  # root
  local root=$1 scheme
  for scheme in tel callto teldial.url; do
    local expected="URL:$scheme"
    [ "$scheme" = teldial.url ] && expected="URL:teldial phone link"
    check "$root $scheme default" "$expected" "$(reg_value "$root\\Software\\Classes\\$scheme" "(Default)")"
    check "$root $scheme URL Protocol present" yes "$(value_exists "$root\\Software\\Classes\\$scheme" "URL Protocol")"
    check "$root $scheme URL Protocol empty" "" "$(reg_value "$root\\Software\\Classes\\$scheme" "URL Protocol")"
    check "$root $scheme open command" "$command_line" \
      "$(reg_value "$root\\Software\\Classes\\$scheme\\shell\\open\\command" "(Default)")"
  done
  check "$root RegisteredApplications" 'Software\teldial\Capabilities' \
    "$(reg_value "$root\\Software\\RegisteredApplications" teldial)"
  check "$root ApplicationName" teldial "$(reg_value "$root\\Software\\teldial\\Capabilities" ApplicationName)"
  for scheme in tel callto; do
    check "$root URLAssociations $scheme" teldial.url \
      "$(reg_value "$root\\Software\\teldial\\Capabilities\\URLAssociations" $scheme)"
  done
}

check_unregistered() {  # root
  local root=$1 key
  for key in Software\\Classes\\tel Software\\Classes\\callto Software\\Classes\\teldial.url Software\\teldial; do
    check "$root\\$key removed" no "$(key_exists "$root\\$key")"
  done
  check "$root RegisteredApplications value removed" no "$(value_exists "$root\\Software\\RegisteredApplications" teldial)"
}

echo "== register.cmd and register.cmd /all"
run_script register.cmd
check "register.cmd exit code" 0 "$?"
check_registered HKCU
run_script register.cmd /all
check "register.cmd /all exit code" 0 "$?"
check_registered HKLM
run_script register.cmd /x >/dev/null
check "register.cmd with a wrong option" 2 "$?"

echo "== register.cmd /logon: the background service from the Run key"
run_key='HKCU\Software\Microsoft\Windows\CurrentVersion\Run'
run_script register.cmd /logon --port 20005 --http "http://192.0.2.10/cgi/dial?n={number}" \
  --http-header "X-Note: R&D" --http-user alice --http-password-env PHONE_PASSWORD >/dev/null
check "register.cmd /logon exit code" 0 "$?"
# Wine quotes only the arguments with blanks when it makes the command line;
# the tray program quotes each by the Windows rules when it writes the value.
check "Run value starts the tray program with the options as given" \
  "\"$folder\\dial-service-tray.exe\" --port 20005 --http http://192.0.2.10/cgi/dial?n={number} --http-header \"X-Note: R&D\" --http-user alice --http-password-env PHONE_PASSWORD" \
  "$(reg_value "$run_key" "teldial dial service")"
check_registered HKCU
run_script register.cmd /logon >/dev/null
check "register.cmd /logon without options" "\"$folder\\dial-service-tray.exe\"" \
  "$(reg_value "$run_key" "teldial dial service")"

echo "== a tel: link opened like a browser does"
open_link_with_service "$folder_unix" 'tel:+49%205555%200123-0' || exit 1
log="$work/service.log"
check "service received the raw number" yes "$(grep -q -F '+49%205555%200123-0' "$log" && echo yes || echo no)"
check "service normalised it" yes "$(grep -q -F 'number +49555501230' "$log" && echo yes || echo no)"

echo "== unregister.cmd and unregister.cmd /all"
# A handler that another program has put in place since is left alone.
other='"C:\Other\phone.exe" "%1"'
wine reg add 'HKCU\Software\Classes\callto\shell\open\command' /ve /d "$other" /f </dev/null >/dev/null 2>&1
run_script unregister.cmd
check "unregister.cmd exit code" 0 "$?"
check "another program's callto handler kept" "$other" \
  "$(reg_value 'HKCU\Software\Classes\callto\shell\open\command' "(Default)")"
wine reg delete 'HKCU\Software\Classes\callto' /f </dev/null >/dev/null 2>&1
check_unregistered HKCU
check "Run value removed" no "$(value_exists "$run_key" "teldial dial service")"
# A Run value of that name that starts another program stays.
wine reg add "$run_key" /v "teldial dial service" /d '"C:\Other\tray.exe"' /f </dev/null >/dev/null 2>&1
run_script unregister.cmd >/dev/null
check "another program's Run value kept" '"C:\Other\tray.exe"' "$(reg_value "$run_key" "teldial dial service")"
wine reg delete "$run_key" /v "teldial dial service" /f </dev/null >/dev/null 2>&1
check "HKLM untouched by the per-user removal" yes "$(key_exists 'HKLM\Software\Classes\tel')"
run_script unregister.cmd /all
check "unregister.cmd /all exit code" 0 "$?"
check_unregistered HKLM

echo "$passes passed, $failures failed"
[ "$failures" -eq 0 ]
