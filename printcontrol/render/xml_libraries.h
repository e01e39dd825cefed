// The two XML libraries of the print control, Xerces-C and Xalan-C: set up
// once per run before any document work and shut down once at its end.
#ifndef KAVELO_PRINTCONTROL_XML_LIBRARIES_H_
#define KAVELO_PRINTCONTROL_XML_LIBRARIES_H_

namespace kavelo::printcontrol {

class XmlLibraries {
 public:
  XmlLibraries() = default;
  // Terminates what Initialize set up.
  ~XmlLibraries();
  XmlLibraries(const XmlLibraries&) = delete;
  XmlLibraries& operator=(const XmlLibraries&) = delete;

  // XMLPlatformUtils::Initialize, then XalanTransformer::initialize.
  // Returns false when either fails (what did start is still terminated).
  bool Initialize();
  // XalanTransformer::terminate, then XMLPlatformUtils::Terminate, each only
  // when it was initialised.  Safe to call more than once.
  void Terminate();

 private:
  bool xercesUp_ = false;
  bool xalanUp_ = false;
};

}  // namespace kavelo::printcontrol

#endif  // KAVELO_PRINTCONTROL_XML_LIBRARIES_H_
