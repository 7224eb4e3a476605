#pragma once
// One HTTP(S) request per dialled number, made with WinHTTP: the --http or
// --phone request with its headers, body and credentials. A requester holds
// everything it uses (its session, connection, password and buffers), so that
// the HTTP sink's worker and a test call from the settings window can each
// have one at the same time. One thread at a time uses a requester.
//
// The password (from --http-password, the environment or the protected form
// of the settings file) fills "{password}" and answers Basic or Digest; it is
// never logged, nor is the URL, which may hold it.
#include <stddef.h>

#include "service/sinks/sink_options.h"

struct HttpRequester;

// Reads the password and opens WinHTTP; http must outlive the requester. Null
// with a one-line problem (without "dial-service: ") when the password cannot
// be had or WinHTTP cannot be started.
HttpRequester* OpenHttpRequester(const HttpOptions& http, char* problem, size_t size);

// Makes the request for one dialled number (ASCII, "+0-9*#,pw") and waits for
// its answer, bounded by the time-outs. outcome gets the line the log shows,
// without its time stamp: "http +4955501230: 200 OK in 12 ms", or "...: failed
// after 5003 ms: <why> (error N)". True on a 2xx answer.
bool RequestDialledNumber(HttpRequester* requester, const char* dialled, char* outcome, size_t size);

// Lets go of everything and wipes the password; null is allowed.
void CloseHttpRequester(HttpRequester* requester);
