#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace landstat::host {

// Checks of the values that name a survey and its codes where they enter
// the system (command line, exported functions, code file, project file).
// They end up in table names and statement text, so only plain characters
// pass.

// Six digits 0 to 9.
bool IsCountyCode(std::string_view text);
// Four digits 0 to 9.
bool IsSurveyYear(std::string_view text);
// One or more ASCII letters and digits (a land class: "011", "1001K").
bool IsClassCode(std::string_view text);
// One or more digits (an administrative code of any level).
bool IsAdminCode(std::string_view text);

// A file name alone, to be joined to a folder without leaving it: no
// separator, not "." or "..", no control character.
bool PlainFileName(std::string_view name);

// What is wrong with a survey's year and county code, empty when both are
// sound; the message quotes the value that is wrong.
std::string SurveyKeyProblem(std::string_view year, std::string_view county);

// The first of `inputs` that a job writing `output` would write over: the
// same file however spelt (relative, through "..", a symbolic link or a
// hard link); empty when none is. An output that does not exist yet is no
// input. A job refuses such an output before it touches anything.
std::string InputWrittenBy(const std::string& output, const std::vector<std::string>& inputs);

}  // namespace landstat::host
