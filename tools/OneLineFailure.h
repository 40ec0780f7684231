// oneLineFailure: how the project's programs report a command-line error to
// CLI11: one line, "<program>: <what is wrong> (see --help)".
#pragma once

#include <CLI/CLI.hpp>

#include <string>

inline std::string oneLineFailure(char const* program, CLI::Error const& error) {
  return std::string(program) + ": " + error.what() + " (see --help)\n";
}
