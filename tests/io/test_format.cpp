// Fixed-column writing and reading, free-format lines.
#include <gtest/gtest.h>

#include "io/format.hpp"

using namespace qv::fmt;

TEST(FormatWrite, IntegerAndFixedPoint) {
  EXPECT_EQ(I(150, 10), "       150");
  EXPECT_EQ(I(-5, 5), "   -5");
  EXPECT_EQ(I(-1234, 5), "-1234");
  EXPECT_EQ(I(-12345, 5), "*****");
  EXPECT_EQ(I(123456, 5), "*****");
  EXPECT_EQ(F(1.5, 12, 7), "   1.5000000");
  EXPECT_EQ(F(-1.5, 10, 4), "   -1.5000");
  EXPECT_EQ(F(2.0 / 3.0, 10, 5), "   0.66667");
  // the optional leading zero goes before the field overflows
  EXPECT_EQ(F(0.5, 4, 3), ".500");
  EXPECT_EQ(F(-0.5, 5, 3), "-.500");
  EXPECT_EQ(F(-0.5, 4, 3), "****");
  EXPECT_EQ(F(123456.0, 8, 3), "********");
  EXPECT_EQ(F(-12345.0, 9, 3), "*********");
  EXPECT_EQ(A("abc", 5), "abc  ");
  EXPECT_EQ(A("abcdefg", 3), "abc");
}

TEST(FormatWrite, ExponentFormHasFractionalMantissaAndSignedExponent) {
  EXPECT_EQ(E(1.0, 12, 4), "  0.1000E+01");
  EXPECT_EQ(E(123.456, 12, 4), "  0.1235E+03");
  EXPECT_EQ(E(-0.00123456, 12, 4), " -0.1235E-02");
  EXPECT_EQ(E(0.0, 12, 4), "  0.0000E+00");
  EXPECT_EQ(E(0.01, 13, 5), "  0.10000E-01");
  EXPECT_EQ(E(0.1, 12, 4), "  0.1000E+00");
  EXPECT_EQ(E(9.99996, 12, 4), "  0.1000E+02");  // rounding carries into the exponent
  EXPECT_EQ(E(1e100, 12, 4), "  0.1000+101");    // three-digit exponents drop the letter
  EXPECT_EQ(E(-2.5e-120, 12, 4), " -0.2500-119");
  EXPECT_EQ(E(1.0, 9, 4), ".1000E+01");
  EXPECT_EQ(E(1.0, 8, 4), "********");
  // negative values keep their sign inside the field
  EXPECT_EQ(E(-1.25, 12, 4) + E(-3.5e-7, 12, 4) + F(-99.5, 10, 4), " -0.1250E+01 -0.3500E-06  -99.5000");
}

TEST(FormatRead, IntegerFieldsFromTheirColumnsOnly) {
  EXPECT_EQ(read_int("  100   50   40", 6, 5), 50);
  EXPECT_EQ(read_int(" 1 2 ", 1, 5), 12);  // blanks inside are ignored
  EXPECT_EQ(read_int("     ", 1, 5), 0);
  EXPECT_EQ(read_int("12", 6, 5), 0);      // past the end of a short line
  EXPECT_EQ(read_int("   -7", 1, 5), -7);
  EXPECT_EQ(read_int("123456789", 1, 5), 12345);
  EXPECT_EQ(read_int("         5 7", 1, 10), 5);
  for (const char* bad : {"  abc", "  1.0", "    -", " 1-2 "}) EXPECT_FALSE(read_int(bad, 1, 5).has_value()) << bad;
}

TEST(FormatRead, RealsWithImpliedDecimals) {
  EXPECT_DOUBLE_EQ(*read_real("     10000", 1, 10, 5), 0.1);
  EXPECT_DOUBLE_EQ(*read_real("         1", 1, 10, 5), 1e-5);
  EXPECT_DOUBLE_EQ(*read_real("    123456", 1, 10, 5), 1.23456);
  EXPECT_DOUBLE_EQ(*read_real("   -12345 ", 1, 10, 5), -0.12345);
  EXPECT_DOUBLE_EQ(*read_real("  1 2 3 4 ", 1, 10, 2), 12.34);
  EXPECT_DOUBLE_EQ(*read_real("       100", 1, 10, 0), 100.0);
  EXPECT_DOUBLE_EQ(*read_real("", 1, 13, 5), 0.0);
}

TEST(FormatRead, PointsAndExponentsTakenAsWritten) {
  EXPECT_DOUBLE_EQ(*read_real("       1.5", 1, 10, 5), 1.5);
  EXPECT_DOUBLE_EQ(*read_real("       15.", 1, 10, 5), 15.0);
  EXPECT_DOUBLE_EQ(*read_real("      -.25", 1, 10, 5), -0.25);
  EXPECT_DOUBLE_EQ(*read_real("  0.10000E-01", 1, 13, 5), 0.01);
  EXPECT_DOUBLE_EQ(*read_real("     15E2", 1, 10, 5), 1500.0);
  EXPECT_DOUBLE_EQ(*read_real("    1.5D+3", 1, 10, 5), 1500.0);
  EXPECT_DOUBLE_EQ(*read_real("    1.5+3 ", 1, 10, 5), 1500.0);
  EXPECT_DOUBLE_EQ(*read_real("   2.5-2  ", 1, 10, 5), 0.025);
  EXPECT_DOUBLE_EQ(*read_real("  1. 5E 1 ", 1, 10, 5), 15.0);
  // a value in the columns after the field is not read
  EXPECT_DOUBLE_EQ(*read_real("       2.5  7.0", 1, 10, 5), 2.5);
  EXPECT_DOUBLE_EQ(*read_real("123456789012345", 1, 10, 5), 12345.6789);
  for (const char* bad : {"      abc", "    1.5x", "   1.2.3", "     1.5E", "       .", "   +-1"})
    EXPECT_FALSE(read_real(bad, 1, 10, 5).has_value()) << bad;
}

TEST(FormatRead, TextFieldsAndFreeFormatTokens) {
  EXPECT_EQ(read_text("  axis.dat        flag.dat", 19, 14), "flag.dat      ");
  EXPECT_EQ(read_text("  axis.dat", 35, 14), std::string(14, ' '));
  EXPECT_EQ(trim_name("  a b  "), "  a b");
  EXPECT_DOUBLE_EQ(*parse_real("-1.5d0"), -1.5);
  EXPECT_DOUBLE_EQ(*parse_real("2"), 2.0);
  EXPECT_FALSE(parse_real("abc").has_value());
  EXPECT_EQ(parse_int("-12"), -12);
  EXPECT_FALSE(parse_int("1.0").has_value());
}

TEST(FormatLine, FreeFormatLayout) {
  EXPECT_EQ((Line() << "nn = " << 25).str(), " nn =           25");
  EXPECT_EQ((Line() << "a" << -7LL << "b").str(), " a          -7b");
  // reals: 15 significant digits in either form
  EXPECT_NE(general(1.0 / 3.0).find("0.333333333333333"), std::string::npos);
  EXPECT_EQ(general(1.0 / 3.0).find("0.3333333333333333"), std::string::npos);
  EXPECT_NE(general(1e-20).find("1.00000000000000E-020"), std::string::npos) << general(1e-20);
  EXPECT_NE(general(-2.5e20).find("-2.50000000000000E+020"), std::string::npos) << general(-2.5e20);
}
