# The Windows Installer package beside the zip: teldial-<version>-x64.msi from
# the 64-bit build, -x86.msi from the 32-bit one, built by wixl from
# install/teldial.wxs out of the zip's folder. wixl cannot express component
# conditions, ini lines, removing a file, permissions or the properties'
# checks, so msibuild adds them afterwards (the checks in msi_checks.cmake).
#   cmake --build --preset mingw-x86_64 --target release-msi
find_program(TELDIAL_WIXL wixl)
find_program(TELDIAL_MSIBUILD msibuild)
find_program(TELDIAL_MSIINFO msiinfo)
find_program(TELDIAL_FAKETIME faketime)
find_program(TELDIAL_TOUCH touch)
if(NOT TELDIAL_WIXL OR NOT TELDIAL_MSIBUILD OR NOT TELDIAL_MSIINFO OR NOT TELDIAL_FAKETIME)
  message(FATAL_ERROR "wixl, msibuild, msiinfo and faketime (Debian packages wixl, msitools and faketime) are needed; "
                      "scripts/setup installs them")
endif()

if(TELDIAL_ARCH STREQUAL x86_64)
  set(TELDIAL_MSI_ARCH x64)
  set(TELDIAL_MSI_TEMPLATE "x64$<SEMICOLON>1033")
  set(teldial_registry_view 16)  # the 64-bit view, where the package writes
  set(teldial_component_64bit 256)
else()
  set(TELDIAL_MSI_ARCH x86)
  set(TELDIAL_MSI_TEMPLATE "Intel$<SEMICOLON>1033")
  set(teldial_registry_view 0)
  set(teldial_component_64bit 0)
endif()
set(TELDIAL_MSI_VERSION "${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}.${PROJECT_VERSION_PATCH}")
set(TELDIAL_PACKAGE_MSI "${PROJECT_BINARY_DIR}/teldial-${TELDIAL_MSI_VERSION}-${TELDIAL_MSI_ARCH}.msi")
set(teldial_upgrade_code 6F1C2B0E-4A51-4C7E-9B8E-2D7F3A5C9E41)

