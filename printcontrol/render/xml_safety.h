// Guards for the XML work on documents that come from the network: nothing
// is ever fetched from outside the two spooled documents, and a document
// cannot expand entities without bound.
#ifndef KAVELO_PRINTCONTROL_XML_SAFETY_H_
#define KAVELO_PRINTCONTROL_XML_SAFETY_H_

#include <xercesc/sax/EntityResolver.hpp>

namespace kavelo::printcontrol {

// Most entity expansions a document may use.  Ordinary stylesheets use a
// few character entities; a hostile one nests them to expand exponentially.
constexpr unsigned long kEntityExpansionLimit = 10000;

// Serves every external entity (a DTD, an external entity, local or by URL)
// as an empty document, so nothing outside the spooled file is read and a
// stylesheet that names a DTD that is not there still parses.
class EmptyEntityResolver : public xercesc::EntityResolver {
 public:
  xercesc::InputSource* resolveEntity(const XMLCh* const publicId,
                                      const XMLCh* const systemId) override;
};

// Removes the XML library's network access for the rest of the process, so
// no URL (a DTD, an xsl:include or a document() call) is ever fetched.
// Needs the XML library initialised; calling it again does nothing.
// Not thread safe: call it while no parse runs.
void DisableXmlNetworkAccess();

// Checks a document before the XSLT processor reads it (the processor's own
// parser has no expansion limit).  A document without a document type
// declaration declares no entities and passes after its first start tag;
// one with a declaration is parsed whole under the expansion limit.  Throws
// XmlException naming the file when the parse fails.  A file that cannot be
// read passes: the processor reports that itself.
void ScreenXmlFile(const char* path);

}  // namespace kavelo::printcontrol

#endif  // KAVELO_PRINTCONTROL_XML_SAFETY_H_
