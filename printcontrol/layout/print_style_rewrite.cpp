#include "printcontrol/layout/print_style_rewrite.h"

#include <fcntl.h>
#include <strings.h>
#include <unistd.h>

#include <cstring>

#include "printcontrol/job/text_field.h"
#include "printcontrol/layout/print_style.h"
#include "printcontrol/render/byte_reader.h"

namespace kavelo::printcontrol {

namespace {

bool Empty(const char* text) { return text == nullptr || text[0] == '\0'; }

bool EndsWithIgnoreCase(const std::string& text, const char* tail) {
  size_t n = std::strlen(tail);
  return text.size() >= n && strncasecmp(text.c_str() + text.size() - n, tail, n) == 0;
}

bool WriteAll(int fd, const char* data, size_t length) {
  while (length > 0) {
    ssize_t n = ::write(fd, data, length);
    if (n < 0) return false;
    data += n;
    length -= static_cast<size_t>(n);
  }
  return true;
}

}  // namespace

std::string PrintStyleCopyPath(const char* xslPath) {
  std::string path = xslPath != nullptr ? xslPath : "";
  if (path.size() > 4 && path.compare(path.size() - 4, 4, ".xsl") == 0)
    path.resize(path.size() - 4);
  return path + "st.xsl";
}

std::string RewriteDeclarations(const std::string& declarations, const char* fontName,
                                const char* fontSize, const char* lineHeight) {
  std::string out;
  const size_t end = declarations.size();
  size_t i = 0;
  while (i < end) {
    out.push_back(declarations[i++]);
    std::string value;
    if (EndsWithIgnoreCase(out, "font-family:") && !Empty(fontName)) {
      value = std::string("\"") + fontName + "\"";
    } else if (EndsWithIgnoreCase(out, "font-size:") && !Empty(fontSize)) {
      value = std::string(fontSize) + "pt";
    } else if (EndsWithIgnoreCase(out, "line-height:") && !Empty(lineHeight)) {
      value = std::string(lineHeight) + "em";
    } else {
      continue;
    }
    // The old value runs to its ";"; the last one of the block may end at the
    // block's closing brace instead.
    size_t semicolon = declarations.find(';', i);
    size_t close = declarations.rfind('}');
    if (semicolon != std::string::npos && (close == std::string::npos || semicolon < close)) {
      out += value;
      out.push_back(';');
      i = semicolon + 1;
    } else if (close != std::string::npos && close >= i) {
      out += value;
      out.push_back(';');
      i = close;
    }
  }
  return out;
}

bool RewritePrintBlock(const std::string& block, const char* fontName, const char* fontSize,
                       const char* lineHeight, std::string* rewritten, int* changes) {
  rewritten->clear();
  *changes = 0;
  size_t i = 0;
  while (i < block.size()) {
    rewritten->push_back(block[i++]);
    if (!EndsWithIgnoreCase(*rewritten, "body") && !EndsWithIgnoreCase(*rewritten, "h1")) continue;
    while (i < block.size() && (block[i] == ' ' || block[i] == '\t'))
      rewritten->push_back(block[i++]);
    if (i >= block.size() || block[i] != '{') continue;
    size_t close = MatchingBrace(block, i);
    if (close == std::string::npos) return false;
    const std::string declarations = block.substr(i, close - i + 1);
    std::string replaced = RewriteDeclarations(declarations, fontName, fontSize, lineHeight);
    if (!replaced.empty() && replaced != declarations) {
      *rewritten += replaced;
      ++*changes;
    } else {
      *rewritten += declarations;
    }
    i = close + 1;
  }
  return true;
}

int RewritePrintStyle(const char* xslPath, char* copyPath, size_t copyPathSize,
                      const char* fontName, const char* fontSize, const char* lineHeight) {
  if (Empty(xslPath) || copyPath == nullptr || copyPathSize == 0) return -1;
  if (Empty(fontName) && Empty(fontSize) && Empty(lineHeight)) return -1;
  const std::string copy = PrintStyleCopyPath(xslPath);
  // A cut path would name another file.
  if (!CopyText(copyPath, copyPathSize, copy.c_str())) return -1;

  ByteReader reader;
  if (reader.Open(xslPath) != 0) return -1;
  std::string prefix;
  std::string block;
  if (!ReadUpToPrintBlock(&reader, &prefix) || !ReadPrintBlock(&reader, &block)) return -1;
  std::string rewritten;
  int changes = 0;
  if (!RewritePrintBlock(block, fontName, fontSize, lineHeight, &rewritten, &changes)) return -1;
  if (changes == 0) return -1;

  ::unlink(copy.c_str());
  int fd = ::open(copy.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) return -1;
  bool ok = WriteAll(fd, prefix.data(), prefix.size()) &&
            WriteAll(fd, rewritten.data(), rewritten.size());
  // The rest of the stylesheet, as it is stored, to the true end of the
  // file: a byte 0xFF is data, and a read error fails the copy.
  char piece[100];
  size_t filled = 0;
  int c = 0;
  while (ok && (c = reader.Next()) >= 0) {
    piece[filled++] = static_cast<char>(c);
    if (filled == sizeof(piece)) {
      ok = WriteAll(fd, piece, filled);
      filled = 0;
    }
  }
  if (c == ByteReader::kReadFailed) ok = false;
  if (ok && filled > 0) ok = WriteAll(fd, piece, filled);
  if (::close(fd) != 0) ok = false;
  if (!ok) {
    // Half a stylesheet would print a broken report.
    ::unlink(copy.c_str());
    return -1;
  }
  return 0;
}

}  // namespace kavelo::printcontrol
