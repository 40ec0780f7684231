// Rapidlog::readTraceFile: decodes a trace file (TraceFileFormat.h) back into
// text records, oldest first: each record's time, the registered message's
// source file, class label and function, and its text with the arguments put
// in place of the "{}" placeholders.
//
// The file is read as untrusted input: every size, offset, id and format
// code is checked, and a file that is not a trace file, or whose contents do
// not hold together, raises DecodeError naming what is wrong and where.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "Vesk/Exception.h"

namespace Rapidlog {

class DecodeError : public Vesk::Exception {
 public:
  using Exception::Exception;
};

struct DecodedRecord {
  std::uint64_t timestampNs = 0;  // UTC, nanoseconds since the epoch
  std::string sourceFile;
  std::string classLabel;
  std::string function;
  std::string message;
};

std::vector<DecodedRecord> readTraceFile(std::string const& path);

// "2026-12-06 15:20:01.123456" for a record time.
std::string formatTimestamp(std::uint64_t timestampNs);

}  // namespace Rapidlog
