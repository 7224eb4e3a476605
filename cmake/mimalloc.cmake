# The string allocator, built as a static library from a mimalloc v2 source
# folder with the project's own compiler. scripts/setup unpacks Debian's source
# package into .deps/mimalloc; point TELDIAL_MIMALLOC_SOURCE_DIR elsewhere to use
# another v2 tree.
set(TELDIAL_MIMALLOC_SOURCE_DIR "${PROJECT_SOURCE_DIR}/.deps/mimalloc"
    CACHE PATH "mimalloc v2 source folder")
if(NOT EXISTS "${TELDIAL_MIMALLOC_SOURCE_DIR}/include/mimalloc.h")
  message(FATAL_ERROR "no mimalloc source in ${TELDIAL_MIMALLOC_SOURCE_DIR}: run scripts/setup "
                      "or set TELDIAL_MIMALLOC_SOURCE_DIR")
endif()

set(MI_BUILD_SHARED OFF CACHE BOOL "" FORCE)
set(MI_BUILD_STATIC ON CACHE BOOL "" FORCE)
set(MI_BUILD_OBJECT OFF CACHE BOOL "" FORCE)
set(MI_BUILD_TESTS OFF CACHE BOOL "" FORCE)
set(MI_OVERRIDE OFF CACHE BOOL "" FORCE)
set(MI_WIN_REDIRECT OFF CACHE BOOL "" FORCE)
add_subdirectory("${TELDIAL_MIMALLOC_SOURCE_DIR}" "${PROJECT_BINARY_DIR}/mimalloc" EXCLUDE_FROM_ALL SYSTEM)
# The path of the source tree must not end up in the executable.
target_compile_options(mimalloc-static PRIVATE -w "-ffile-prefix-map=${TELDIAL_MIMALLOC_SOURCE_DIR}=mimalloc")
teldial_small_code(mimalloc-static)
if(TELDIAL_NATIVE_CORE)
  target_compile_options(mimalloc-static PRIVATE
    -include "${CMAKE_CURRENT_LIST_DIR}/mimalloc_asan_precise.h")
endif()
