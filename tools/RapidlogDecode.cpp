// rapidlog_decode: prints the records of a Rapidlog trace file as text, oldest
// first, one per line:
//
//   2026-12-06 15:20:01.123456 TcamInterface::makeSwTable  Clearing entries for table: Tcam,
//   unitId: 3
//
// With --messages, only the message texts. Exit status 0 when the file
// decodes, 1 when it does not (the reason goes to standard error), 2 for a
// usage error.
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>

#include "Rapidlog/TraceFileReader.h"

namespace {

void usage(std::FILE* out) {
  std::fprintf(out,
               "usage: rapidlog_decode [--messages] <trace file>\n"
               "Prints the records of a Rapidlog trace file, oldest first.\n"
               "  --messages  print the message texts only\n"
               "  --help      print this help\n");
}

}  // namespace

int main(int argc, char** argv) {
  bool messagesOnly = false;
  char const* path = nullptr;
  for (int argument = 1; argument < argc; ++argument) {
    if (std::strcmp(argv[argument], "--help") == 0) {
      usage(stdout);
      return 0;
    }
    if (std::strcmp(argv[argument], "--messages") == 0) {
      messagesOnly = true;
    } else if (path == nullptr && argv[argument][0] != '-') {
      path = argv[argument];
    } else {
      usage(stderr);
      return 2;
    }
  }
  if (path == nullptr) {
    usage(stderr);
    return 2;
  }
  try {
    for (Rapidlog::DecodedRecord const& record : Rapidlog::readTraceFile(path)) {
      if (messagesOnly) {
        std::printf("%s\n", record.message.c_str());
      } else {
        std::printf("%s %s::%s %s\n", Rapidlog::formatTimestamp(record.timestampNs).c_str(),
                    record.classLabel.c_str(), record.function.c_str(), record.message.c_str());
      }
    }
  } catch (std::exception const& error) {
    std::fprintf(stderr, "rapidlog_decode: %s\n", error.what());
    return 1;
  }
  return 0;
}
