#include "parameters.h"

#include <windows.h>

#include "../object_registry.h"
#include "../program_heap.h"
#include "command_line.h"

struct ParameterState {
  int32_t cursor;  // argument that a negative index fetches next
};

static ParameterState* parameterState;
static ObjectRegistry* processHandles;
static CRITICAL_SECTION processLock;

static void FreeProcessHandle(ObjectRegistry* registry, intptr_t number) {
  HANDLE* handle = static_cast<HANDLE*>(LookUpObject(registry, number));
  if (!handle) return;
  CloseHandle(*handle);
  FreeObject(registry, number);
}

void InitProcessLibrary() {
  parameterState = static_cast<ParameterState*>(ProgramHeapAllocate(sizeof(ParameterState)));
  processHandles = CreateRegistry(sizeof(HANDLE), 4, FreeProcessHandle);
  InitializeCriticalSection(&processLock);
}

static const char16_t* CommandLineText() { return reinterpret_cast<const char16_t*>(GetCommandLineW()); }

int32_t CountParameters() { return CountCommandLineArguments(CommandLineText()); }

String GetParameter(int32_t index) {
  // Without the parameter state (its allocation failed) a private cursor stands in.
  int32_t spareCursor = 0;
  int32_t* cursor = parameterState ? &parameterState->cursor : &spareCursor;
  if (index >= 0) *cursor = index;

  RawToken token;
  FetchCommandLineArgument(CommandLineText(), cursor, &token);
  String argument = AllocateTempString(token.length);
  int32_t length = 0;
  for (int32_t i = 0; i < token.length; i++) {
    if (token.start[i] != u'"') argument[length++] = token.start[i];
  }
  argument[length] = 0;
  return ResizeString(argument, length);
}

String ExecutablePath() {
  wchar_t path[MAX_PATH];
  int32_t length = int32_t(GetModuleFileNameW(static_cast<HMODULE>(programModule), path, MAX_PATH));
  // A path cut short by the buffer is still terminated, but on older systems
  // the count may include the whole buffer; keep what is really there.
  if (length >= MAX_PATH) length = MAX_PATH - 1;
  path[length] = 0;
  const wchar_t* start = path;
  if (length >= 4 && path[0] == L'\\' && path[1] == L'\\' && path[2] == L'?' && path[3] == L'\\') {
    start += 4;
    length -= 4;
  }
  String result = AllocateTempString(length);
  for (int32_t i = 0; i <= length; i++) result[i] = char16_t(start[i]);
  return result;
}
