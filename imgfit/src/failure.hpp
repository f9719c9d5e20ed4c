#pragma once
// The tool's one exception type: an exit status and a fixed lower snake case
// code, which the driver prints as the error line.

#include <stdexcept>

namespace ombri_image {

// What the desktop app learns from the process's exit status; 1 is never used.
enum class ExitStatus : int {
  success = 0,
  commandLine = 2,        // a wrong command line, or a source that is not a regular file
  unsupported = 3,        // a source of a kind the tool does not read
  sourceTooLarge = 4,     // a source beyond its byte or pixel limit
  codecFailed = 5,        // decoding, rendering or encoding failed, or an unexpected exception
  budgetUnreachable = 6,  // nothing fits the byte budget
  fileSystem = 7,         // the file system or the output failed
};

class Failure : public std::runtime_error {
 public:
  Failure(ExitStatus status, const char* code) : std::runtime_error(code), exitStatus(status) {}

  ExitStatus exitStatus;
};

}  // namespace ombri_image
