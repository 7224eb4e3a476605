#!/usr/bin/env bash
# The Windows Installer package read with msiinfo, without running it, so that
# the 32-bit package is checked on a machine that cannot run it: per machine,
# the architecture's folder, the programs, exactly the registry values that
# register.cmd /all writes, the shortcut, and the conditions, ini lines,
# removal, remembered settings, the settings folder's and file's permissions
# and the properties' checks that are added after wixl.
#
#   msi_tables_test.sh i686|x86_64 path/to/teldial-<version>-x64.msi (or -x86.msi)
set -uo pipefail
arch=$1
msi=$2
failures=0
# A table's rows as compared below: Registry without its row key, File by
# file name, any other table whole.
rows_of() {
  case $1 in
    Registry) msiinfo export "$msi" Registry | tr -d '\r' | cut -f2-6 ;;
    File) msiinfo export "$msi" File | tr -d '\r' | cut -f3 ;;
    *) msiinfo export "$msi" "$1" | tr -d '\r' ;;
  esac
}
expect() {  # table, the start of one of its rows (tab-separated)
  # Through the environment: awk -v would take the backslashes of key paths as escapes.
  if ! rows_of "$1" | want=$2 awk 'index($0, ENVIRON["want"]) == 1 { found = 1 } END { exit !found }'; then
    failures=$((failures + 1))
    printf 'FAIL: %s has no row starting\n  %s\n' "$1" "$2"
  fi
}
if [ "$arch" = x86_64 ]; then
  template="x64;1033" folder=ProgramFiles64Folder attributes=256 view=18
else
  template="Intel;1033" folder=ProgramFilesFolder attributes=0 view=2
fi
msiinfo suminfo "$msi" | grep -qxF "Template: $template" || { failures=$((failures + 1)); echo "FAIL: template is not $template"; }

t=$'\t'
command="\"[INSTALLDIR]teldial.exe\" \"%1\""
rows=(
  "Property${t}ALLUSERS${t}1"
  "Property${t}UpgradeCode${t}{6F1C2B0E-4A51-4C7E-9B8E-2D7F3A5C9E41}"
  "Directory${t}INSTALLDIR${t}$folder${t}teldial"
  "Directory${t}SETTINGSDIR${t}CommonAppDataFolder${t}teldial"
  "Component${t}Programs${t}{0D7E1A52-3C39-4F0B-8E41-6A2B9C5D7E01}${t}INSTALLDIR${t}$attributes${t}${t}teldial.exe"
  # Registry key path (4) and transitive (64), so that a repair evaluates the condition again.
  "Component${t}AutoStart${t}{0D7E1A52-3C39-4F0B-8E41-6A2B9C5D7E03}${t}INSTALLDIR${t}$((attributes + 68))${t}AUTOSTART=\"1\" OR REMOVE~=\"ALL\""
  "Component${t}NoAutoStart${t}{0D7E1A52-3C39-4F0B-8E41-6A2B9C5D7E14}${t}INSTALLDIR${t}$((attributes + 64))${t}AUTOSTART<>\"1\" OR REMOVE~=\"ALL\""
  "FeatureComponents${t}Main${t}NoAutoStart"
  "RemoveRegistry${t}AutoStartOff${t}2${t}Software\\Microsoft\\Windows\\CurrentVersion\\Run${t}teldial dial service${t}NoAutoStart"
  "Shortcut${t}DialServiceShortcut${t}ProgramMenuFolder${t}teldial dial service${t}StartMenu${t}[INSTALLDIR]dial-service-tray.exe"
  "RemoveFile${t}SettingsFile${t}MachineSettings${t}dial-service.ini${t}SETTINGSDIR${t}2"
  "InstallExecuteSequence${t}WriteIniValues${t}${t}5100"
  "InstallExecuteSequence${t}RemoveIniValues${t}${t}3100"
  "InstallExecuteSequence${t}Restore_AUTOSTART${t}NOT AUTOSTART AND SAVED_AUTOSTART${t}"
  "CustomAction${t}Restore_AUTOSTART${t}51${t}AUTOSTART${t}1"
)
for file in teldial.exe dial-service.exe dial-service-tray.exe README.md LICENSE dial-service.ini; do
  rows+=("File${t}$file")
done
# What register.cmd /all writes (root 2: HKLM).
for scheme in "tel${t}URL:tel" "callto${t}URL:callto" "teldial.url${t}URL:teldial phone link"; do
  rows+=("Registry${t}2${t}Software\\Classes\\${scheme%%$t*}\\${t}${t}${scheme#*$t}${t}Links"
         "Registry${t}2${t}Software\\Classes\\${scheme%%$t*}\\${t}URL Protocol${t}${t}Links"
         "Registry${t}2${t}Software\\Classes\\${scheme%%$t*}\\shell\\open\\command${t}${t}$command${t}Links")
