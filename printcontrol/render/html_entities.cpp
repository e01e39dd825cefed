#include "printcontrol/render/html_entities.h"

#include <cstring>

#include "printcontrol/job/text_field.h"
#include "printcontrol/render/string_list.h"

namespace kavelo::printcontrol {

namespace {

struct Entity {
  const char* reference;
  unsigned char byte;
};

// In the order they are compared.  The Latin-1 names follow their code
// points 192..255.
constexpr Entity kEntities[] = {
    {"&nbsp;", 32},    {"&amp;", 38},     {"&lt;", 60},      {"&gt;", 62},      {"&#153;", 153},
    {"&Agrave;", 192}, {"&Aacute;", 193}, {"&Acirc;", 194},  {"&Atilde;", 195}, {"&Auml;", 196},
    {"&Aring;", 197},  {"&AElig;", 198},  {"&Ccedil;", 199}, {"&Egrave;", 200}, {"&Eacute;", 201},
    {"&Ecirc;", 202},  {"&Euml;", 203},   {"&Igrave;", 204}, {"&Iacute;", 205}, {"&Icirc;", 206},
    {"&Iuml;", 207},   {"&ETH;", 208},    {"&Ntilde;", 209}, {"&Ograve;", 210}, {"&Oacute;", 211},
    {"&Ocirc;", 212},  {"&Otilde;", 213}, {"&Ouml;", 214},   {"&times;", 215},  {"&Oslash;", 216},
    {"&Ugrave;", 217}, {"&Uacute;", 218}, {"&Ucirc;", 219},  {"&Uuml;", 220},   {"&Yacute;", 221},
    {"&THORN;", 222},  {"&szlig;", 223},  {"&agrave;", 224}, {"&aacute;", 225}, {"&acirc;", 226},
    {"&atilde;", 227}, {"&auml;", 228},   {"&aring;", 229},  {"&aelig;", 230},  {"&ccedil;", 231},
    {"&egrave;", 232}, {"&eacute;", 233}, {"&ecirc;", 234},  {"&euml;", 235},   {"&igrave;", 236},
    {"&iacute;", 237}, {"&icirc;", 238},  {"&iuml;", 239},   {"&eth;", 240},    {"&ntilde;", 241},
    {"&ograve;", 242}, {"&oacute;", 243}, {"&ocirc;", 244},  {"&otilde;", 245}, {"&ouml;", 246},
    {"&divide;", 247}, {"&oslash;", 248}, {"&ugrave;", 249}, {"&uacute;", 250}, {"&ucirc;", 251},
    {"&uuml;", 252},   {"&yacute;", 253}, {"&thorn;", 254},  {"&yuml;", 255},
};
static_assert(sizeof(kEntities) / sizeof(kEntities[0]) == 5 + 64, "entity table");

// A reference is at most this long, ampersand and semicolon included.
constexpr size_t kMaxReference = 10;

}  // namespace

void DecodeHtmlEntities(const char* source, char* destination, size_t destinationSize) {
  if (destination == nullptr || destinationSize == 0) return;
  destination[0] = '\0';
  if (source == nullptr || source[0] == '\0') return;
  size_t length = std::strlen(source);
  StringList decoded("string1");
  size_t i = 0;
  while (i < length) {
    if (source[i] != '&') {
      decoded.AppendChar(source[i]);
      ++i;
      continue;
    }
    size_t semicolon = i;
    while (semicolon < length && semicolon < i + kMaxReference && source[semicolon] != ';') {
      ++semicolon;
    }
    bool matched = false;
    if (semicolon < length && source[semicolon] == ';') {
      size_t candidateLength = semicolon - i + 1;
      for (const Entity& entity : kEntities) {
        if (std::strlen(entity.reference) == candidateLength &&
            std::memcmp(entity.reference, source + i, candidateLength) == 0) {
          decoded.AppendChar(static_cast<char>(entity.byte));
          i = semicolon + 1;
          matched = true;
          break;
        }
      }
    }
    if (!matched) {
      // The ampersand alone; the rest of the candidate is ordinary text.
      decoded.AppendChar('&');
      ++i;
    }
  }
  CopyText(destination, destinationSize, decoded.Text());
}

}  // namespace kavelo::printcontrol
