#include "platform/text/number_text.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>

namespace landstat::text {
namespace {

TEST(RoundDecimalTest, RoundsHalvesAwayFromZeroOnTheDecimalForm) {
  struct Case {
    double value;
    int decimals;
    double expected;
  };
  const Case cases[] = {
      {2.675, 2, 2.68},  // stored as 2.67499999...
      {1.005, 2, 1.01},
      {0.125, 2, 0.13},
      {-0.125, 2, -0.13},
      {2.5, 0, 3},
      {-2.5, 0, -3},
      {0.0015, 3, 0.002},
      {185185.1835, 3, 185185.184},
      {1234567.125, 2, 1234567.13},
      {0.1 + 0.2, 1, 0.3},
      {2.9999999999999996, 2, 3},
      {2.9999999999999996, 0, 3},
      {1.4999, 0, 1},
      {2.674999, 2, 2.67},
      {7, 2, 7},
      {123.456, 15, 123.456},
      {1e20, 2, 1e20},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.value) + " at " + std::to_string(c.decimals));
    EXPECT_DOUBLE_EQ(RoundDecimal(c.value, c.decimals), c.expected);
  }
}

TEST(RoundDecimalTest, NeverGivesNegativeZero) {
  struct Case {
    double value;
    int decimals;
  };
  const Case cases[] = {{-0.004, 2}, {-0.0049999, 2}, {-0.4, 0}, {-0.4999, 0}, {-0.0, 2}};
  for (const Case& c : cases) {
    const double rounded = RoundDecimal(c.value, c.decimals);
    EXPECT_EQ(rounded, 0.0) << c.value;
    EXPECT_FALSE(std::signbit(rounded)) << c.value << " at " << c.decimals;
  }
}

TEST(DoubleToTextTest, ReadsWithoutTrailingZerosOrBinaryNoise) {
  struct Case {
    double value;
    const char* text;
  };
  const Case cases[] = {
      {3.0, "3"},
      {100, "100"},
      {0.1, "0.1"},
      {0.1 + 0.2, "0.3"},
      {2.675, "2.675"},
      {1234567.25, "1234567.25"},
      {-1234567.25, "-1234567.25"},
      {123456789012.34, "123456789012.34"},
      {0.00001, "0.00001"},
      {1.0 / 3, "0.333333333333333"},
      {-0.0, "0"},
  };
  for (const Case& c : cases) EXPECT_EQ(DoubleToText(c.value), c.text);
}

// Whatever form a magnitude takes, the text reads back as the value at 15
// significant digits.
TEST(DoubleToTextTest, ReadsBackAtFifteenDigits) {
  for (double value : {1e20, -1e20, 1e15, 1.5e-7, 1.0 / 3 * 1e-5, 1.2345678901234e-5,
                       9.87654321012345e14, 123456789.123456}) {
    char expected[64];
    std::snprintf(expected, sizeof expected, "%.14e", value);
    const std::string text = DoubleToText(value);
    const std::optional<double> back = TextToNumber(text);
    ASSERT_TRUE(back.has_value()) << text;
    EXPECT_EQ(*back, std::strtod(expected, nullptr)) << value << " reads as " << text;
  }
  // The digits are printf's: over magnitudes from 1e-9 to 1e17, halves and
  // ties included, the text is the one printf's 15 digits give.
  std::uint64_t bits = 88172645463325252u;
  for (int i = 0; i < 200000; ++i) {
    bits ^= bits << 13, bits ^= bits >> 7, bits ^= bits << 17;
    const double value =
        std::ldexp(static_cast<double>(bits >> 11), -53 + static_cast<int>(bits % 90) - 30);
    const double rounded = i % 2 ? value : std::round(value * 1000) / 1000;
    char expected[64];
    std::snprintf(expected, sizeof expected, "%.14e", rounded);
    const std::optional<double> back = TextToNumber(DoubleToText(rounded));
    ASSERT_TRUE(back.has_value());
    ASSERT_EQ(*back, std::strtod(expected, nullptr)) << rounded;
  }
}

TEST(TextToNumberTest, AcceptsOnlyAWholeNumber) {
  struct Case {
    std::string text;
    std::optional<double> number;
  };
  const Case cases[] = {
      {"", 0.0},
      {"   ", 0.0},
      {" 12.5 ", 12.5},
      {"1e3", 1000.0},
      {"1E-2", 0.01},
      {"-.5", -0.5},
      {"+7", 7.0},
      {"007", 7.0},
      {"abc", std::nullopt},
      {"12abc", std::nullopt},
      {"1e", std::nullopt},
      {".", std::nullopt},
      {"-", std::nullopt},
      {"1,234", std::nullopt},
      {"1 2", std::nullopt},
      {"0x10", std::nullopt},
      {"inf", std::nullopt},
      {"nan", std::nullopt},
      // Beyond a double's range: refused, never read as 0.
      {"1e400", std::nullopt},
      {"-1e400", std::nullopt},
      {"1e-400", std::nullopt},
      {"1" + std::string(400, '0'), std::nullopt},
      {"1.7e308", 1.7e308},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string("'") + c.text + "'");
    EXPECT_EQ(TextToNumber(c.text), c.number);
  }
}

TEST(LeadingNumberTest, ReadsTheNumberAtTheStart) {
  struct Case {
    const char* text;
    std::optional<double> number;
  };
  const Case cases[] = {
      {"12.5abc", 12.5}, {"abc", 0},
      {"", 0},           {"  -3.5e2x", -350},
      {"1e", 1},         {"1e+", 1},
      {".5.5", 0.5},     {"2.68", 2.68},
      {"-", 0},          {"330102001001", 330102001001.0},
      {"12 亩", 12},     {"1e400x", std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string("'") + c.text + "'");
    EXPECT_EQ(LeadingNumber(c.text), c.number);
  }
}

TEST(FormatNumberTest, FixedDecimalsRoundedHalfAwayFromZero) {
  struct Case {
    double value;
    const char* picture;
    const char* text;
  };
  const Case cases[] = {
      {2.675, "0.00", "2.68"},
      {1.005, "0.00", "1.01"},
      {0.125, "0.00", "0.13"},
      {3, "0.00", "3.00"},
      {0.1 + 0.2, "0.00", "0.30"},
      {99.995, "0.00", "100.00"},
      {1e-9, "0.00", "0.00"},
      {2.5, "0.", "3"},
      {-2.5, "0.", "-3"},
      {2.4, "0.", "2"},
      {2.5, "0", "3"},
      {-2.675, "0.00", "-2.68"},
      {12345.67891, "0.0000", "12345.6789"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.picture) + " of " + std::to_string(c.value));
    EXPECT_EQ(FormatNumber(c.value, c.picture), c.text);
  }
}

TEST(FormatNumberTest, GroupedPictureTakesItsDecimals) {
  struct Case {
    double value;
    const char* picture;
    const char* digits;  // the text without group separators
  };
  const Case cases[] = {
      {1234567.891, "#,##0.00", "1234567.89"},
      {1234567.125, "#,##0.00", "1234567.13"},
      {1234567.5, "#,##0", "1234568"},
      {12.5, "#,##0.000", "12.500"},
  };
  for (const Case& c : cases) {
    std::string text = FormatNumber(c.value, c.picture);
    std::erase(text, ',');
    EXPECT_EQ(text, c.digits) << c.picture << " of " << c.value;
  }
}

}  // namespace
}  // namespace landstat::text
