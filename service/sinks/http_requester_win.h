#pragma once
// One HTTP(S) request per dialled number: the --http or --phone request with
// its headers, body and credentials, on a connection kept open between
// clicks; and the request that ends the call. A requester holds everything it uses (its connection, what the
// server asked of the credentials, the password and buffers), so that the HTTP
// sink's worker and a test call from the settings window can each have one at
// the same time. One thread at a time uses a requester.
//
// Each request ends within --http-timeout, connecting included, whatever the
// server sends; redirections are not followed. The password (from
// --http-password, the environment or the protected form of the settings
// file) fills "{password}" and answers Basic or Digest; it is never logged,
// nor is the URL, which may hold it.
#include <windows.h>

#include <stddef.h>

#include "service/sinks/sink_options.h"

struct HttpRequester;

// Reads the password and prepares the request; http must outlive the
// requester. Null with a one-line problem (without "dial-service: ") when the
// password cannot be had.
HttpRequester* OpenHttpRequester(const HttpOptions& http, char* problem, size_t size);

// Makes the request for one dialled number (ASCII, "+0-9*#,pw") and waits for
// its answer. outcome gets the line the log shows, without its time stamp:
// "http +4955501230: 200 OK in 12 ms", "...: not sent after 3 ms: <why>
// (error N)" when nothing reached the server, or "...: no answer within 5000
// ms: the phone may still dial" when the request left. A request that left is
// never made again by itself. True on a 2xx answer.
bool RequestDialledNumber(HttpRequester* requester, const char* dialled, char* outcome, size_t size);

// The requester for ending the phone's current call (http.hangUp), on the
// dial request's credentials; null with the problem when there is none or
// the password cannot be had.
HttpRequester* OpenHangUpRequester(const HttpOptions& http, char* problem, size_t size);

// Ends the current call: with a status path, the phone is asked for the
// call's handle first; a {call} without one names the call the last dial
// request gave its id (last_call_win.h). outcome gets the line the log shows:
// "hang-up: 200 OK in 12 ms", "hang-up: not sent after 3 ms: <why> (error N)",
// "hang-up: no call to end, the phone reports none", ... True on a 2xx answer.
bool RequestHangUp(HttpRequester* requester, char* outcome, size_t size);

enum RequestEnd {
  kRequestNotSent,     // nothing reached the server
  kRequestAnswered,    // whatever the answer said
  kRequestUnanswered,  // it left, and no whole answer came: the phone may still dial
};
RequestEnd LastRequestEnd(const HttpRequester* requester);

// Opens the connection for the next request now, unless one is open; true
// when one is. Bounded by --http-timeout.
bool WarmHttpConnection(HttpRequester* requester);

// Signalled when anything happens on the idle connection: then ask
// HttpConnectionOpen. Null without a connection.
HANDLE HttpConnectionActivity(HttpRequester* requester);

// Whether a connection is open for the next request; closes one that the
// server has closed.
bool HttpConnectionOpen(HttpRequester* requester);

// Whether the password would cross the network readable: plain http, and
// the password in the URL or body, or Basic should the server ask for it.
bool PasswordTravelsReadable(const HttpOptions& http);

// Lets go of everything and wipes the password; null is allowed.
void CloseHttpRequester(HttpRequester* requester);
