#include "platform/Errors.h"

#include <cerrno>
#include <cstring>

namespace tarvix {

namespace {

// Reading and opening are the source's side; writing and closing the output's.
TFault SideOf(TFileErrorKind kind) {
  return kind == TFileErrorKind::kWrite || kind == TFileErrorKind::kClose ? TFault::kOutput
                                                                          : TFault::kSource;
}

}  // namespace

TFault FaultOfErrorNumber(int errorNumber, TFault side) {
  switch (errorNumber) {
    case EMFILE:
    case ENFILE:
    case ENOMEM:
    case EAGAIN:
    case ENOBUFS:
      return TFault::kResource;
    default:
      return side;
  }
}

TError::TError(const std::string& message, std::string fileName, std::string reason, TFault fault)
    : std::runtime_error(message),
      fMessage(message),
      fFileName(std::move(fileName)),
      fReason(std::move(reason)),
      fFault(fault) {}

std::string TError::Report() const {
  std::string report = fMessage;
  if (!fFileName.empty()) report += ": '" + fFileName + "'";
  if (!fReason.empty()) report += " (" + fReason + ")";
  return report;
}

TFileError::TFileError(TFileErrorKind kind, const std::string& message, const std::string& fileName,
                       int errorNumber)
    : TError(message, fileName, errorNumber != 0 ? SystemReason(errorNumber) : std::string(),
             FaultOfErrorNumber(errorNumber, SideOf(kind))),
      fKind(kind),
      fErrorNumber(errorNumber) {}

TFileError::TFileError(TFileErrorKind kind, const std::string& message, const std::string& fileName,
                       const std::string& reason)
    : TError(message, fileName, reason, SideOf(kind)), fKind(kind), fErrorNumber(0) {}

TSystemResult TSystemResult::FromSystemCode(int code) {
  TSystemResult result;
  result.fCode = code;
  return result;
}

TSystemResult::TWhy TSystemResult::Why() const {
  switch (fCode) {
    case 0:
      return TWhy::kNone;
    case EEXIST:
    case ENOTEMPTY:
      return TWhy::kNameTaken;
    case ENOENT:
      return TWhy::kNotFound;
    case ENOTDIR:
      return TWhy::kNotAFolder;
    case EISDIR:
      return TWhy::kIsAFolder;
    case EACCES:
    case EPERM:
    case EROFS:
      return TWhy::kNoPermission;
    case ENOSPC:
    case EDQUOT:
      return TWhy::kNoSpace;
    default:
      return FaultOfErrorNumber(fCode, TFault::kSource) == TFault::kResource ? TWhy::kShortOf
                                                                             : TWhy::kOther;
  }
}

std::string TSystemResult::Reason() const {
  return fCode == 0 ? std::string() : SystemReason(fCode);
}

TFault TSystemResult::Fault(TFault side) const {
  return FaultOfErrorNumber(fCode, side);
}

std::string SystemReason(int errorNumber) {
  return std::strerror(errorNumber);
}

}  // namespace tarvix
