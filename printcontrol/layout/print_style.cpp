#include "printcontrol/layout/print_style.h"

#include <strings.h>

#include <cctype>

#include "printcontrol/job/text_field.h"
#include "printcontrol/render/byte_reader.h"

namespace kavelo::printcontrol {

namespace {

constexpr char kPrintMedia[] = "@media print";
constexpr size_t kPrintMediaLength = sizeof(kPrintMedia) - 1;

bool EndsWithIgnoreCase(const std::string& text, const char* tail, size_t tailLength) {
  return text.size() >= tailLength &&
         strncasecmp(text.c_str() + text.size() - tailLength, tail, tailLength) == 0;
}

bool StartsWithIgnoreCase(const std::string& text, size_t at, const char* word) {
  size_t n = std::char_traits<char>::length(word);
  return at + n <= text.size() && strncasecmp(text.c_str() + at, word, n) == 0;
}

// The position of the brace that opens the first body rule: "body" in any
// case (also inside a longer word) followed, after blanks and tabs, by "{".
size_t FindBodyRule(const std::string& block) {
  for (size_t at = 0; at + 4 <= block.size(); ++at) {
    if (!StartsWithIgnoreCase(block, at, "body")) continue;
    size_t next = at + 4;
    while (next < block.size() && (block[next] == ' ' || block[next] == '\t')) ++next;
    if (next < block.size() && block[next] == '{') return next;
  }
  return std::string::npos;
}

// The text after the colon at from: blanks skipped, up to the next ";" or the
// end; a final unit (at least three characters in all) is removed.
std::string ValueWithoutUnit(const std::string& rule, size_t from, const char* unit) {
  while (from < rule.size() && rule[from] == ' ') ++from;
  size_t end = rule.find(';', from);
  std::string value = rule.substr(from, end == std::string::npos ? std::string::npos : end - from);
  // The last declaration of a rule may go without ";": the blanks before the
  // rule's closing brace are no part of its value.
  if (end == std::string::npos) {
    while (!value.empty() && std::isspace(static_cast<unsigned char>(value.back())))
      value.pop_back();
  }
  if (value.size() >= 3 && EndsWithIgnoreCase(value, unit, 2)) value.resize(value.size() - 2);
  return value;
}

}  // namespace

bool ReadUpToPrintBlock(ByteReader* reader, std::string* prefix) {
  // Only the last few bytes decide; the prefix, when wanted, keeps them all.
  std::string tail;
  for (;;) {
    int c = reader->Next();
    if (c < 0) return false;
    if (prefix != nullptr) prefix->push_back(static_cast<char>(c));
    tail.push_back(static_cast<char>(c));
    if (tail.size() > kPrintMediaLength) tail.erase(0, tail.size() - kPrintMediaLength);
    if (EndsWithIgnoreCase(tail, kPrintMedia, kPrintMediaLength)) return true;
  }
}

bool ReadPrintBlock(ByteReader* reader, std::string* block) {
  int depth = 0;
  for (;;) {
    int c = reader->Next();
    if (c < 0) return false;
    block->push_back(static_cast<char>(c));
    if (c == '{') {
      ++depth;
    } else if (c == '}') {
      if (depth < 2) return true;
      --depth;
    }
  }
}

size_t MatchingBrace(const std::string& text, size_t open) {
  int depth = 0;
  for (size_t i = open; i < text.size(); ++i) {
    if (text[i] == '{') {
      ++depth;
    } else if (text[i] == '}') {
      if (--depth == 0) return i;
    }
  }
  return std::string::npos;
}

void ReadPrintStyle(const char* xslPath, const PrintStyleFields& fields) {
  if (xslPath == nullptr || xslPath[0] == '\0') return;
  if (fields.fontFamily == nullptr || fields.fontSize == nullptr || fields.lineHeight == nullptr ||
      fields.fieldSize == 0) {
    return;
  }
  fields.fontFamily[0] = '\0';
  fields.fontSize[0] = '\0';
  fields.lineHeight[0] = '\0';

  ByteReader reader;
  if (reader.Open(xslPath) != 0) return;
  std::string block;
  if (!ReadUpToPrintBlock(&reader, nullptr) || !ReadPrintBlock(&reader, &block)) return;
  size_t open = FindBodyRule(block);
  if (open == std::string::npos) return;
  size_t close = MatchingBrace(block, open);
  if (close == std::string::npos) return;
  const std::string rule = block.substr(open + 1, close - open - 1);

  for (size_t at = 0; at < rule.size(); ++at) {
    if (StartsWithIgnoreCase(rule, at, "font-family:")) {
      size_t from = at + 12;
      size_t quote = rule.find_first_of("\";", from);
      if (quote == std::string::npos || rule[quote] == ';') continue;
      size_t end = rule.find('"', quote + 1);
      std::string family =
          rule.substr(quote + 1, end == std::string::npos ? std::string::npos : end - quote - 1);
      CopyText(fields.fontFamily, fields.fieldSize, family.c_str());
    } else if (StartsWithIgnoreCase(rule, at, "font-size:")) {
      CopyText(fields.fontSize, fields.fieldSize, ValueWithoutUnit(rule, at + 10, "pt").c_str());
    } else if (StartsWithIgnoreCase(rule, at, "line-height:")) {
      CopyText(fields.lineHeight, fields.fieldSize, ValueWithoutUnit(rule, at + 12, "em").c_str());
    }
  }
}

}  // namespace kavelo::printcontrol
