#include "printcontrol/render/xml_safety.h"

#include <memory>

#include <xercesc/framework/MemBufInputSource.hpp>
#include <xercesc/sax/SAXParseException.hpp>
#include <xercesc/sax2/DefaultHandler.hpp>
#include <xercesc/sax2/SAX2XMLReader.hpp>
#include <xercesc/sax2/XMLReaderFactory.hpp>
#include <xercesc/util/PlatformUtils.hpp>
#include <xercesc/util/SecurityManager.hpp>
#include <xercesc/util/XMLNetAccessor.hpp>
#include <xercesc/util/XMLUni.hpp>

#include "printcontrol/render/xml_exception.h"
#include "printcontrol/render/xml_text.h"

namespace kavelo::printcontrol {

using xercesc::XMLUni;

xercesc::InputSource* EmptyEntityResolver::resolveEntity(const XMLCh* const, const XMLCh* const) {
  static const XMLByte kEmpty[1] = {0};
  // The parser adopts and deletes the source.
  return new xercesc::MemBufInputSource(kEmpty, 0, "external-resource-not-loaded", false);
}

void DisableXmlNetworkAccess() {
  delete xercesc::XMLPlatformUtils::fgNetAccessor;
  xercesc::XMLPlatformUtils::fgNetAccessor = nullptr;
}

namespace {

// Ends a screening parse early: the document has no declaration.
struct NoDoctype {};

class ScreenHandler : public xercesc::DefaultHandler {
 public:
  void startDTD(const XMLCh* const, const XMLCh* const, const XMLCh* const) override {
    saw_doctype_ = true;
  }
  void startElement(const XMLCh* const, const XMLCh* const, const XMLCh* const,
                    const xercesc::Attributes&) override {
    if (!saw_doctype_) throw NoDoctype();
  }
  void fatalError(const xercesc::SAXParseException& e) override {
    if (!failed_) {
      failed_ = true;
      NarrowXmlText(e.getMessage(), 900, message_, sizeof(message_));
    }
    throw e;
  }

  bool saw_doctype() const { return saw_doctype_; }
  bool failed() const { return failed_; }
  const char* message() const { return message_; }

 private:
  bool saw_doctype_ = false;
  bool failed_ = false;
  char message_[901] = {};
};

}  // namespace

void ScreenXmlFile(const char* path) {
  if (path == nullptr || *path == '\0') return;
  std::unique_ptr<xercesc::SAX2XMLReader> reader(xercesc::XMLReaderFactory::createXMLReader());
  xercesc::SecurityManager security;
  security.setEntityExpansionLimit(kEntityExpansionLimit);
  EmptyEntityResolver resolver;
  ScreenHandler handler;
  reader->setFeature(XMLUni::fgSAX2CoreValidation, false);
  reader->setFeature(XMLUni::fgSAX2CoreNameSpaces, false);
  reader->setFeature(XMLUni::fgXercesLoadExternalDTD, false);
  reader->setFeature(XMLUni::fgXercesDisableDefaultEntityResolution, true);
  reader->setProperty(XMLUni::fgXercesSecurityManager, &security);
  reader->setEntityResolver(&resolver);
  reader->setContentHandler(&handler);
  reader->setLexicalHandler(&handler);
  reader->setErrorHandler(&handler);
  try {
    reader->parse(path);
  } catch (const NoDoctype&) {
    return;
  } catch (const xercesc::SAXParseException&) {
  } catch (const xercesc::XMLException&) {
    return;  // unreadable file: left to the processor's own report
  }
  if (handler.saw_doctype() && handler.failed()) {
    throw XmlException::Format("Refused %s: %s", path, handler.message());
  }
}

}  // namespace kavelo::printcontrol
