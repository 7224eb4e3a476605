// The service without --exec or --http: the "number ..." line of the log is
// the whole delivery.
#include "service/sinks/number_sinks.h"

static int PrepareNothing(const SinkOptions&) { return 0; }
static void DeliverNothing(const char*) {}
static bool NeverBusy() { return false; }
static void CheckNothing() {}
static void FinishNothing(unsigned long) {}
static void SayNothing() {}

const NumberSink kLogOnlySink = {"log", PrepareNothing, DeliverNothing, NeverBusy, CheckNothing, FinishNothing,
                                  SayNothing};

static FailureListener failureListener;

void ListenForFailedDeliveries(FailureListener listener) { failureListener = listener; }

void TellFailedDelivery(const char* number, const char* outcome, bool mayStillDial) {
  if (failureListener) failureListener(number, outcome, mayStillDial);
}

const NumberSink& ChooseNumberSink(const SinkOptions& options) {
  if (options.command) return kProgramSink;
  if (options.http.url) return kHttpSink;
  return kLogOnlySink;
}