# Each property an administrator may give becomes one line of the
# machine-wide settings file, written only when it is given. A component's
# condition must also hold on removal, or Wine's msiexec leaves it installed.
# The value is also kept in the registry: the next version's package reads it
# back (AppSearch, before the old version is removed) into SAVED_<PROPERTY>,
# which stands in for a property not given again.
#
# A repair with new properties (msiexec /i teldial.msi REINSTALL=ALL
# AUTOSTART=0 ...) changes the settings: the conditional components are
# transitive (msidbComponentAttributesTransitive), so that Windows Installer
# evaluates their conditions again on a reinstall, installing a setting given
# only now and removing one whose condition no longer holds; without the bit
# a component stays as the first installation left it. A value given anew is
# written again (REINSTALLMODE's default omus rewrites the machine's registry
# values, and a reinstalled component's ini lines are written again). Wine's
# msiexec installs a component whose condition has come true but never
# removes one whose condition has gone false, so the logon start is also
# taken away by NoAutoStart, a component without files that is installed
# whenever AUTOSTART is not 1 and removes the Run value (RemoveRegistry).
math(EXPR teldial_raw_value "2 + ${teldial_registry_view}")
# msidbComponentAttributesRegistryKeyPath, Transitive, and 64-bit where it is.
math(EXPR teldial_conditional_component "4 + 64 + ${teldial_component_64bit}")
math(EXPR teldial_no_autostart_component "64 + ${teldial_component_64bit}")
set(teldial_secure_properties "WIX_DOWNGRADE_DETECTED$<SEMICOLON>WIX_UPGRADE_DETECTED")
set(teldial_msi_queries
  "UPDATE `Component` SET `Condition` = 'AUTOSTART=\"1\" OR REMOVE~=\"ALL\"', `Attributes` = ${teldial_conditional_component} WHERE `Component` = 'AutoStart'"
  "INSERT INTO `Component` (`Component`, `ComponentId`, `Directory_`, `Attributes`, `Condition`) VALUES ('NoAutoStart', '{0D7E1A52-3C39-4F0B-8E41-6A2B9C5D7E14}', 'INSTALLDIR', ${teldial_no_autostart_component}, 'AUTOSTART<>\"1\" OR REMOVE~=\"ALL\"')"
  "INSERT INTO `FeatureComponents` (`Feature_`, `Component_`) VALUES ('Main', 'NoAutoStart')"
  "CREATE TABLE `RemoveRegistry` (`RemoveRegistry` CHAR(72) NOT NULL, `Root` SHORT NOT NULL, `Key` CHAR(255) NOT NULL LOCALIZABLE, `Name` CHAR(255) LOCALIZABLE, `Component_` CHAR(72) NOT NULL PRIMARY KEY `RemoveRegistry`)"
  "INSERT INTO `RemoveRegistry` (`RemoveRegistry`, `Root`, `Key`, `Name`, `Component_`) VALUES ('AutoStartOff', 2, 'Software\\Microsoft\\Windows\\CurrentVersion\\Run', 'teldial dial service', 'NoAutoStart')"
  "CREATE TABLE `IniFile` (`IniFile` CHAR(72) NOT NULL, `FileName` CHAR(255) NOT NULL LOCALIZABLE, `DirProperty` CHAR(72), `Section` CHAR(96) NOT NULL LOCALIZABLE, `Key` CHAR(128) NOT NULL LOCALIZABLE, `Value` CHAR(255) NOT NULL LOCALIZABLE, `Action` SHORT NOT NULL, `Component_` CHAR(72) NOT NULL PRIMARY KEY `IniFile`)"
  "INSERT INTO `RemoveFile` (`FileKey`, `Component_`, `FileName`, `DirProperty`, `InstallMode`) VALUES ('SettingsFile', 'MachineSettings', 'dial-service.ini', 'SETTINGSDIR', 2)"
  "INSERT INTO `InstallExecuteSequence` (`Action`, `Sequence`) VALUES ('RemoveIniValues', 3100)"
  "INSERT INTO `InstallExecuteSequence` (`Action`, `Sequence`) VALUES ('WriteIniValues', 5100)"
  "INSERT INTO `InstallExecuteSequence` (`Action`, `Sequence`) VALUES ('AppSearch', 50)"
  "INSERT INTO `InstallUISequence` (`Action`, `Sequence`) VALUES ('AppSearch', 50)")
# The settings folder and file: only SYSTEM and Administrators may change
# them, every user may read them, and nothing of %ProgramData%'s "Users may
# create files" reaches them (a protected list). Administrators own them. The
# lines are written into the file after it is installed; were it made anew,
# it would inherit the same list from the folder.
set(teldial_settings_folder_sddl "O:BAD:PAI(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;FRFX;;;BU)")
set(teldial_settings_file_sddl "O:BAD:PAI(A;;FA;;;SY)(A;;FA;;;BA)(A;;FRFX;;;BU)")
# A semicolon would split the list of queries.
string(REPLACE ";" "$<SEMICOLON>" teldial_settings_folder_sddl "${teldial_settings_folder_sddl}")
string(REPLACE ";" "$<SEMICOLON>" teldial_settings_file_sddl "${teldial_settings_file_sddl}")
list(APPEND teldial_msi_queries
  "CREATE TABLE `MsiLockPermissionsEx` (`MsiLockPermissionsEx` CHAR(72) NOT NULL, `LockObject` CHAR(72) NOT NULL, `Table` CHAR(32) NOT NULL, `SDDLText` LONGCHAR NOT NULL, `Condition` CHAR(255) PRIMARY KEY `MsiLockPermissionsEx`)"
  "INSERT INTO `MsiLockPermissionsEx` (`MsiLockPermissionsEx`, `LockObject`, `Table`, `SDDLText`) VALUES ('SettingsFolder', 'SETTINGSDIR', 'CreateFolder', '${teldial_settings_folder_sddl}')"
  "INSERT INTO `MsiLockPermissionsEx` (`MsiLockPermissionsEx`, `LockObject`, `Table`, `SDDLText`) VALUES ('SettingsFile', 'dial_service.ini', 'File', '${teldial_settings_file_sddl}')")
