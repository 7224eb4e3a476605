// The portable core needs only the shared empty string.
#include <gtest/gtest.h>

#include "runtime/strings/managed_strings.h"

namespace {
class RuntimeEnvironment : public testing::Environment {
 public:
  void SetUp() override { InitStrings(); }
};

testing::Environment* const environment = testing::AddGlobalTestEnvironment(new RuntimeEnvironment);
}  // namespace
