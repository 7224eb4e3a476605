#include "program_entry.h"

#include <locale.h>
#include <windows.h>

#include "../runtime/network/network.h"
#include "../runtime/process/memory_blocks.h"
#include "../runtime/process/parameters.h"
#include "../runtime/process/requester.h"
#include "../runtime/program_heap.h"
#include "../runtime/strings/managed_strings.h"
#include "../runtime/strings/string_functions.h"
#include "dial_client.h"

// Never released: ending the process reclaims them.
static String programName;
static String usageText;
static String numberArgument;

// Stands where the runtime has an end step with nothing to do in this program.
static void EmptyEndStep() {}

// The registration of container operations, and the release of a further object
// registry at the end, belong to parts of the runtime that this program does not
// contain.
void StartLibraries() {
  setlocale(LC_ALL, "");
  setlocale(LC_NUMERIC, "C");
  InitStrings();
  InitMemoryBlocks();
  NetworkStartup();
  InitProcessLibrary();
  ReadScreenDpi();
  InitRequester();
}

void EndLibraries() {
  EndRequester();
  NetworkShutdown();
  EmptyEndStep();
  EndMemoryBlocks();
}

static void ShowUsage() {
  String path = ExecutablePath();
  AssignString(&programName, FilePart(path, kFilePartWithoutExtension));
  FreeTempString(path);

  AssignString(&usageText, LITERAL(u"\n"));
  String line = ConcatStrings(usageText, LITERAL(u"Usage: "));
  line = AppendString(line, programName);
  line = AppendString(line, LITERAL(u" phonenumber\n"));
  AssignString(&usageText, line);
  AssignString(&usageText, ConcatStrings(usageText, LITERAL(u"\n")));
  AssignString(&usageText, ConcatStrings(usageText, LITERAL(u"Examples: \n")));
  AssignString(&usageText, ConcatStrings(usageText, LITERAL(u"\n")));
  line = ConcatStrings(usageText, programName);
  AssignString(&usageText, AppendString(line, LITERAL(u" 0555501230\n")));
  line = ConcatStrings(usageText, programName);
  AssignString(&usageText, AppendString(line, LITERAL(u" \"+49 5555 0123-0\"")));

  ShowMessage(LITERAL(u"Usage"), usageText);
}

void ProgramEntry(void*, void*, wchar_t*, int) {
  programName = nullptr;
  usageText = nullptr;
  numberArgument = nullptr;
  programHeap = nullptr;
  programModule = GetModuleHandleW(nullptr);
  programHeap = HeapCreate(0, 4096, 0);

  StartLibraries();

  if (CountParameters() == 1) {
    AssignString(&numberArgument, GetParameter(0));
    DialNumber(numberArgument);
  } else {
    ShowUsage();
  }

  EndLibraries();
  EmptyEndStep();
  if (programHeap) HeapDestroy(programHeap);
  ExitProcess(0);
}
