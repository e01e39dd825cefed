// The output sink of the XSLT processor: streams the HTML into a file,
// folding line ends to a line feed and writing two UTF-8 sequences as HTML
// references (U+00A0 as "&nbsp;", U+0099 as "&#153;").
#ifndef KAVELO_PRINTCONTROL_HTML_OUTPUT_SINK_H_
#define KAVELO_PRINTCONTROL_HTML_OUTPUT_SINK_H_

#include <cstddef>
#include <cstdio>

namespace kavelo::printcontrol {

class HtmlOutputSink {
 public:
  // What the processor hands back to the callbacks.  `file` is kept open by
  // the caller for the whole transform.
  struct Context {
    FILE* file = nullptr;
    unsigned char lastByte = 0;  // last byte of the previous chunk, 0 at the start
    // The file may hold at most this many bytes (negative: no limit); a
    // chunk that would pass it is not written and sets overLimit.
    long long limit = -1;
    long long written = 0;
    bool overLimit = false;
  };

  // Output callback.  The processor may cut its output anywhere, so a
  // carriage return and its line feed may arrive in two chunks; a two-byte
  // sequence cut in two is copied as it is.  Returns `length` when
  // everything was written, less after a short file write or at the limit.
  static size_t Write(const char* chunk, size_t length, void* context);
  // Flush callback: flushes the file.
  static void Flush(void* context);
};

}  // namespace kavelo::printcontrol

#endif  // KAVELO_PRINTCONTROL_HTML_OUTPUT_SINK_H_