set(teldial_sequence 51)
foreach(setting PHONE:phone PHONE_ADDRESS:phone-address PHONE_HTTPS:phone-https COUNTRY:country AREA:area
        OUTSIDE:outside CONFIRM:confirm BLOCK:block)
  string(REPLACE ":" ";" setting "${setting}")
  list(GET setting 0 property)
  list(GET setting 1 key)
  string(APPEND teldial_secure_properties "$<SEMICOLON>${property}")
  list(APPEND teldial_msi_queries
    "UPDATE `Component` SET `Condition` = '${property} OR REMOVE~=\"ALL\"', `Attributes` = ${teldial_conditional_component} WHERE `Component` = 'Setting_${property}'"
    "INSERT INTO `IniFile` (`IniFile`, `FileName`, `DirProperty`, `Section`, `Key`, `Value`, `Action`, `Component_`) VALUES ('${key}', 'dial-service.ini', 'SETTINGSDIR', 'dial-service', '${key}', '[${property}]', 0, 'Setting_${property}')"
    "INSERT INTO `AppSearch` (`Property`, `Signature_`) VALUES ('SAVED_${property}', 'Saved_${property}')"
    "INSERT INTO `RegLocator` (`Signature_`, `Root`, `Key`, `Name`, `Type`) VALUES ('Saved_${property}', 2, 'Software\\teldial\\Settings', '${key}', ${teldial_raw_value})"
    "INSERT INTO `CustomAction` (`Action`, `Type`, `Source`, `Target`) VALUES ('Restore_${property}', 51, '${property}', '[SAVED_${property}]')"
    "INSERT INTO `InstallExecuteSequence` (`Action`, `Condition`, `Sequence`) VALUES ('Restore_${property}', 'NOT ${property} AND SAVED_${property}', ${teldial_sequence})"
    "INSERT INTO `InstallUISequence` (`Action`, `Condition`, `Sequence`) VALUES ('Restore_${property}', 'NOT ${property} AND SAVED_${property}', ${teldial_sequence})")
  math(EXPR teldial_sequence "${teldial_sequence} + 1")
endforeach()
# AUTOSTART=1 kept the same way, read from the logon start it made.
string(APPEND teldial_secure_properties "$<SEMICOLON>AUTOSTART")
list(APPEND teldial_msi_queries
  "INSERT INTO `AppSearch` (`Property`, `Signature_`) VALUES ('SAVED_AUTOSTART', 'Saved_AUTOSTART')"
  "INSERT INTO `RegLocator` (`Signature_`, `Root`, `Key`, `Name`, `Type`) VALUES ('Saved_AUTOSTART', 2, 'Software\\Microsoft\\Windows\\CurrentVersion\\Run', 'teldial dial service', ${teldial_raw_value})"
  "INSERT INTO `CustomAction` (`Action`, `Type`, `Source`, `Target`) VALUES ('Restore_AUTOSTART', 51, 'AUTOSTART', '1')"
  "INSERT INTO `InstallExecuteSequence` (`Action`, `Condition`, `Sequence`) VALUES ('Restore_AUTOSTART', 'NOT AUTOSTART AND SAVED_AUTOSTART', ${teldial_sequence})"
  "INSERT INTO `InstallUISequence` (`Action`, `Condition`, `Sequence`) VALUES ('Restore_AUTOSTART', 'NOT AUTOSTART AND SAVED_AUTOSTART', ${teldial_sequence})")
# Properties that reach the installing service from a user's command line.
list(APPEND teldial_msi_queries
  "UPDATE `Property` SET `Value` = '${teldial_secure_properties}' WHERE `Property` = 'SecureCustomProperties'")
set(teldial_msibuild_arguments)
foreach(query IN LISTS teldial_msi_queries)
  list(APPEND teldial_msibuild_arguments -q "${query}")
endforeach()

