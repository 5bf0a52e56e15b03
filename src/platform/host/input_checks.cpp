#include "platform/host/input_checks.h"

#include <algorithm>
#include <filesystem>

namespace landstat::host {
namespace {

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

bool IsLetterOrDigit(char c) {
  return IsDigit(c) || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

bool AllDigits(std::string_view text) {
  return !text.empty() && std::all_of(text.begin(), text.end(), IsDigit);
}

}  // namespace

bool PlainFileName(std::string_view name) {
  if (name.empty() || name == "." || name == "..") return false;
  return std::none_of(name.begin(), name.end(), [](char c) {
    return c == '/' || c == '\\' || static_cast<unsigned char>(c) < 0x20;
  });
}

bool IsCountyCode(std::string_view text) {
  return text.size() == 6 && AllDigits(text);
}

bool IsSurveyYear(std::string_view text) {
  return text.size() == 4 && AllDigits(text);
}

bool IsClassCode(std::string_view text) {
  return !text.empty() && std::all_of(text.begin(), text.end(), IsLetterOrDigit);
}

bool IsAdminCode(std::string_view text) {
  return AllDigits(text);
}

std::string SurveyKeyProblem(std::string_view year, std::string_view county) {
  if (!IsSurveyYear(year)) return "the year '" + std::string(year) + "' is not four digits";
  if (!IsCountyCode(county)) {
    return "the county code '" + std::string(county) + "' is not six digits";
  }
  return {};
}

std::string InputWrittenBy(const std::string& output, const std::vector<std::string>& inputs) {
  for (const std::string& input : inputs) {
    std::error_code missing;
    if (!input.empty() && std::filesystem::equivalent(output, input, missing)) return input;
  }
  return "";
}

}  // namespace landstat::host
