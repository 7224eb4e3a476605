#pragma once
// The dial service's loop, shared by the console program (dial-service.exe)
// and the background program (dial-service-tray.exe): start, serve on one
// thread until --count commands or StopService, end.
#include <stddef.h>

#include "service/sinks/number_sinks.h"
#include "service/settings/service_options.h"

// How long the end of a run gives the sink for deliveries under way.
const unsigned long kFinishWaitMs = 5000;

// The usage text for program, 0-terminated in text; its length.
size_t FormatUsage(const char* program, char* text, size_t size);

// Prepares sink, starts Windows Sockets and takes the port; 0 with *port set,
// otherwise the exit code, the reason given through ReportProblem and nothing
// left running.
int StartService(const ServiceOptions& options, const NumberSink& sink, int* port);
// Serves until --count commands were served (0) or StopService was called (0),
// or the socket failed (1).
int ServeDialRequests(const ServiceOptions& options);
// From any thread: ServeDialRequests returns soon after.
void StopService();
// After ServeDialRequests: the sink finishes, the port is given back.
void EndService(unsigned long finishWaitMs);
