#include "core/numbers.h"

#include <gtest/gtest.h>

#include <string_view>

namespace vellumo {
namespace {

TEST(ParseUnsigned, StrictDecimal) {
  EXPECT_EQ(parse_unsigned("0"), 0u);
  EXPECT_EQ(parse_unsigned("+30"), 30u);
  EXPECT_EQ(parse_unsigned("007"), 7u);
  EXPECT_EQ(parse_unsigned("18446744073709551615"), 18446744073709551615u);
  for (std::string_view bad :
       {"", "+", "-", "-5", "1.5", "10s", "++1", " 1", "1 ", "18446744073709551616", "0x10"}) {
    EXPECT_EQ(parse_unsigned(bad), std::nullopt) << bad;
  }
}

}  // namespace
}  // namespace vellumo
