// The smallest GUI program of the toolchain: the standard start-up code, then
// ExitProcess(0). The baseline for what starting any process costs.
#include <windows.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) { ExitProcess(0); }
