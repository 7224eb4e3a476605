#pragma once
// The settings window's words for a problem of the options: the option
// parser and the settings files name options ("--phone-address", "--area
// 05555"), which suit the command line; a window names its fields ("Address
// is missing"). Pure text work.
#include <stddef.h>

// problem (UTF-8, "line N: " in front allowed) in the window's words into out.
void FieldWording(const char* problem, char* out, size_t size);
