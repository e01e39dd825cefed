#include "printcontrol/render/xml_libraries.h"

#include <xalanc/XalanTransformer/XalanTransformer.hpp>
#include <xercesc/util/PlatformUtils.hpp>

namespace kavelo::printcontrol {

XmlLibraries::~XmlLibraries() { Terminate(); }

bool XmlLibraries::Initialize() {
  try {
    xercesc::XMLPlatformUtils::Initialize();
    xercesUp_ = true;
    xalanc::XalanTransformer::initialize();
    xalanUp_ = true;
  } catch (...) {
    // Neither library lets a set-up failure become a crash of the job.
    return false;
  }
  return true;
}

void XmlLibraries::Terminate() {
  try {
    if (xalanUp_) xalanc::XalanTransformer::terminate();
  } catch (...) {
  }
  xalanUp_ = false;
  try {
    if (xercesUp_) xercesc::XMLPlatformUtils::Terminate();
  } catch (...) {
  }
  xercesUp_ = false;
}

}  // namespace kavelo::printcontrol
