// What POSIX error numbers mean to the program.
#include <cerrno>
#include <cstring>

#include "platform/Errors.h"

namespace tarvix {

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

std::string SystemReason(int errorNumber) {
  return std::strerror(errorNumber);
}

}  // namespace tarvix
