// Initialises the XML library and the XSLT processor once for the whole test
// binary, as the print control does once per run.
#include <gtest/gtest.h>
#include <xalanc/XalanTransformer/XalanTransformer.hpp>
#include <xercesc/util/PlatformUtils.hpp>

namespace {

class XmlLibrariesEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    xercesc::XMLPlatformUtils::Initialize();
    xalanc::XalanTransformer::initialize();
  }
  void TearDown() override {
    xalanc::XalanTransformer::terminate();
    xercesc::XMLPlatformUtils::Terminate();
  }
};

[[maybe_unused]] ::testing::Environment* const kXmlLibraries =
    ::testing::AddGlobalTestEnvironment(new XmlLibrariesEnvironment);

}  // namespace

// Xerces-C 3.2 leaks about 130 bytes in XMLScanner::scanProlog each time a
// document's external DTD is read with validation on (the filter's
// Val_Auto), whether from a file or from an entity resolver.  It is bounded
// per parse and inside the library; keep LeakSanitizer quiet about it only.
extern "C" const char* __lsan_default_suppressions() {
  return "leak:xercesc_3_2::XMLScanner::scanProlog\n";
}
