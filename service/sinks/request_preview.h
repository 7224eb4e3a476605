#pragma once
// What --show-request prints for one dialled number, made from the same
// options the HTTP sink sends with. Pure text work.
#include <stddef.h>

#include "service/sinks/sink_options.h"

// The method and the whole URL (scheme, host, port, path and query), every
// header line, how credentials are given, and for POST a blank line and the
// body; every password shown as "***", and each --http-header's value too
// (it may be a token) unless showSecrets. One line each, "\n"-ended, UTF-8.
// Returns the length written before the 0, or SIZE_MAX when the text and its 0
// would not fit size bytes (out then holds a cut-short text when size > 0).
size_t FormatHttpRequestPreview(const HttpOptions& http, const char* dialled, bool showSecrets, char* out,
                                size_t size);