done
rows+=(
  "Registry${t}2${t}Software\\teldial\\Capabilities\\${t}ApplicationName${t}teldial${t}Links"
  "Registry${t}2${t}Software\\teldial\\Capabilities\\${t}ApplicationDescription${t}Hands phone links to the dial service on this computer${t}Links"
  "Registry${t}2${t}Software\\teldial\\Capabilities\\URLAssociations${t}tel${t}teldial.url${t}Links"
  "Registry${t}2${t}Software\\teldial\\Capabilities\\URLAssociations${t}callto${t}teldial.url${t}Links"
  "Registry${t}2${t}Software\\RegisteredApplications${t}teldial${t}Software\\teldial\\Capabilities${t}Links"
  "Registry${t}2${t}Software\\Microsoft\\Windows\\CurrentVersion\\Run${t}teldial dial service${t}\"[INSTALLDIR]dial-service-tray.exe\"${t}AutoStart"
)
for setting in PHONE:phone PHONE_ADDRESS:phone-address PHONE_HTTPS:phone-https COUNTRY:country AREA:area \
               OUTSIDE:outside CONFIRM:confirm BLOCK:block; do
  property=${setting%%:*} key=${setting#*:}
  rows+=("IniFile${t}$key${t}dial-service.ini${t}SETTINGSDIR${t}dial-service${t}$key${t}[$property]${t}0${t}Setting_$property")
  rows+=("RegLocator${t}Saved_$property${t}2${t}Software\\teldial\\Settings${t}$key${t}$view"
         "CustomAction${t}Restore_$property${t}51${t}$property${t}[SAVED_$property]"
         "CustomAction${t}Check_$property${t}19${t}${t}$property takes "
         "InstallExecuteSequence${t}Check_$property${t}$property AND NOT REMOVE~=\"ALL\" AND ("
         "InstallUISequence${t}Check_$property${t}$property AND NOT REMOVE~=\"ALL\" AND (")
done
rows+=("MsiLockPermissionsEx${t}SettingsFolder${t}SETTINGSDIR${t}CreateFolder${t}"
       "MsiLockPermissionsEx${t}SettingsFile${t}dial_service.ini${t}File${t}")

for row in "${rows[@]}"; do expect "${row%%$t*}" "${row#*$t}"; done
# A repair with new properties changes the settings only where Windows
# Installer evaluates a component's condition again: every conditional one is transitive.
untransitive=$(rows_of Component | awk -F'\t' 'NR > 3 && $5 != "" && int($4 / 64) % 2 == 0 { print $1 }')
[ -z "$untransitive" ] || { failures=$((failures + 1)); echo "FAIL: conditional but not transitive:" $untransitive; }
# Nothing beyond those: the HKLM values are exactly register.cmd's and the package's own.
links=$(rows_of Registry | awk -F'\t' '$5 == "Links"' | wc -l)
[ "$links" = 14 ] || { failures=$((failures + 1)); echo "FAIL: $links registry rows for the links, not 14"; }

# What Windows Installer sets on the settings folder and file (Wine's
# msiexec ignores the table, and Wine keeps no access list, so msi_test cannot
# read it back): Administrators own them, nothing is inherited from
# %ProgramData% (whose Users may create files there), and no one but SYSTEM
# and Administrators has more than reading and listing (FRFX, 0x1200a9).
while IFS=$t read -r lock _ _ sddl _; do
  case $lock in SettingsFolder | SettingsFile) ;; *) continue ;; esac
  wrong=$(printf '%s\n' "$sddl" | awk '
    !/^O:BAD:PAI?\(/ { print "not owned by Administrators with a protected list" }
    { n = split($0, aces, "(")
      for (i = 2; i <= n; i++) {
        split(aces[i], field, ";"); sub(/\).*/, "", field[6])
        if (field[1] != "A" || (field[6] != "SY" && field[6] != "BA" && field[3] != "FRFX" && field[3] != "0x1200a9"))
          print "(" aces[i]
      } }')
  [ -z "$wrong" ] || { failures=$((failures + 1)); printf 'FAIL: %s lets others write: %s\n' "$lock" "$wrong"; }
done < <(rows_of MsiLockPermissionsEx)
[ "$(rows_of MsiLockPermissionsEx | grep -c -e '^SettingsFolder' -e '^SettingsFile')" = 2 ] ||
  { failures=$((failures + 1)); echo "FAIL: the settings folder and file are not both locked"; }

if [ "$failures" -gt 0 ]; then
  echo "msi_tables_test: $failures failed"
  exit 1
fi
echo "msi_tables_test: all rows found"
