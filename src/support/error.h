// Errors raised across the system.
//
// Every failure is raised as an Exception (or a subclass) that carries a
// class name and a message text. The class name is part of what reaches the
// outside: the frame's failure page prints it, and the request handler tells
// database errors (retried in daily history) from all others by class.
#ifndef MORVANE_SUPPORT_ERROR_H_
#define MORVANE_SUPPORT_ERROR_H_

#include <cerrno>
#include <exception>
#include <string>
#include <system_error>

namespace morvane {

// Base of every error the system raises on purpose.
class Exception : public std::exception {
 public:
  explicit Exception(std::string message) : message_(std::move(message)) {}

  // The class name as reported to clients and in logs ("Exception", ...).
  virtual const char* ClassName() const noexcept { return "Exception"; }
  const std::string& Message() const noexcept { return message_; }
  const char* what() const noexcept override { return message_.c_str(); }

 private:
  std::string message_;
};

// A failure of the database engine layer: unknown alias, refused login,
// missing table, bad statement, broken link.
class EDatabaseError : public Exception {
 public:
  using Exception::Exception;
  const char* ClassName() const noexcept override { return "EDatabaseError"; }
};

// A text that cannot be converted to the value asked for (a date, a time,
// a number, a malformed "%" escape).
class EConvertError : public Exception {
 public:
  using Exception::Exception;
  const char* ClassName() const noexcept override { return "EConvertError"; }
};

// A failure reading or writing a file or the network outside the database.
class EInOutError : public Exception {
 public:
  using Exception::Exception;
  const char* ClassName() const noexcept override { return "EInOutError"; }
};

// The message text of any caught exception, for log lines.
inline std::string MessageOf(const std::exception& e) {
  return e.what();
}

// The class name of any caught exception: ours report their own; anything
// else from the standard library is reported as "Exception".
inline const char* ClassNameOf(const std::exception& e) {
  if (const auto* ours = dynamic_cast<const Exception*>(&e)) return ours->ClassName();
  return "Exception";
}

// The text of the current errno, for messages of EInOutError. strerror's
// buffer is shared between threads; this is not.
inline std::string ErrnoText() {
  return std::generic_category().message(errno);
}

}  // namespace morvane

#endif  // MORVANE_SUPPORT_ERROR_H_
