# Compiler settings shared by the program and its runtime.

# Code that goes into the shipped programs, compiled for size: the program
# spends its time waiting on the network, never computing, so -Os costs it no
# speed. Each function gets a section of its own, so that the link drops what
# nothing calls (most of the string allocator's interface, for one). In the
# 32-bit build that also needs the DWARF unwind tables gone, which only C++
# exceptions read and which would otherwise keep every function alive; 64-bit
# Windows unwinds through its own tables, so those stay.
function(teldial_small_code target)
  if(WIN32)
    target_compile_options(${target} PRIVATE -Os -ffunction-sections)
    if(TELDIAL_ARCH STREQUAL i686)
      target_compile_options(${target} PRIVATE -fno-asynchronous-unwind-tables -fno-unwind-tables)
    endif()
  endif()
endfunction()

# Product code: small C-style C++ without exceptions, RTTI or global constructors.
function(teldial_product_code target)
  target_compile_options(${target} PRIVATE
    -Wall -Wextra -fno-exceptions -fno-rtti -fno-threadsafe-statics
    "-ffile-prefix-map=${PROJECT_SOURCE_DIR}=.")
  teldial_small_code(${target})
endfunction()

if(WIN32)
  # The processor of the build, in the names the scripts and the release use.
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(TELDIAL_ARCH x86_64)
    set(TELDIAL_PLATFORM win64)
  else()
    set(TELDIAL_ARCH i686)
    set(TELDIAL_PLATFORM win32)
  endif()
  # Byte-identical executables from identical sources: no link time stamp, no
  # debug paths, and every mingw runtime library linked in.
  add_link_options(-static -s -Wl,--no-insert-timestamp)
  add_link_options(-Wl,--gc-sections)
  add_compile_definitions(UNICODE _UNICODE WIN32_LEAN_AND_MEAN _WIN32_WINNT=0x0601)
endif()

# Windows GUI program started through wWinMain.
function(teldial_gui_program target)
  target_link_options(${target} PRIVATE -mwindows -municode)
endfunction()
