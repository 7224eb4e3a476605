#pragma once
// The dial service's loop, shared by the console program (dial-service.exe)
// and the background program (dial-service-tray.exe): start, serve on one
// thread until --count commands or StopService, end.
#include <stddef.h>

#include "service/number/recent_numbers.h"
#include "service/sinks/number_sinks.h"
#include "service/settings/service_options.h"

// How long the end of a run gives the sink for deliveries under way.
const unsigned long kFinishWaitMs = 5000;

// The usage text for program, 0-terminated in text; its length.
size_t FormatUsage(const char* program, char* text, size_t size);

// What the program around the loop adds, set before StartService.
struct ServiceHooks {
  // The brake has just engaged: a flood of numbers is being refused. Called
  // on the serving thread under the loop's lock, so it must only pass the
  // news on (post a message, say).
  void (*brakeEngaged)();
  // A feature code from a dialer goes to the confirmation window even
  // without --confirm, rather than being refused: someone sits at this
  // program's screen to answer it.
  bool askForFeatureCodes;
  // A number was refused (not for the brake, which says so itself), so that
  // the user hears why: arrivedShown is the text as it came, escaped for
  // showing, reason a phrase. Called like brakeEngaged, on the serving thread
  // (or the one dialling a recent number again) under the loop's lock, for
  // every refusal of a flood too: it must only pass the news on, and decide
  // itself how often to.
  void (*numberRefused)(const char* arrivedShown, const char* reason);
};
void SetServiceHooks(const ServiceHooks& hooks);

// Prepares sink, starts Windows Sockets and takes the port; 0 with *port set,
// otherwise the exit code, the reason given through ReportProblem and nothing
// left running.
int StartService(const ServiceOptions& options, const NumberSink& sink, int* port);
// Serves until --count commands were served (0) or StopService was called (0),
// or the socket failed (1). --count is taken from options; --verbose and
// --any-user from the options in effect, which ReplaceNumberHandling may change.
int ServeDialRequests(const ServiceOptions& options);
// From any thread: ServeDialRequests returns soon after.
void StopService();
// After ServeDialRequests: the sink finishes, the port is given back.
void EndService(unsigned long finishWaitMs);

// The rest may be called from another thread while ServeDialRequests runs.
// The options handed to StartService or ReplaceNumberHandling must stay until
// the service ends or they are replaced.
//
// New dialing rules, sink, --verbose and --any-user take over for the next
// datagram (--port and --count stay as at the start); the old sink finishes
// first. 0, or the new sink's failure (reported through ReportProblem), and
// then the old settings stay.
int ReplaceNumberHandling(const ServiceOptions& options, const NumberSink& sink);
// A number from the background program's "Recent numbers": handled as a
// "dial" datagram would be, without a dialer to answer; a plain number
// without the brake and without asking, a feature code asked about.
void DialAgain(const char* number);
// A number the user took from the screen (UTF-8, as written there): handled
// as a "dial" datagram from a dialer would be (brake, rules, blocks,
// confirmation as set, the log), without a dialer to answer; a feature code is
// always asked about. taken says how, for the log: "dial TEXT (from TAKEN)",
// e.g. "the dial key", "the clipboard", "the Dial window".
void DialFromScreen(const char* text, size_t length, const char* taken);
// The numbers handed to the sink last, newest first: a number asked about
// only once the user chose Call.
void CopyRecentNumbers(RecentNumbers* recent);
