# Windows executables from Debian's mingw-w64 cross compiler, for the processor
# that the including toolchain file names in TELDIAL_MINGW_TRIPLET (i686 or
# x86_64) and CMAKE_SYSTEM_PROCESSOR. The posix thread variant is the one with
# std::mutex, which the test framework needs.
set(CMAKE_SYSTEM_NAME Windows)

set(CMAKE_C_COMPILER ${TELDIAL_MINGW_TRIPLET}-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER ${TELDIAL_MINGW_TRIPLET}-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER ${TELDIAL_MINGW_TRIPLET}-w64-mingw32-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${TELDIAL_MINGW_TRIPLET}-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

# Every Windows program of the project, tests included, runs under this
# processor's Wine here.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run ${TELDIAL_MINGW_TRIPLET})
