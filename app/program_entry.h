#pragma once
// The program: start the runtime, dial or show the usage message, end the
// runtime, exit with code 0. Never returns.
[[noreturn]] void ProgramEntry(void* instance, void* previousInstance, wchar_t* commandLine, int showState);
void EndLibraries();
