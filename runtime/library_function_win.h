#pragma once
// A function of a loaded library, looked up by name and given the pointer type
// it is kept as; null when the library or the name is missing. The detour
// through void* is the one conversion from FARPROC that compilers accept
// without a warning.
#include <windows.h>

template <typename Function>
inline Function LibraryFunction(HMODULE library, const char* name) {
  return library ? reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(library, name))) : nullptr;
}