# wixl and msibuild write the time of the build into the package (and the
# cabinet the files' times), and wixl a random revision: one fixed time and
# the package code instead make two builds of one source byte-identical.
set(teldial_fixed_time "2000-01-01 00:00:00")
# The machine-wide settings file as the package installs it: empty.
set(teldial_empty_settings "${PROJECT_BINARY_DIR}/msi/dial-service.ini")
file(WRITE "${teldial_empty_settings}" "")
# wixl takes sources only relative to the folder it runs in.
file(RELATIVE_PATH teldial_empty_settings_source "${TELDIAL_PACKAGE_DIR}" "${teldial_empty_settings}")

# The package of version at output. A new product code for each version and
# architecture, the same for every build of it, so that two builds of one
# source give one package.
function(teldial_add_msi version output)
  string(UUID product_code NAMESPACE ${teldial_upgrade_code}
         NAME "product ${version} ${TELDIAL_MSI_ARCH}" TYPE SHA1 UPPER)
  string(UUID package_code NAMESPACE ${teldial_upgrade_code}
         NAME "package ${version} ${TELDIAL_MSI_ARCH}" TYPE SHA1 UPPER)
  get_filename_component(name "${output}" NAME)
  add_custom_command(
    OUTPUT "${output}"
    COMMAND ${CMAKE_COMMAND} -E rm -f "${output}"
    COMMAND ${CMAKE_COMMAND} -E chdir "${TELDIAL_PACKAGE_DIR}" ${TELDIAL_TOUCH} -d "${teldial_fixed_time}" .
            teldial.exe dial-service.exe dial-service-tray.exe README.md LICENSE ${TELDIAL_GUIDE_FILES}
            "${teldial_empty_settings}"
    COMMAND ${CMAKE_COMMAND} -E chdir "${TELDIAL_PACKAGE_DIR}" ${TELDIAL_FAKETIME} -f "${teldial_fixed_time}"
            ${TELDIAL_WIXL} -a ${TELDIAL_MSI_ARCH} -D Arch=${TELDIAL_MSI_ARCH} -D Version=${version}
            -D ProductCode=${product_code} -D PackageCode=${package_code} -D SettingsFile=${teldial_empty_settings_source}
            -o "${output}" "${PROJECT_SOURCE_DIR}/install/teldial.wxs"
    COMMAND ${TELDIAL_FAKETIME} -f "${teldial_fixed_time}" ${TELDIAL_MSIBUILD} "${output}" ${teldial_msibuild_arguments}
    COMMAND ${TELDIAL_FAKETIME} -f "${teldial_fixed_time}" ${CMAKE_COMMAND} -D "PACKAGE=${output}"
            -D "MSIBUILD=${TELDIAL_MSIBUILD}" -D "MSIINFO=${TELDIAL_MSIINFO}" -D "WORK=${PROJECT_BINARY_DIR}/msi/${name}"
            -P "${PROJECT_SOURCE_DIR}/cmake/msi_checks.cmake"
    COMMAND ${TELDIAL_FAKETIME} -f "${teldial_fixed_time}" ${TELDIAL_MSIBUILD} "${output}"
            -s teldial teldial "${TELDIAL_MSI_TEMPLATE}" "{${package_code}}"
    DEPENDS "${TELDIAL_PACKAGE_ZIP}" "${PROJECT_SOURCE_DIR}/install/teldial.wxs" "${CMAKE_CURRENT_FUNCTION_LIST_FILE}"
            "${PROJECT_SOURCE_DIR}/cmake/msi_checks.cmake"
    COMMENT "Building ${name}"
    VERBATIM)
endfunction()

teldial_add_msi(${TELDIAL_MSI_VERSION} "${TELDIAL_PACKAGE_MSI}")
# The same package as an older version, which the tests upgrade from.
set(TELDIAL_EARLIER_MSI "${PROJECT_BINARY_DIR}/tests/teldial-0.0.1-${TELDIAL_MSI_ARCH}-earlier.msi")
teldial_add_msi(0.0.1 "${TELDIAL_EARLIER_MSI}")
add_custom_target(release-msi ALL DEPENDS "${TELDIAL_PACKAGE_MSI}" "${TELDIAL_EARLIER_MSI}")
