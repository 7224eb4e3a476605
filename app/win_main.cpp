#include <windows.h>

#include "program_entry.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE previousInstance, PWSTR commandLine, int showState) {
  ProgramEntry(instance, previousInstance, commandLine, showState);
}
