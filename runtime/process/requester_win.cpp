#include "requester.h"

#include <windows.h>

void ReadScreenDpi() {}
void InitRequester() {}
void EndRequester() {}

int32_t ShowMessage(String caption, String text) { return ShowMessage(caption, text, 0, nullptr); }
int32_t ShowMessage(String caption, String text, uint32_t flags) { return ShowMessage(caption, text, flags, nullptr); }
int32_t ShowMessage(String caption, String text, uint32_t flags, void* owner) {
  return MessageBoxW(static_cast<HWND>(owner), reinterpret_cast<LPCWSTR>(text), reinterpret_cast<LPCWSTR>(caption), flags);
}
