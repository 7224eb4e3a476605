#pragma once
// The window that asks the user before a number is dialled: always on top,
// near the notification area, the number as the page wrote it in large type,
// below it "dials ..." (the number after the dialing rules), for a feature
// code what it does, and the text as it arrived; "Call" (the default, Enter)
// and "Cancel" (Esc). For a feature code Cancel is the default, so that Enter
// never changes what the phone does with calls. Call with no digit to dial
// says so in the window and dials nothing. It closes itself as cancelled after kConfirmationTimeoutMs. One number
// waits at a time: a newer one replaces it. "Call" is taken only half a second
// after a number appears (the button is disabled until then), so that a key
// or click meant for something else does not dial it; after a replacement only
// after 1.5 s, with a line saying that the number changed, as a page may swap
// the number while the user reaches for "Call". The window lives on a thread
// of its own, so the program's other threads never wait for the user.
#include <stddef.h>

const unsigned long kConfirmationTimeoutMs = 20000;

enum ConfirmationOutcome {
  kConfirmationCalled,
  kConfirmationCancelled,
  kConfirmationTimedOut,
  kConfirmationReplaced,  // a newer number took its place
};
// Called on the window's thread once per number asked about; dialled and note
// are the texts given to AskForConfirmation, valid during the call.
typedef void (*ConfirmationDone)(ConfirmationOutcome outcome, const char* dialled, const char* note);

// Starts the window's thread; false when it cannot be started. The window's
// template (confirmation_window.rc) must be in the program's own resources.
bool StartConfirmations(ConfirmationDone done);
// What the window shows of one number; each text UTF-8, copied by
// AskForConfirmation.
struct ConfirmationQuestion {
  const char* written;       // the number as the page wrote it, escaped for showing; "": dialled instead
  const char* dialled;       // what goes to the phone, handed back with the outcome
  const char* featureCode;   // null for a number; for a feature code what it does, "" when unknown
  const char* arrivedShown;  // the text as it arrived, escaped for showing
  const char* note;          // the caller's own text (the number as accepted, say), not shown,
                             // handed back with the outcome
};
// From any thread: shows the window for this number, or puts it in place of
// the one waiting, which is then done as kConfirmationReplaced. Without the
// window's thread (not started, ended, or out of memory) the number is done
// as cancelled at once, on the calling thread.
void AskForConfirmation(const ConfirmationQuestion& asked);
// A waiting number is done as cancelled; the thread ends. Not from the
// ConfirmationDone callback, which runs on that thread.
void EndConfirmations();

// Tests only: the time-out of the windows shown from now on, instead of
// kConfirmationTimeoutMs, so that a test need not wait 20 s.
void SetConfirmationTimeoutForTests(unsigned long timeoutMs);
