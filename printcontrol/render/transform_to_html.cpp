#include "printcontrol/render/transform_to_html.h"

#include <cstdio>

#include <xalanc/XSLT/XSLTInputSource.hpp>
#include <xalanc/XalanTransformer/XalanTransformer.hpp>

#include "printcontrol/render/html_output_sink.h"
#include "printcontrol/render/remove_equals.h"
#include "printcontrol/render/xml_exception.h"
#include "printcontrol/render/xml_safety.h"

namespace kavelo::printcontrol {

namespace {

constexpr int kErrorLimit = 1004;

void RunTransform(const TransformRequest& request, long long maxHtmlBytes, bool* overLimit) {
  remove(request.htmlPath);
  HtmlOutputSink::Context sink;
  sink.limit = maxHtmlBytes;
  sink.file = fopen(request.htmlPath, "w");
  if (sink.file == nullptr) {
    throw XmlException::Format("Error: Can't open file:%s", request.htmlPath);
  }
  int status = 0;
  char message[XmlException::kMaxMessage + 1] = "";
  try {
    ScreenXmlFile(request.xslPath);
    ScreenXmlFile(request.xmlPath);
    xalanc::XalanTransformer transformer;
    EmptyEntityResolver resolver;
    transformer.setEntityResolver(&resolver);
    // Warnings and xsl:message output would go to standard error.
    transformer.setWarningStream(nullptr);
    transformer.setErrorStream(nullptr);
    {
      const xalanc::XSLTInputSource stylesheet(request.xslPath);
      const xalanc::XSLTInputSource report(request.xmlPath);
      status = transformer.transform(report, stylesheet, &sink, HtmlOutputSink::Write,
                                     HtmlOutputSink::Flush);
    }
    if (status != 0) CopyLimited(message, transformer.getLastError(), XmlException::kMaxMessage);
  } catch (...) {
    fclose(sink.file);
    if (sink.overLimit && overLimit != nullptr) *overLimit = true;
    throw;
  }
  if (sink.overLimit && overLimit != nullptr) *overLimit = true;
  if (fclose(sink.file) != 0 && status == 0) {
    throw XmlException::Format("Error: Can't write file:%s", request.htmlPath);
  }
  if (status != 0) throw XmlException(message);
}

}  // namespace

TransformRequest::TransformRequest(const char* xml, const char* xsl, const char* html) {
  CopyLimited(xmlPath, xml, sizeof(xmlPath) - 1);
  CopyLimited(xslPath, xsl, sizeof(xslPath) - 1);
  CopyLimited(htmlPath, html, sizeof(htmlPath) - 1);
}

void TransformToHtml(const char* xmlPath, const char* xslPath, const char* htmlPath, int styleFlag,
                     char* error, long long maxHtmlBytes, bool* overLimit) {
  TransformRequest request(xmlPath, xslPath, htmlPath);
  error[0] = '\0';
  try {
    DisableXmlNetworkAccess();
    RunTransform(request, maxHtmlBytes, overLimit);
  } catch (const XmlException& e) {
    CopyLimited(error, e.Message(), kErrorLimit);
  } catch (...) {
    snprintf(error, kErrorLimit + 1, "%s", "Find error in creating html pages.");
  }
  if (error[0] == '\0' && styleFlag == 1) removeEquals(request.htmlPath, error);
}

}  // namespace kavelo::printcontrol
