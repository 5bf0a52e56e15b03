#include "platform/text/number_text.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace landstat::text {
namespace {

std::string_view TrimBlanks(std::string_view text) {
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front()))) {
    text.remove_prefix(1);
  }
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) {
    text.remove_suffix(1);
  }
  return text;
}

// Length of the longest prefix of `text` that reads as a decimal number.
std::size_t NumberPrefixLength(std::string_view text) {
  std::size_t i = 0;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
  std::size_t digits = 0;
  while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i]))) ++i, ++digits;
  if (i < text.size() && text[i] == '.') {
    ++i;
    while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i]))) ++i, ++digits;
  }
  if (digits == 0) return 0;
  if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
    std::size_t j = i + 1;
    if (j < text.size() && (text[j] == '+' || text[j] == '-')) ++j;
    std::size_t exponent_digits = 0;
    while (j < text.size() && std::isdigit(static_cast<unsigned char>(text[j]))) {
      ++j, ++exponent_digits;
    }
    if (exponent_digits > 0) i = j;
  }
  return i;
}

// Reads the number that the first `length` characters hold (as checked by
// NumberPrefixLength); nothing when it lies beyond the range of a double
// ("1e400", a few hundred digits), or so close to 0 that it would read as 0.
std::optional<double> ParsePrefix(std::string_view text, std::size_t length) {
  std::size_t start = 0;
  bool negative = false;
  if (text[0] == '+' || text[0] == '-') {
    negative = text[0] == '-';
    start = 1;
  }
  double value = 0;
  const std::from_chars_result read =
      std::from_chars(text.data() + start, text.data() + length, value);
  if (read.ec != std::errc()) return std::nullopt;
  return negative ? -value : value;
}

}  // namespace

double RoundDecimal(double value, int decimals) {
  if (!std::isfinite(value)) return value;
  static const double kScales[] = {1e0, 1e1, 1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                   1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15};
  decimals = std::clamp(decimals, 0, 15);
  const double scale = kScales[decimals];
  const double scaled = std::fabs(value * scale);
  if (scaled < 1e15) {
    const double whole = std::floor(scaled);
    const double fraction = scaled - whole;
    // Far enough from a half, binary noise cannot change the result.
    if (std::fabs(fraction - 0.5) > scaled * 1e-14 + 1e-9) {
      const double rounded = (whole + (fraction > 0.5 ? 1 : 0)) / scale;
      return rounded == 0.0 ? 0.0 : std::copysign(rounded, value);
    }
  }
  // Near a half: decide on the value's decimal form (15 significant
  // digits), so 2.675, held as 2.67499999..., rounds to 2.68.
  char digits[64];
  std::snprintf(digits, sizeof digits, "%.14e", value);
  const double shown = std::strtod(digits, nullptr);
  std::snprintf(digits, sizeof digits, "%.14e", shown * scale);
  const double settled = std::strtod(digits, nullptr);
  const double result = std::copysign(std::floor(std::fabs(settled) + 0.5), settled) / scale;
  return result == 0.0 ? 0.0 : result;
}

std::string DoubleToText(double value) {
  if (value == 0.0) return "0";
  if (std::isnan(value)) return "NaN";
  if (std::isinf(value)) return value > 0 ? "Infinity" : "-Infinity";
  // Fifteen significant digits, written out in fixed form for ordinary
  // magnitudes and with an exponent beyond them. std::to_chars with a
  // precision writes exactly what printf does, without its cost.
  char buffer[64];
  const char* end =
      std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::scientific, 14).ptr;
  const char* e = std::find(static_cast<const char*>(buffer), end, 'e');
  int exponent = 0;
  std::from_chars(e + (e[1] == '+' ? 2 : 1), end, exponent);
  if (exponent >= 15 || exponent < -7) {
    end = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::general, 15).ptr;
    return std::string(static_cast<const char*>(buffer), end);
  }
  std::string digits;
  for (const char* c = buffer; c != e; ++c) {
    if (*c >= '0' && *c <= '9') digits += *c;
  }
  while (digits.size() > 1 && digits.back() == '0') digits.pop_back();
  std::string text = value < 0 ? "-" : "";
  if (exponent < 0) return text + "0." + std::string(-exponent - 1, '0') + digits;
  const std::size_t whole = static_cast<std::size_t>(exponent) + 1;
  if (digits.size() <= whole) return text + digits + std::string(whole - digits.size(), '0');
  return text.append(digits, 0, whole).append(".").append(digits, whole);
}

std::string ExactDoubleText(double value) {
  char buffer[64];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  return std::string(buffer, result.ptr);
}

std::optional<double> TextToNumber(std::string_view text) {
  text = TrimBlanks(text);
  if (text.empty()) return 0.0;
  const std::size_t length = NumberPrefixLength(text);
  if (length != text.size()) return std::nullopt;
  return ParsePrefix(text, length);
}

std::optional<double> LeadingNumber(std::string_view text) {
  text = TrimBlanks(text);
  const std::size_t length = NumberPrefixLength(text);
  if (length == 0) return 0.0;
  return ParsePrefix(text, length);
}

std::string FormatNumber(double value, std::string_view picture) {
  const std::size_t point = picture.find('.');
  const bool numeric_picture =
      !picture.empty() && picture.find_first_not_of("0#,.") == std::string_view::npos;
  if (!numeric_picture) return DoubleToText(value);
  int decimals = 0;
  if (point != std::string_view::npos) {
    for (char c : picture.substr(point + 1)) {
      if (c == '0' || c == '#') ++decimals;
    }
  }
  const double rounded = RoundDecimal(value, decimals);
  char buffer[400];
  const auto written =
      std::to_chars(buffer, buffer + sizeof buffer, rounded, std::chars_format::fixed, decimals);
  std::string text(buffer, written.ptr);
  if (text.front() == '-' && text.find_first_not_of("-0.") == std::string::npos) text.erase(0, 1);
  const bool grouped = picture.substr(0, point).find(',') != std::string_view::npos;
  if (grouped) {
    // Thousands separators in the whole part, as the picture asks.
    const std::size_t digits_begin = text.front() == '-' ? 1 : 0;
    std::size_t digits_end = text.find('.');
    if (digits_end == std::string::npos) digits_end = text.size();
    for (std::size_t at = digits_end; at > digits_begin + 3; at -= 3) text.insert(at - 3, ",");
  }
  return text;
}

}  // namespace landstat::text
