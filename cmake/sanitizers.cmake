# The native build of the portable core: everything, the string allocator and
# the test framework included, runs under AddressSanitizer and UBSan, and any
# report ends the run. The core is also instrumented for libFuzzer's coverage
# feedback, so the fuzz targets and the unit tests exercise the same objects.
if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
  message(FATAL_ERROR "the native core needs clang (libFuzzer): cmake --preset native-sanitize")
endif()

set(TELDIAL_SANITIZERS -fsanitize=address,undefined -fno-sanitize-recover=all)
add_compile_options(${TELDIAL_SANITIZERS} -fno-omit-frame-pointer -g)
add_link_options(${TELDIAL_SANITIZERS})

# mimalloc carves strings out of its own pages, which AddressSanitizer cannot see
# into. With MI_ASAN, made byte-precise by mimalloc_asan_precise.h (see
# mimalloc.cmake), everything outside the bytes a caller asked for is poisoned:
# running past a string's 2n + 6 bytes, or touching a released string, is caught.
set(MI_ASAN ON CACHE BOOL "" FORCE)

# The product code itself also gets libFuzzer's coverage feedback (without its
# main()) and checks beyond undefined behaviour: an integer silently truncated
# or wrapped on its way into a length or a code unit is a bug here too.
function(teldial_hardened_core target)
  target_compile_options(${target} PRIVATE -fsanitize=fuzzer-no-link
    -fsanitize=implicit-conversion,unsigned-integer-overflow,local-bounds)
endfunction()

# A libFuzzer executable from one target source plus the shared fuzz support.
function(teldial_fuzz_target name)
  add_executable(${name} ${ARGN})
  target_compile_options(${name} PRIVATE -fsanitize=fuzzer)
  target_link_options(${name} PRIVATE -fsanitize=fuzzer)
  target_link_libraries(${name} PRIVATE teldial_fuzz_support)
endfunction()
