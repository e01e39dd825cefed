// The print control's exception for failures of the XML work (stylesheet
// filter, XSLT transformation).  It never leaves those operations: they catch
// it and copy its message into the caller's error buffer.
#ifndef KAVELO_PRINTCONTROL_XML_EXCEPTION_H_
#define KAVELO_PRINTCONTROL_XML_EXCEPTION_H_

#include <exception>

namespace kavelo::printcontrol {

class XmlException : public std::exception {
 public:
  // Longest message kept; a longer one is cut to its first kMaxMessage bytes.
  static constexpr int kMaxMessage = 1023;

  // A null message is kept as the empty text.
  explicit XmlException(const char* message);
  // printf-style message, cut like the one above.
  static XmlException Format(const char* format, ...) __attribute__((format(printf, 1, 2)));

  const char* what() const noexcept override { return message_; }
  const char* Message() const { return message_; }

 private:
  XmlException() = default;
  char message_[kMaxMessage + 1] = {};
};

// Copies at most `limit` bytes of `text` into `buffer` and terminates it.
// `buffer` must hold limit + 1 bytes.  Used for the 1004-character error
// texts the XML operations report.
void CopyLimited(char* buffer, const char* text, int limit);

}  // namespace kavelo::printcontrol

#endif  // KAVELO_PRINTCONTROL_XML_EXCEPTION_H_
