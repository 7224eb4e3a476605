# 32-bit Windows executables (PE32, i386).
set(CMAKE_SYSTEM_PROCESSOR x86)
set(TELDIAL_MINGW_TRIPLET i686)
include(${CMAKE_CURRENT_LIST_DIR}/toolchain-mingw.cmake)
