// The system's own exception classes for argument faults, and the base class
// that every exception the service and the console catch at thread level
// derives from.  They carry no message text: a report of one reads
// "Unknown" (see ExceptionMessage).
#ifndef KAVELO_COMMON_EXCEPTIONS_H_
#define KAVELO_COMMON_EXCEPTIONS_H_

#include <exception>
#include <string>

namespace kavelo {

// Base of the system's exceptions.  GetErrorMessage gives the message text,
// false when the exception has none.
class FrameworkException : public std::exception {
 public:
  virtual bool GetErrorMessage(std::string* message) const {
    (void)message;
    return false;
  }
  const char* what() const noexcept override { return "Unknown"; }
};

// A required text argument was null.
class NullPointerException : public FrameworkException {};
// An argument was empty or had a wrong value.
class IllegalArgumentException : public FrameworkException {};
// A TextScanner position left its text.
class StringIndexOutOfBoundsException : public FrameworkException {};

// The text with which a caught exception is reported: its message, or
// "Unknown" when it has none.
inline std::string ExceptionMessage(const std::exception& e) {
  if (auto* own = dynamic_cast<const FrameworkException*>(&e)) {
    std::string message;
    return own->GetErrorMessage(&message) && !message.empty() ? message : "Unknown";
  }
  const char* text = e.what();
  return text && *text ? text : "Unknown";
}

}  // namespace kavelo

#endif  // KAVELO_COMMON_EXCEPTIONS_H_
