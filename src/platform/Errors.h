// Errors that end a run. The program reports them on standard error and exits with status 1.
#pragma once

#include <stdexcept>
#include <string>

namespace tarvix {

// An error carrying the program's message and, where known, the file it concerns and the
// system's reason. Anything that cannot go on raises it; only main catches it.
class TError : public std::runtime_error {
 public:
  explicit TError(const std::string& message, std::string fileName = {}, std::string reason = {});

  const std::string& Message() const { return fMessage; }
  const std::string& FileName() const { return fFileName; }
  const std::string& Reason() const { return fReason; }

  // One line for the user: the message, the file in quotes and the reason in parentheses.
  std::string Report() const;

 private:
  std::string fMessage;
  std::string fFileName;
  std::string fReason;
};

// Raised by the file layer. fCannotOpen tells a failure to open the file apart from all others
// (a read error, a short write, a failed close), which some callers report differently.
class TFileError : public TError {
 public:
  TFileError(const std::string& message, const std::string& fileName, int errorNumber,
             bool cannotOpen = false);
  // For failures that have no errno, such as a name that is not a regular file.
  TFileError(const std::string& message, const std::string& fileName, const std::string& reason,
             bool cannotOpen = false);

  int ErrorNumber() const { return fErrorNumber; }
  bool CannotOpen() const { return fCannotOpen; }

 private:
  int fErrorNumber;
  bool fCannotOpen;
};

// The system's wording of an errno value.
std::string SystemReason(int errorNumber);

}  // namespace tarvix
