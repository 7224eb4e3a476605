# The Windows Installer package beside the zip: teldial-<version>-x64.msi from
# the 64-bit build, -x86.msi from the 32-bit one, built by wixl from
# install/teldial.wxs out of the zip's folder. wixl cannot express component
# conditions, ini lines or removing a file, so msibuild adds them afterwards.
#   cmake --build --preset mingw-x86_64 --target release-msi
find_program(TELDIAL_WIXL wixl)
find_program(TELDIAL_MSIBUILD msibuild)
find_program(TELDIAL_FAKETIME faketime)
find_program(TELDIAL_TOUCH touch)
if(NOT TELDIAL_WIXL OR NOT TELDIAL_MSIBUILD OR NOT TELDIAL_FAKETIME)
  message(FATAL_ERROR "wixl, msibuild and faketime (Debian packages wixl, msitools and faketime) are needed; "
                      "scripts/setup installs them")
endif()

if(TELDIAL_ARCH STREQUAL x86_64)
  set(TELDIAL_MSI_ARCH x64)
  set(TELDIAL_MSI_TEMPLATE "x64$<SEMICOLON>1033")
else()
  set(TELDIAL_MSI_ARCH x86)
  set(TELDIAL_MSI_TEMPLATE "Intel$<SEMICOLON>1033")
endif()
set(TELDIAL_MSI_VERSION "${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}.${PROJECT_VERSION_PATCH}")
set(TELDIAL_PACKAGE_MSI "${PROJECT_BINARY_DIR}/teldial-${TELDIAL_MSI_VERSION}-${TELDIAL_MSI_ARCH}.msi")
# A new product code for each version and architecture, the same for every
# build of it, so that two builds of one source give one package.
set(teldial_upgrade_code 6F1C2B0E-4A51-4C7E-9B8E-2D7F3A5C9E41)
string(UUID teldial_product_code NAMESPACE ${teldial_upgrade_code}
       NAME "product ${TELDIAL_MSI_VERSION} ${TELDIAL_MSI_ARCH}" TYPE SHA1 UPPER)
string(UUID teldial_package_code NAMESPACE ${teldial_upgrade_code}
       NAME "package ${TELDIAL_MSI_VERSION} ${TELDIAL_MSI_ARCH}" TYPE SHA1 UPPER)

# Each property an administrator may give becomes one line of the
# machine-wide settings file, written only when it is given. A component's
# condition must also hold on removal, or Wine's msiexec leaves it installed.
set(teldial_msi_queries
  "UPDATE `Component` SET `Condition` = 'AUTOSTART=\"1\" OR REMOVE~=\"ALL\"' WHERE `Component` = 'AutoStart'"
  "CREATE TABLE `IniFile` (`IniFile` CHAR(72) NOT NULL, `FileName` CHAR(255) NOT NULL LOCALIZABLE, `DirProperty` CHAR(72), `Section` CHAR(96) NOT NULL LOCALIZABLE, `Key` CHAR(128) NOT NULL LOCALIZABLE, `Value` CHAR(255) NOT NULL LOCALIZABLE, `Action` SHORT NOT NULL, `Component_` CHAR(72) NOT NULL PRIMARY KEY `IniFile`)"
  "INSERT INTO `RemoveFile` (`FileKey`, `Component_`, `FileName`, `DirProperty`, `InstallMode`) VALUES ('SettingsFile', 'MachineSettings', 'dial-service.ini', 'SETTINGSDIR', 2)"
  "INSERT INTO `InstallExecuteSequence` (`Action`, `Sequence`) VALUES ('RemoveIniValues', 3100)"
  "INSERT INTO `InstallExecuteSequence` (`Action`, `Sequence`) VALUES ('WriteIniValues', 5100)")
foreach(setting PHONE:phone PHONE_ADDRESS:phone-address PHONE_HTTPS:phone-https COUNTRY:country AREA:area
        OUTSIDE:outside CONFIRM:confirm BLOCK:block)
  string(REPLACE ":" ";" setting "${setting}")
  list(GET setting 0 property)
  list(GET setting 1 key)
  list(APPEND teldial_msi_queries
    "UPDATE `Component` SET `Condition` = '${property} OR REMOVE~=\"ALL\"' WHERE `Component` = 'Setting_${property}'"
    "INSERT INTO `IniFile` (`IniFile`, `FileName`, `DirProperty`, `Section`, `Key`, `Value`, `Action`, `Component_`) VALUES ('${key}', 'dial-service.ini', 'SETTINGSDIR', 'dial-service', '${key}', '[${property}]', 0, 'Setting_${property}')")
endforeach()
# wixl and msibuild write the time of the build into the package (and the
# cabinet the files' times), and wixl a random revision: one fixed time and
# the package code instead make two builds of one source byte-identical.
set(teldial_fixed_time "2000-01-01 00:00:00")
set(teldial_msibuild_arguments)
foreach(query IN LISTS teldial_msi_queries)
  list(APPEND teldial_msibuild_arguments -q "${query}")
endforeach()

add_custom_command(
  OUTPUT "${TELDIAL_PACKAGE_MSI}"
  COMMAND ${CMAKE_COMMAND} -E rm -f "${TELDIAL_PACKAGE_MSI}"
  COMMAND ${CMAKE_COMMAND} -E chdir "${TELDIAL_PACKAGE_DIR}" ${TELDIAL_TOUCH} -d "${teldial_fixed_time}" .
          teldial.exe dial-service.exe dial-service-tray.exe README.md LICENSE
  COMMAND ${CMAKE_COMMAND} -E chdir "${TELDIAL_PACKAGE_DIR}" ${TELDIAL_FAKETIME} -f "${teldial_fixed_time}"
          ${TELDIAL_WIXL} -a ${TELDIAL_MSI_ARCH} -D Arch=${TELDIAL_MSI_ARCH} -D Version=${TELDIAL_MSI_VERSION}
          -D ProductCode=${teldial_product_code} -D PackageCode=${teldial_package_code}
          -o "${TELDIAL_PACKAGE_MSI}" "${PROJECT_SOURCE_DIR}/install/teldial.wxs"
  COMMAND ${TELDIAL_FAKETIME} -f "${teldial_fixed_time}"
          ${TELDIAL_MSIBUILD} "${TELDIAL_PACKAGE_MSI}" ${teldial_msibuild_arguments}
  COMMAND ${TELDIAL_FAKETIME} -f "${teldial_fixed_time}" ${TELDIAL_MSIBUILD} "${TELDIAL_PACKAGE_MSI}"
          -s teldial teldial "${TELDIAL_MSI_TEMPLATE}" "{${teldial_package_code}}"
  DEPENDS "${TELDIAL_PACKAGE_ZIP}" "${PROJECT_SOURCE_DIR}/install/teldial.wxs" "${CMAKE_CURRENT_LIST_FILE}"
  COMMENT "Building teldial-${TELDIAL_MSI_VERSION}-${TELDIAL_MSI_ARCH}.msi"
  VERBATIM)
add_custom_target(release-msi ALL DEPENDS "${TELDIAL_PACKAGE_MSI}")
