# The release package: teldial-<version>-win32.zip (or -win64.zip from the 64-bit
# build) with the program, the reference dial service (console and background),
# the link registration scripts, the README with the guides and pictures it
# links to (docs/), and the licence.
#   cmake --build --preset mingw-i686 --target release-zip
set(TELDIAL_PACKAGE_NAME "teldial-${PROJECT_VERSION}-${TELDIAL_PLATFORM}")
set(TELDIAL_PACKAGE_DIR "${PROJECT_BINARY_DIR}/package/${TELDIAL_PACKAGE_NAME}")
set(TELDIAL_PACKAGE_ZIP "${PROJECT_BINARY_DIR}/${TELDIAL_PACKAGE_NAME}.zip")
# The README links to these; install/teldial.wxs names the same files.
set(TELDIAL_GUIDES admin.md command-line.md developer.md phones.md confirmation-window.png dial-window.png
    settings-window.png tray-menu.png tray-tooltip.png usage-box.png)
list(TRANSFORM TELDIAL_GUIDES PREPEND "${PROJECT_SOURCE_DIR}/docs/" OUTPUT_VARIABLE teldial_guide_sources)
list(TRANSFORM TELDIAL_GUIDES PREPEND "docs/" OUTPUT_VARIABLE TELDIAL_GUIDE_FILES)

add_custom_command(
  OUTPUT "${TELDIAL_PACKAGE_ZIP}"
  COMMAND ${CMAKE_COMMAND} -E rm -rf "${PROJECT_BINARY_DIR}/package" "${TELDIAL_PACKAGE_ZIP}"
  COMMAND ${CMAKE_COMMAND} -E make_directory "${TELDIAL_PACKAGE_DIR}"
  COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:teldial> $<TARGET_FILE:dial-service> $<TARGET_FILE:dial-service-tray>
          "${PROJECT_SOURCE_DIR}/install/register.cmd" "${PROJECT_SOURCE_DIR}/install/unregister.cmd"
          "${PROJECT_SOURCE_DIR}/README.md" "${PROJECT_SOURCE_DIR}/LICENSE"
          "${TELDIAL_PACKAGE_DIR}"
  COMMAND ${CMAKE_COMMAND} -E make_directory "${TELDIAL_PACKAGE_DIR}/docs"
  COMMAND ${CMAKE_COMMAND} -E copy ${teldial_guide_sources} "${TELDIAL_PACKAGE_DIR}/docs"
  # One folder in the zip, so unpacking gives teldial-<version>-win32\teldial.exe.
  COMMAND ${CMAKE_COMMAND} -E chdir "${PROJECT_BINARY_DIR}/package"
          ${CMAKE_COMMAND} -E tar cf "${TELDIAL_PACKAGE_ZIP}" --format=zip "${TELDIAL_PACKAGE_NAME}"
  DEPENDS teldial dial-service dial-service-tray
          "${PROJECT_SOURCE_DIR}/install/register.cmd" "${PROJECT_SOURCE_DIR}/install/unregister.cmd"
          "${PROJECT_SOURCE_DIR}/README.md" "${PROJECT_SOURCE_DIR}/LICENSE" ${teldial_guide_sources}
  COMMENT "Packing ${TELDIAL_PACKAGE_NAME}.zip"
  VERBATIM)
add_custom_target(release-zip ALL DEPENDS "${TELDIAL_PACKAGE_ZIP}")
