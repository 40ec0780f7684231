// CommandLine: what the project's programs share on their command lines (they
// parse them with CLI11): how a command-line error is reported, the checks of
// a shared-memory root and a store name, and the writing of an output file
// named there.
//
// Output files are opened with O_NOFOLLOW: a file name that is a symbolic
// link is refused rather than followed, so a link planted where a program is
// told to write cannot redirect the write to another file. (So are the links
// /dev/stdout and /dev/fd/N: name a real file.)
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>

#include "QuorSharedMem/RootPaths.h"

namespace CommandLine {

// CLI11's failure message: one line, "<program>: <what is wrong> (see --help)".
inline std::string oneLineFailure(char const* program, CLI::Error const& error) {
  return std::string(program) + ": " + error.what() + " (see --help)\n";
}

// Names the program `name` on its command line, so that its usage line and
// its manual page name the program rather than the path it was started by,
// and gives it --version, which prints the project's version.
inline void nameProgram(CLI::App& app, std::string name) {
  app.name(std::move(name));
  app.set_version_flag("--version", std::string(ZADU_VERSION));
}

// Reports a program's failure as one line on stderr, "<program>: <context>
// <what went wrong>", and returns `status`, for main to exit with.
inline int failure(char const* program, int status, std::exception const& error,
                   char const* context = "") {
  std::fprintf(stderr, "%s: %s%s\n", program, context, error.what());
  return status;
}

// Checks an option that names the shared-memory root: an absolute path.
inline CLI::Validator const sharedMemoryRootCheck(
    [](std::string const& value) {
      return value.starts_with('/') ? std::string()
                                    : "the shared-memory root must be an absolute path";
    },
    "ABSOLUTE_PATH", "shared-memory root");

// Checks an option that names a store: one path component.
inline CLI::Validator const storeNameCheck(
    [](std::string const& value) {
      return QuorSharedMem::validComponent(value)
                 ? std::string()
                 : "a store name is letters, digits and \"_-.:\", not \".\" or \"..\"";
    },
    "NAME", "store name");

// Writes `text` to `file`, replacing what it held. Raises std::runtime_error
// when the file cannot be written, or is a symbolic link.
inline void writeOutputFile(std::string const& file, std::string_view text) {
  int const fd = open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0644);
  if (fd < 0) {
    throw std::runtime_error(errno == ELOOP
                                 ? "refusing to write " + file + ": it is a symbolic link"
                                 : "cannot write " + file + ": " + std::strerror(errno));
  }
  std::size_t done = 0;
  while (done < text.size()) {
    ssize_t const written = write(fd, text.data() + done, text.size() - done);
    if (written < 0 && errno == EINTR) {
      continue;
    }
    if (written <= 0) {
      std::string const reason = written == 0 ? "nothing written" : std::strerror(errno);
      close(fd);
      throw std::runtime_error("cannot write " + file + ": " + reason);
    }
    done += static_cast<std::size_t>(written);
  }
  if (close(fd) != 0) {
    throw std::runtime_error("cannot write " + file + ": " + std::strerror(errno));
  }
}

}  // namespace CommandLine
