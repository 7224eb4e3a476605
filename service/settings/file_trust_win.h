#pragma once
// file_trust.h's rule applied to a file or folder open at a handle (with
// READ_CONTROL), so that what is judged is what is then read.
#include <windows.h>

#include <stddef.h>

// False with the reason in plain words, "owned by DESKTOP\eve", "BUILTIN\Users
// may write to it", "Everyone may write to its folder", ... (UTF-8).
bool IsAdministratorsOnly(HANDLE handle, bool folder, char* reason, size_t size);
