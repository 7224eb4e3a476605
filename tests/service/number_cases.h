#pragma once
// Tables of raw texts and what the normalisation must make of them.
#include <gtest/gtest.h>

#include <string.h>

#include <string>

#include "service/number/phone_number.h"
#include "test_strings.h"

struct NumberCase {
  std::string raw;
  NumberVerdict verdict;
  std::string digits;  // for kNumberAccepted
  size_t position;     // for a rejection at a byte
};

inline NormalizedNumber Normalize(const std::string& raw) {
  NormalizedNumber number;
  memset(&number, 0x55, sizeof number);  // nothing may depend on what was there
  NormalizePhoneNumber(raw.data(), raw.size(), &number);
  return number;
}

template <size_t count>
void ExpectNumberCases(const NumberCase (&cases)[count]) {
  for (const NumberCase& c : cases) {
    SCOPED_TRACE(Printable(c.raw.substr(0, 80)));
    NormalizedNumber number = Normalize(c.raw);
    EXPECT_EQ(c.verdict, number.verdict) << DescribeNumberVerdict(number.verdict);
    EXPECT_EQ(c.digits, std::string(number.digits));
    EXPECT_EQ(c.digits.size(), number.length);
    EXPECT_EQ(c.position, number.position);
  }
}
