// Starts the runtime the way the program's entry routine does, before any test
// runs, and ends it after the last one.
#include <gtest/gtest.h>
#include <windows.h>

#include "runtime/network/network.h"
#include "runtime/process/memory_blocks.h"
#include "runtime/process/parameters.h"
#include "runtime/process/requester.h"
#include "runtime/program_heap.h"
#include "runtime/strings/managed_strings.h"

namespace {
class RuntimeEnvironment : public testing::Environment {
 public:
  void SetUp() override {
    programModule = GetModuleHandleW(nullptr);
    programHeap = HeapCreate(0, 4096, 0);
    InitStrings();
    InitMemoryBlocks();
    NetworkStartup();
    InitProcessLibrary();
    ReadScreenDpi();
    InitRequester();
  }
  void TearDown() override {
    EndRequester();
    NetworkShutdown();
    EndMemoryBlocks();
    HeapDestroy(programHeap);
    programHeap = nullptr;
  }
};

testing::Environment* const environment = testing::AddGlobalTestEnvironment(new RuntimeEnvironment);
}  // namespace
