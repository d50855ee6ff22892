#include "platform/Errors.h"

namespace tarvix {

namespace {

// Reading and opening are the source's side; writing and closing the output's.
TFault SideOf(TFileErrorKind kind) {
  return kind == TFileErrorKind::kWrite || kind == TFileErrorKind::kClose ? TFault::kOutput
                                                                          : TFault::kSource;
}

}  // namespace

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

std::string TSystemResult::Reason() const {
  return fCode == 0 ? std::string() : SystemReason(fCode);
}

TFault TSystemResult::Fault(TFault side) const {
  return FaultOfErrorNumber(fCode, side);
}

}  // namespace tarvix
