// Starts the runtime the way the program's entry routine does, before any test
// runs, and ends it after the last one.
#include <gtest/gtest.h>
#include <windows.h>

#include "app/program_entry.h"
#include "runtime/program_heap.h"

namespace {
class RuntimeEnvironment : public testing::Environment {
 public:
  void SetUp() override {
    programModule = GetModuleHandleW(nullptr);
    programHeap = HeapCreate(0, 4096, 0);
    StartLibraries();
  }
  void TearDown() override {
    EndLibraries();
    HeapDestroy(programHeap);
    programHeap = nullptr;
  }
};

testing::Environment* const environment = testing::AddGlobalTestEnvironment(new RuntimeEnvironment);
}  // namespace
