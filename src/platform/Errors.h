// Errors that end a run. The program reports them on standard error and exits with status 1.
#pragma once

#include <stdexcept>
#include <string>

namespace tarvix {

// Whose fault a failure is: what the source holds or lacks, a resource of the system that ran
// short (descriptors, memory, processes), or the output's place (a full or failing disk). The
// callers above decide from it whether to refuse an item, try it again later or end the run.
enum class TFault {
  kSource,
  kResource,
  kOutput,
};

// The fault an errno value stands for when it comes from an operation on `side` (kSource or
// kOutput): the few values that mean a resource ran short are kResource on either side.
TFault FaultOfErrorNumber(int errorNumber, TFault side);

// An error carrying the program's message and, where known, the file it concerns and the
// system's reason. Anything that cannot go on raises it; only main catches it.
class TError : public std::runtime_error {
 public:
  explicit TError(const std::string& message, std::string fileName = {}, std::string reason = {},
                  TFault fault = TFault::kOutput);

  const std::string& Message() const { return fMessage; }
  TFault Fault() const { return fFault; }
  const std::string& FileName() const { return fFileName; }
  const std::string& Reason() const { return fReason; }

  // One line for the user: the message, the file in quotes and the reason in parentheses.
  std::string Report() const;

 private:
  std::string fMessage;
  std::string fFileName;
  std::string fReason;
  TFault fFault;
};

// What a system call that may fail without that ending anything came to: done, or why not.
// Callers ask what kind of failure it is and how the system words it, never for the system's
// own code, which each system's implementation alone knows.
class TSystemResult {
 public:
  enum class TWhy {
    kNone,          // done
    kNameTaken,     // something of that name exists
    kNotFound,      // the name, or a folder on its way, does not exist
    kNotAFolder,    // a name on the way is no folder
    kIsAFolder,     // the name is a folder where a file was meant
    kNoPermission,  // not allowed, or read-only
    kNoSpace,       // the disk or the quota is full
    kShortOf,       // descriptors, memory or processes ran short
    kOther,
  };

  TSystemResult() = default;  // done
  // Made by the platform's implementation from the system's code (0: done).
  static TSystemResult FromSystemCode(int code);

  bool Ok() const { return fCode == 0; }
  TWhy Why() const;
  // The system's wording; "" when done.
  std::string Reason() const;
  // Whose fault the failure is when it comes from an operation on `side` (kSource or kOutput).
  TFault Fault(TFault side) const;
  // The system's own code, for the platform's implementations alone.
  int SystemCode() const { return fCode; }

 private:
  int fCode = 0;
};

// What went wrong with a file, so that callers can react without reading message texts.
enum class TFileErrorKind {
  kCannotOpen,  // the name could not be opened (or created) at all
  kNotRegular,  // opened, but a directory, FIFO or device: not a file to convert
  kRead,        // a read failed
  kWrite,       // a write (or extending the file) failed
  kClose,       // closing failed: the data may not have reached the file
};

// Raised by the file layer.
class TFileError : public TError {
 public:
  TFileError(TFileErrorKind kind, const std::string& message, const std::string& fileName,
             int errorNumber);
  // For failures that have no errno, such as a name that is not a regular file.
  TFileError(TFileErrorKind kind, const std::string& message, const std::string& fileName,
             const std::string& reason);

  TFileErrorKind Kind() const { return fKind; }
  int ErrorNumber() const { return fErrorNumber; }
  TSystemResult System() const { return TSystemResult::FromSystemCode(fErrorNumber); }
  // The name could not be opened at all (a name that is not a regular file could be).
  bool CannotOpen() const { return fKind == TFileErrorKind::kCannotOpen; }

 private:
  TFileErrorKind fKind;
  int fErrorNumber;
};

// The system's wording of an errno value.
std::string SystemReason(int errorNumber);

}  // namespace tarvix
