// A stylesheet's print style: read into the three fields, then written into
// a print-style copy with new values; the block rewrite and the brace
// matcher also get the whole input as a text.
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "fuzz/fuzz_support.h"
#include "printcontrol/layout/print_style.h"
#include "printcontrol/layout/print_style_rewrite.h"

namespace {

constexpr size_t kFieldSize = 512;  // the print control's text fields

bool Terminated(const char* field) { return strnlen(field, kFieldSize) < kFieldSize; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string path = kavelo::fuzz::WriteScratchFile("style.xsl", data, size);
  char* family = new char[kFieldSize];
  char* fontSize = new char[kFieldSize];
  char* lineHeight = new char[kFieldSize];
  family[0] = fontSize[0] = lineHeight[0] = '\0';
  kavelo::printcontrol::PrintStyleFields fields;
  fields.fontFamily = family;
  fields.fontSize = fontSize;
  fields.lineHeight = lineHeight;
  fields.fieldSize = kFieldSize;
  kavelo::printcontrol::ReadPrintStyle(path.c_str(), fields);
  if (!Terminated(family) || !Terminated(fontSize) || !Terminated(lineHeight)) __builtin_trap();

  char copyPath[kFieldSize] = "";
  int result = kavelo::printcontrol::RewritePrintStyle(path.c_str(), copyPath, sizeof copyPath,
                                                       "Courier New", "9.5", "1.25");
  if (result == 0 && access(copyPath, F_OK) != 0) __builtin_trap();
  if (result != 0 && copyPath[0] != '\0' && access(copyPath, F_OK) == 0) __builtin_trap();

  const std::string text(reinterpret_cast<const char*>(data), size);
  std::string rewritten;
  int changes = 0;
  kavelo::printcontrol::RewritePrintBlock(text, "Arial", "12", "1.5", &rewritten, &changes);
  kavelo::printcontrol::RewriteDeclarations(text, "", "10", "");
  size_t open = text.find('{');
  if (open != std::string::npos) {
    size_t close = kavelo::printcontrol::MatchingBrace(text, open);
    if (close != std::string::npos && (close <= open || text[close] != '}')) __builtin_trap();
  }
  delete[] family;
  delete[] fontSize;
  delete[] lineHeight;
  kavelo::fuzz::ClearScratchDir();
  return 0;
}
