// The filter that copies a stylesheet without its hidden blocks: every div
// element whose style attribute switches the display off is dropped with
// everything inside it.  The caller transforms with the copy and falls back
// to the original stylesheet when the copy cannot be written or used.
#ifndef KAVELO_PRINTCONTROL_HIDDEN_BLOCK_FILTER_H_
#define KAVELO_PRINTCONTROL_HIDDEN_BLOCK_FILTER_H_

#include <string>
#include <vector>

#include <xercesc/parsers/SAXParser.hpp>
#include <xercesc/sax/HandlerBase.hpp>

#include "printcontrol/render/xml_safety.h"

namespace kavelo::printcontrol {

// Whether an attribute list holds a style attribute that hides its element:
// the first attribute named "style" (any case) whose value, in small letters
// and without trailing blanks, is at least 12 characters long, ends in
// "none" and, without leading blanks, begins with "display".  So
// "display:none" and " DISPLAY : NONE " hide, "display:none;" does not.
bool IsHiddenStyle(xercesc::AttributeList& attributes);
// The same test on one style value (single-byte text).
bool IsHiddenStyleValue(const char* value);

// SAX document handler that re-serialises the events it keeps.  Processing
// instructions, the document type declaration and comments are not copied.
// Parse errors are swallowed: the copy holds what was collected until then.
class HiddenBlockFilter : public xercesc::HandlerBase {
 public:
  HiddenBlockFilter() = default;
  HiddenBlockFilter(const HiddenBlockFilter&) = delete;
  HiddenBlockFilter& operator=(const HiddenBlockFilter&) = delete;

  void startElement(const XMLCh* const name, xercesc::AttributeList& attributes) override;
  void endElement(const XMLCh* const name) override;
  void characters(const XMLCh* const chars, const XMLSize_t length) override;
  void ignorableWhitespace(const XMLCh* const chars, const XMLSize_t length) override;
  void warning(const xercesc::SAXParseException&) override {}
  void error(const xercesc::SAXParseException&) override {}
  void fatalError(const xercesc::SAXParseException&) override {}
  // Every external entity (a DTD, local or by URL) reads as empty.
  xercesc::InputSource* resolveEntity(const XMLCh* const publicId,
                                      const XMLCh* const systemId) override;

  // The serialised pieces in document order.
  const std::vector<std::string>& output() const { return output_; }

 private:
  enum Event { kNone = 0, kStartTag = 1, kEndTag = 2, kContent = 3 };

  void Content(const XMLCh* chars, XMLSize_t length);

  std::vector<std::string> output_;
  std::string startName_;  // the most recent start tag's name
  std::string endName_;    // the most recent end tag's name
  int skipDepth_ = 0;      // open hidden divs; nothing is copied while above 0
  Event lastEvent_ = kNone;
  EmptyEntityResolver resolver_;
};

// Parses `path` with a SAX parser on `handler` (document and error handler
// at once; may be null).  External entities resolve through the handler,
// external DTDs are not loaded unless validation needs them, and entity
// expansion is bounded.  A library exception becomes XmlException with the
// library's message in escaped form.  A missing file is not an exception:
// the parser reports it to the handler's fatalError.
void ParseXmlFile(const char* path, xercesc::HandlerBase* handler, bool doNamespaces, bool doSchema,
                  xercesc::SAXParser::ValSchemes validationScheme);

// Writes the copy of the stylesheet at `xslPath` without hidden blocks to
// `outputPath`.  `error` (at least 1024 bytes) is empty on return when the
// copy was written, else it holds the message.  An existing file at
// `outputPath` is deleted whatever the outcome.
void WriteFilteredStylesheet(const char* xslPath, const char* outputPath, char* error);

}  // namespace kavelo::printcontrol

#endif  // KAVELO_PRINTCONTROL_HIDDEN_BLOCK_FILTER_H_
