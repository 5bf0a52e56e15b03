#pragma once

#include <sys/wait.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "support/program_dir.h"
#include "support/test_databases.h"

namespace landstat::testing {

// What a program run by a test printed and how it ended.
struct Outcome {
  int exit_code = -1;
  std::string out, err;
};

// A text quoted for the shell.
inline std::string ShellQuoted(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

// Runs a program with its arguments, no input, its output captured.
inline Outcome RunProgram(const std::string& program, const std::vector<std::string>& arguments) {
  TempDir capture;
  std::string command = ShellQuoted(program);
  for (const std::string& argument : arguments) command += " " + ShellQuoted(argument);
  command +=
      " </dev/null >" + ShellQuoted(capture.File("out")) + " 2>" + ShellQuoted(capture.File("err"));
  const int status = std::system(command.c_str());
  Outcome outcome;
  outcome.exit_code = status != -1 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  outcome.out = ReadFileBytes(capture.File("out"));
  outcome.err = ReadFileBytes(capture.File("err"));
  return outcome;
}

}  // namespace landstat::testing
