#include <gtest/gtest.h>

#include "control/format.hpp"

using namespace qv::fmt;

TEST(Format, FixedColumnWriting) {
  EXPECT_EQ(I(150, 10), "       150");
  EXPECT_EQ(F(1.5, 12, 7), "   1.5000000");
  EXPECT_EQ(E(1.0, 12, 4), "  0.1000E+01");
  EXPECT_EQ(E(-0.00123456, 12, 4), " -0.1235E-02");
  EXPECT_EQ(E(0.0, 12, 4), "  0.0000E+00");
  EXPECT_EQ(I(123456, 5), "*****");
  EXPECT_EQ(F(123456.0, 8, 3), "********");
}
