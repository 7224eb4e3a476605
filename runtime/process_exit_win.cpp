#include "process_exit.h"

#include <windows.h>

void EndProcessWithoutMemory() {
  TerminateProcess(GetCurrentProcess(), 0);
  ExitProcess(0);  // not reached; tells the compiler the call does not return
}
