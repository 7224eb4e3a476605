#pragma once
// The --exec command for accepted numbers: started with CreateProcessW, never
// through a shell, and watched so that each exit code reaches the log. The
// service never waits on a started process while it serves; it looks at them
// between datagrams, so a command that runs long delays no "pong".
//
// A started process gets no handle of the service and, if it is a console
// program, a console of its own that is not shown.
#include "service/sinks/command_template.h"
#include "service/sinks/number_sinks.h"

// kProgramSink's prepare splits the --exec template and calls this.
// Finds the template's program the way Windows looks for a program (the
// service's own folder, the current folder, the system folders, PATH; ".exe"
// added when it has no extension) and keeps both for RunDialCommand; the
// template must stay alive. False, with the reason on standard error, when the
// program is not found or is a batch file, which Windows would hand to cmd.exe.
bool PrepareDialCommand(const CommandTemplate* command);

// Starts the prepared command for number; logs its process id and command line,
// or why it could not start. Does nothing when no command was prepared.
void RunDialCommand(const char* number);

bool DialCommandsRunning();
// Logs the exit code of every watched process that has ended; never waits.
void CheckDialCommands();
// At the end: waits up to timeoutMs for the watched processes, logs their exit
// codes, and lets go of those that still run.
void FinishDialCommands(unsigned long timeoutMs);
