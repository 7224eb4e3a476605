#include "window_library_win.h"

#include "../library_function_win.h"

static WindowFunctions functions;
static bool bound;
static INIT_ONCE binding = INIT_ONCE_STATIC_INIT;

// Stores the address of `name` in `slot`; false when either is missing.
template <typename Function>
static bool Bind(HMODULE library, const char* name, Function* slot) {
  *slot = LibraryFunction<Function>(library, name);
  return *slot != nullptr;
}

// Only the system folder is searched: the program's own folder may be one the
// user downloads into, where a planted user32.dll would otherwise be loaded.
static HMODULE LoadSystemLibrary(const wchar_t* name) {
  return LoadLibraryExW(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
}

static BOOL CALLBACK BindAll(INIT_ONCE*, void*, void**) {
  HMODULE user = LoadSystemLibrary(L"user32.dll");
  HMODULE gdi = LoadSystemLibrary(L"gdi32.dll");
  HMODULE controls = LoadSystemLibrary(L"comctl32.dll");
  HMODULE com = LoadSystemLibrary(L"ole32.dll");
  WindowFunctions* f = &functions;
  bound = Bind(user, "MessageBoxW", &f->MessageBoxW) & Bind(user, "EnumWindows", &f->EnumWindows) &
          Bind(user, "GetForegroundWindow", &f->GetForegroundWindow) &
          Bind(user, "GetWindowThreadProcessId", &f->GetWindowThreadProcessId) &
          Bind(user, "GetWindowLongW", &f->GetWindowLongW) & Bind(user, "IsWindowVisible", &f->IsWindowVisible) &
          Bind(user, "IsWindowEnabled", &f->IsWindowEnabled) & Bind(user, "EnableWindow", &f->EnableWindow) &
          Bind(user, "SetWindowPos", &f->SetWindowPos) & Bind(user, "GetDC", &f->GetDC) &
          Bind(user, "ReleaseDC", &f->ReleaseDC) & Bind(gdi, "GetDeviceCaps", &f->GetDeviceCaps) &
          Bind(controls, "InitCommonControlsEx", &f->InitCommonControlsEx) &
          Bind(com, "CoInitialize", &f->CoInitialize);
  return TRUE;
}

const WindowFunctions* WindowLibrary() {
  InitOnceExecuteOnce(&binding, BindAll, nullptr, nullptr);
  return bound ? &functions : nullptr;
}
