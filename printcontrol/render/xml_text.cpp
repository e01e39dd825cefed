#include "printcontrol/render/xml_text.h"

namespace kavelo::printcontrol {

size_t NarrowXmlText(const char16_t* text, size_t count, char* dest, size_t capacity) {
  if (capacity == 0) return 0;
  size_t n = 0;
  if (text != nullptr) {
    for (size_t i = 0; i < count && text[i] != 0 && n + 1 < capacity; ++i) {
      dest[n++] = text[i] < 256 ? static_cast<char>(text[i]) : '?';
    }
  }
  dest[n] = '\0';
  return n;
}

namespace {

void AppendCodePoint(char32_t c, std::string* out) {
  if (c < 0x80) {
    out->push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    out->push_back(static_cast<char>(0xC0 | (c >> 6)));
    out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    out->push_back(static_cast<char>(0xE0 | (c >> 12)));
    out->push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else {
    out->push_back(static_cast<char>(0xF0 | (c >> 18)));
    out->push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
}

// The reference that stands for `c` under `escape`, or null to copy it.
const char* EscapeFor(char32_t c, XmlEscape escape) {
  if (escape == XmlEscape::kNone) return nullptr;
  switch (c) {
    case '&':
      return "&amp;";
    case '<':
      return "&lt;";
    case '\r':
      return "&#13;";
    case '>':
      return escape == XmlEscape::kText ? "&gt;" : nullptr;
    case '"':
      return escape == XmlEscape::kAttribute ? "&quot;" : nullptr;
    case '\t':
      return escape == XmlEscape::kAttribute ? "&#9;" : nullptr;
    case '\n':
      return escape == XmlEscape::kAttribute ? "&#10;" : nullptr;
    default:
      return nullptr;
  }
}

}  // namespace

void AppendXmlUtf8(const char16_t* text, size_t count, XmlEscape escape, std::string* out) {
  if (text == nullptr) return;
  for (size_t i = 0; i < count; ++i) {
    char32_t c = text[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < count && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      c = 0xFFFD;
    }
    if (const char* reference = EscapeFor(c, escape)) {
      out->append(reference);
    } else {
      AppendCodePoint(c, out);
    }
  }
}

}  // namespace kavelo::printcontrol
