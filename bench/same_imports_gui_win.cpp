// A GUI program that imports the same DLLs as teldial.exe and then ends at
// once: the baseline for what loading those DLLs costs, apart from anything
// teldial does. bench/run prints both programs' imports, so a change to
// teldial's that is not made here shows.
#include <winsock2.h>
#include <windows.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  // Taking the addresses makes the linker import the DLLs without a call.
  const void* volatile imported = reinterpret_cast<const void*>(&WSAStartup);  // ws2_32.dll
  imported = reinterpret_cast<const void*>(&OpenProcessToken);  // advapi32.dll, for the string allocator
  (void)imported;
  ExitProcess(0);
}
