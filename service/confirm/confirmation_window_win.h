#pragma once
// The window that asks the user before a number is dialled: always on top,
// near the notification area, the number as it will be dialled in large type
// and the text as it arrived below; "Call" (the default, Enter) and "Cancel"
// (Esc). It closes itself as cancelled after kConfirmationTimeoutMs. One number
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
// From any thread: shows the window for this number (UTF-8, copied), or puts
// it in place of the one waiting, which is then done as kConfirmationReplaced.
// arrivedShown: the text as it arrived, already escaped for showing; note: the
// caller's own text (the number as it was accepted, say), not shown, handed
// back with the outcome. Without the window's thread (not started, ended, or
// out of memory) the number is done as cancelled at once, on the calling thread.
void AskForConfirmation(const char* dialled, const char* arrivedShown, const char* note);
// A waiting number is done as cancelled; the thread ends. Not from the
// ConfirmationDone callback, which runs on that thread.
void EndConfirmations();

// Tests only: the time-out of the windows shown from now on, instead of
// kConfirmationTimeoutMs, so that a test need not wait 20 s.
void SetConfirmationTimeoutForTests(unsigned long timeoutMs);
