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
