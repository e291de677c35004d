#pragma once
// The runtime's error types. Handlers catch `Exception` and show its message in the error box.

#include <stdexcept>
#include <string>

namespace ventari {

// A general error: its message is shown as it stands.
class Exception : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A text that does not convert to a number or a date.
class EConvertError : public Exception {
 public:
  using Exception::Exception;
};

// An index outside a table's bounds.
class ERangeError : public Exception {
 public:
  ERangeError() : Exception("Range check error") {}
};

// A file system failure, named by the runtime's I/O error number.
class EInOutError : public Exception {
 public:
  explicit EInOutError(int code);
  // A failure whose own words say more than the error number's message.
  EInOutError(int code, const std::string& message) : Exception(message), m_code(code) {}
  int code() const { return m_code; }

 private:
  int m_code;
};

// Every socket and HTTP failure.
class ESockError : public Exception {
 public:
  using Exception::Exception;
};

// A blocking socket operation ended because it was cancelled.
class EAbortError : public ESockError {
 public:
  using ESockError::ESockError;
};

// The message of an I/O error number: 2 "File not found", ..., otherwise "I/O error %d".
std::string IoErrorMessage(int code);

// The runtime's I/O error number for a C library errno value.
int IoCodeFromErrno(int err);

// Throws EInOutError for the current errno.
[[noreturn]] void RaiseLastIoError();

// The text of the application's error box: a "." is added when the last character sorts after ".".
std::string ErrorBoxText(const std::string& message);

}  // namespace ventari
