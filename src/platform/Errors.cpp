#include "platform/Errors.h"

#include <cstring>

namespace tarvix {

TError::TError(const std::string& message, std::string fileName, std::string reason)
    : std::runtime_error(message),
      fMessage(message),
      fFileName(std::move(fileName)),
      fReason(std::move(reason)) {}

std::string TError::Report() const {
  std::string report = fMessage;
  if (!fFileName.empty()) report += ": '" + fFileName + "'";
  if (!fReason.empty()) report += " (" + fReason + ")";
  return report;
}

TFileError::TFileError(TFileErrorKind kind, const std::string& message, const std::string& fileName,
                       int errorNumber)
    : TError(message, fileName, errorNumber != 0 ? SystemReason(errorNumber) : std::string()),
      fKind(kind),
      fErrorNumber(errorNumber) {}

TFileError::TFileError(TFileErrorKind kind, const std::string& message, const std::string& fileName,
                       const std::string& reason)
    : TError(message, fileName, reason), fKind(kind), fErrorNumber(0) {}

std::string SystemReason(int errorNumber) {
  return std::strerror(errorNumber);
}

}  // namespace tarvix
