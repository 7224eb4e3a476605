#pragma once
// The program: start the runtime, dial or show the usage message, end the
// runtime, exit with code 0. Never returns.
[[noreturn]] void ProgramEntry(void* instance, void* previousInstance, wchar_t* commandLine, int showState);
// The runtime's start and end steps, in their fixed order; the program heap
// must exist before the first and outlive the last.
void StartLibraries();
void EndLibraries();
