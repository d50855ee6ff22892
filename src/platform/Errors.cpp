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

TFileError::TFileError(const std::string& message, const std::string& fileName, int errorNumber,
                       bool cannotOpen)
    : TError(message, fileName, errorNumber != 0 ? SystemReason(errorNumber) : std::string()),
      fErrorNumber(errorNumber),
      fCannotOpen(cannotOpen) {}

TFileError::TFileError(const std::string& message, const std::string& fileName,
                       const std::string& reason, bool cannotOpen)
    : TError(message, fileName, reason), fErrorNumber(0), fCannotOpen(cannotOpen) {}

std::string SystemReason(int errorNumber) {
  return std::strerror(errorNumber);
}

}  // namespace tarvix
