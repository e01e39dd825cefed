// One HTML file from a report and a stylesheet through the XSLT processor.
#ifndef KAVELO_PRINTCONTROL_TRANSFORM_TO_HTML_H_
#define KAVELO_PRINTCONTROL_TRANSFORM_TO_HTML_H_

namespace kavelo::printcontrol {

// The three paths of one transform, each at most 1023 characters; a null
// or empty argument leaves its field empty.
struct TransformRequest {
  TransformRequest(const char* xml, const char* xsl, const char* html);

  char xmlPath[1024];
  char xslPath[1024];
  char htmlPath[1024];
};

// Applies the stylesheet at `xslPath` to the report at `xmlPath` and writes
// the result to `htmlPath` (any old file there is replaced).  With
// `styleFlag` 1 a successful result then goes through removeEquals
// (remove_equals.h).
// `error` (at least 1024 bytes) is empty on return on success, else it holds
// at most 1004 characters of the failure.  Documents that would make the
// processor expand entities without bound are refused; nothing is fetched
// from the network.  The XML library and the processor must have been
// initialised.
// With maxHtmlBytes 0 or more the HTML file may hold at most that many
// bytes: a transform that would write more fails, and *overLimit (when
// given) is set.
void TransformToHtml(const char* xmlPath, const char* xslPath, const char* htmlPath, int styleFlag,
                     char* error, long long maxHtmlBytes = -1, bool* overLimit = nullptr);

}  // namespace kavelo::printcontrol

#endif  // KAVELO_PRINTCONTROL_TRANSFORM_TO_HTML_H_
