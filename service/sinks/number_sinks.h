#pragma once
// What happens to an accepted number: one of a few kinds, each in a file of its
// own, behind the same five operations, so that the service loop knows none of
// them. The loop logs "number ..." and answers the dialer before it calls
// deliver, so no kind ever makes a dialer wait.
#include "service/sinks/sink_options.h"

struct NumberSink {
  const char* name;
  // Reads its options and takes what it needs (a program path, a connection);
  // 0 when ready, otherwise the exit code, with one line on standard error
  // saying why (2 for a bad option, 1 for anything else).
  int (*prepare)(const SinkOptions& options);
  // Hands over one number (ASCII, only "+0-9*#,pw"); never blocks on the far side.
  void (*deliver)(const char* number);
  // Whether deliveries are still under way that check should look at.
  bool (*busy)();
  // Called between datagrams, at least every 100 ms while busy; never waits.
  void (*check)();
  // At the end: gives deliveries under way up to timeoutMs, logs their outcome,
  // and lets go of everything prepare took.
  void (*finish)(unsigned long timeoutMs);
  // Once the service has said where it listens (and after settings replaced
  // the sink): logs what the user should know about it.
  void (*started)();
};

extern const NumberSink kLogOnlySink;  // the log line is all
extern const NumberSink kProgramSink;  // --exec: starts a program (command_runner_win.cpp)
extern const NumberSink kHttpSink;     // --http: one HTTP request (http_sink_win.cpp)

const NumberSink& ChooseNumberSink(const SinkOptions& options);

// A program that shows what went wrong (the tray) hears of each delivery that
// failed, after its line was logged, on the sink's own thread: the number,
// that line, and whether the phone may still dial it. Null stops it.
typedef void (*FailureListener)(const char* number, const char* outcome, bool mayStillDial);
void ListenForFailedDeliveries(FailureListener listener);
void TellFailedDelivery(const char* number, const char* outcome, bool mayStillDial);
