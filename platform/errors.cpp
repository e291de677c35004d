#include "platform/errors.h"

#include <cerrno>

namespace ventari {

EInOutError::EInOutError(int code) : Exception(IoErrorMessage(code)), m_code(code) {}

std::string IoErrorMessage(int code) {
  switch (code) {
    case 2:
      return "File not found";
    case 3:
      return "Invalid filename";
    case 4:
      return "Too many open files";
    case 5:
      return "File access denied";
    case 100:
      return "Read beyond end of file";
    case 101:
      return "Disk full";
    case 106:
      return "Invalid numeric input";
    default:
      return "I/O error " + std::to_string(code);
  }
}

int IoCodeFromErrno(int err) {
  // The runtime's numbers are the platform's file error codes; the common causes map onto the
  // numbers that have a message, the rest onto the Windows code of the same meaning where there is
  // one, else 1000 + errno so that no two causes share a number.
  switch (err) {
    case ENOENT:
      return 2;
    case ENOTDIR:
    case ENAMETOOLONG:
    case EINVAL:
    case ELOOP:
      return 3;
    case EMFILE:
    case ENFILE:
      return 4;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR:
      return 5;
    case ENOSPC:
    case EDQUOT:
      return 101;
    case EEXIST:
      return 80;
    case EBUSY:
      return 32;
    default:
      return 1000 + err;
  }
}

void RaiseLastIoError() { throw EInOutError(IoCodeFromErrno(errno)); }

std::string ErrorBoxText(const std::string& message) {
  if (!message.empty() && static_cast<unsigned char>(message.back()) > '.') return message + ".";
  return message;
}

}  // namespace ventari
