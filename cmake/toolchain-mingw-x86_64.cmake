# 64-bit Windows executables (PE32+, AMD64).
set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(TELDIAL_MINGW_TRIPLET x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/toolchain-mingw.cmake)
