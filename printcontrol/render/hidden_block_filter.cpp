#include "printcontrol/render/hidden_block_filter.h"

#include <strings.h>

#include <cstdio>
#include <cstring>

#include <xercesc/sax/AttributeList.hpp>
#include <xercesc/util/SecurityManager.hpp>
#include <xercesc/util/XMLException.hpp>

#include "printcontrol/render/xml_escape.h"
#include "printcontrol/render/xml_exception.h"
#include "printcontrol/render/xml_text.h"

namespace kavelo::printcontrol {

namespace {

constexpr size_t kFieldSize = 512;  // 511 characters and the NUL
constexpr int kErrorLimit = 1004;

bool IsDiv(const std::string& name) { return strcasecmp(name.c_str(), "div") == 0; }

std::string NameOf(const XMLCh* name) {
  std::string out;
  AppendXmlUtf8(name, std::char_traits<char16_t>::length(name), XmlEscape::kNone, &out);
  return out;
}

}  // namespace

bool IsHiddenStyleValue(const char* value) {
  char text[kFieldSize];
  snprintf(text, sizeof(text), "%s", value);
  size_t length = strlen(text);
  for (size_t i = 0; i < length; ++i) {
    if (text[i] >= 'A' && text[i] <= 'Z') text[i] = static_cast<char>(text[i] - 'A' + 'a');
  }
  while (length > 0 && text[length - 1] == ' ') text[--length] = '\0';
  if (length < 12 || strcmp(text + length - 4, "none") != 0) return false;
  const char* start = text;
  while (*start == ' ') ++start;
  return strncmp(start, "display", 7) == 0;
}

bool IsHiddenStyle(xercesc::AttributeList& attributes) {
  for (XMLSize_t i = 0; i < attributes.getLength(); ++i) {
    char name[kFieldSize];
    NarrowXmlText(attributes.getName(i), kFieldSize - 1, name, sizeof(name));
    if (strcasecmp(name, "style") != 0) continue;
    char value[kFieldSize];
    NarrowXmlText(attributes.getValue(i), kFieldSize - 1, value, sizeof(value));
    if (IsHiddenStyleValue(value)) return true;
  }
  return false;
}

void HiddenBlockFilter::startElement(const XMLCh* const name, xercesc::AttributeList& attributes) {
  lastEvent_ = kStartTag;
  startName_ = NameOf(name);
  if (IsDiv(startName_)) {
    if (skipDepth_ > 0) {
      ++skipDepth_;  // a div nested inside a hidden block
      return;
    }
    if (IsHiddenStyle(attributes)) skipDepth_ = 1;
  }
  if (skipDepth_ > 0) return;
  std::string tag = "<" + startName_;
  for (XMLSize_t i = 0; i < attributes.getLength(); ++i) {
    tag += ' ';
    tag += NameOf(attributes.getName(i));
    tag += "=\"";
    const XMLCh* value = attributes.getValue(i);
    AppendXmlUtf8(value, std::char_traits<char16_t>::length(value), XmlEscape::kAttribute, &tag);
    tag += '"';
  }
  tag += '>';
  output_.push_back(std::move(tag));
}

void HiddenBlockFilter::endElement(const XMLCh* const name) {
  Event previous = lastEvent_;
  lastEvent_ = kEndTag;
  endName_ = NameOf(name);
  if (IsDiv(endName_) && skipDepth_ > 0) {
    --skipDepth_;
    return;
  }
  if (skipDepth_ > 0) return;
  if (previous == kStartTag && strcasecmp(endName_.c_str(), startName_.c_str()) == 0 &&
      !output_.empty()) {
    // Nothing, not even whitespace, since the start tag: an empty-element tag.
    std::string& last = output_.back();
    last.insert(last.size() - 1, "/");
    return;
  }
  output_.push_back("</" + endName_ + ">");
}

void HiddenBlockFilter::characters(const XMLCh* const chars, const XMLSize_t length) {
  Content(chars, length);
}

void HiddenBlockFilter::ignorableWhitespace(const XMLCh* const chars, const XMLSize_t length) {
  Content(chars, length);
}

void HiddenBlockFilter::Content(const XMLCh* chars, XMLSize_t length) {
  lastEvent_ = kContent;
  if (skipDepth_ > 0) return;
  std::string piece;
  AppendXmlUtf8(chars, length, XmlEscape::kText, &piece);
  output_.push_back(std::move(piece));
}

xercesc::InputSource* HiddenBlockFilter::resolveEntity(const XMLCh* const publicId,
                                                       const XMLCh* const systemId) {
  return resolver_.resolveEntity(publicId, systemId);
}

void ParseXmlFile(const char* path, xercesc::HandlerBase* handler, bool doNamespaces, bool doSchema,
                  xercesc::SAXParser::ValSchemes validationScheme) {
  xercesc::SAXParser parser;
  xercesc::SecurityManager security;
  security.setEntityExpansionLimit(kEntityExpansionLimit);
  parser.setValidationScheme(validationScheme);
  parser.setDoNamespaces(doNamespaces);
  parser.setDoSchema(doSchema);
  parser.setDocumentHandler(handler);
  parser.setErrorHandler(handler);
  parser.setEntityResolver(handler);
  parser.setLoadExternalDTD(false);
  parser.setDisableDefaultEntityResolution(true);
  parser.setSecurityManager(&security);
  parser.useCachedGrammarInParse(false);
  try {
    parser.parse(path);
  } catch (const xercesc::XMLException& e) {
    // The escaped form is cut before a reference that would not fit whole.
    char message[XmlException::kMaxMessage + 1];
    EscapeXmlText(e.getMessage(), message, sizeof(message), XmlException::kMaxMessage);
    throw XmlException(message);
  }
}

void WriteFilteredStylesheet(const char* xslPath, const char* outputPath, char* error) {
  error[0] = '\0';
  char path[1024];
  snprintf(path, sizeof(path), "%s", xslPath ? xslPath : "");
  DisableXmlNetworkAccess();
  HiddenBlockFilter filter;
  try {
    ParseXmlFile(path, &filter, false, false, xercesc::SAXParser::Val_Auto);
  } catch (const XmlException& e) {
    CopyLimited(error, e.Message(), kErrorLimit);
  } catch (...) {
    snprintf(error, kErrorLimit + 1, "%s", "Find error in creating xml pages.");
  }
  remove(outputPath);
  if (error[0] != '\0') return;
  FILE* file = fopen(outputPath, "w+");
  if (file == nullptr) {
    snprintf(error, kErrorLimit + 1, "Can't create file %s.", outputPath);
    return;
  }
  bool ok = fputs("<?xml version=\"1.0\"?>\n", file) >= 0;
  for (const std::string& piece : filter.output()) {
    if (!ok) break;
    ok = fwrite(piece.data(), 1, piece.size(), file) == piece.size();
  }
  if (fclose(file) != 0) ok = false;
  if (!ok) {
    // A short copy would drop part of the stylesheet without a word.
    remove(outputPath);
    snprintf(error, kErrorLimit + 1, "Can't create file %s.", outputPath);
  }
}

}  // namespace kavelo::printcontrol
