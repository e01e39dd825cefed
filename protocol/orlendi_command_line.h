// orlendi's command line: the print control formats it, orlendi parses it.
//
//   "DIR/orlendi" "DIR/orlendi" html=PATH;xsl=PATH;printerName=NAME;copy=N;
//   orien=N;eventsource=NAME;unit=N;left=X;right=X;top=X;bottom=X;colprint=N;
//   lock=N;[pdf=PATH;]
// With pdf, orlendi only renders: the PDF is written to PATH and kept, and
// nothing is spooled (the print control spools it, in its own order).
// The key part is not quoted, so the system splits it into arguments at its
// blanks.  orlendi skips the leading arguments that hold no "=" (the program
// paths) and joins the rest with single blanks; a run of blanks inside a
// value therefore arrives as one blank (the print control's own command line
// behaves the same way).
#ifndef KAVELO_PROTOCOL_ORLENDI_COMMAND_LINE_H_
#define KAVELO_PROTOCOL_ORLENDI_COMMAND_LINE_H_

#include <cstddef>
#include <string>

namespace kavelo::protocol {

// The values the print control writes, as it holds them (numbers are not
// brought into range here: orlendi's parse does that).
struct OrlendiArguments {
  std::string htmlPath;
  std::string xslPath;
  std::string printerName;
  int copies = 1;
  int orientation = 1;
  std::string eventSource;
  int unit = 0;
  std::string marginLeft, marginRight, marginTop, marginBottom;
  int color = 0;
  int lock = 0;
  std::string pdfPath;  // empty: render and spool; else render into it only
};

// The key part: "html=...;xsl=...;printerName=...;copy=N;orien=N;
// eventsource=...;unit=N;left=X;right=X;top=X;bottom=X;colprint=N;lock=N;"
// and "pdf=...;" when a PDF path is given.
std::string FormatOrlendiKeys(const OrlendiArguments& arguments);

// The whole line: the program path, quoted, twice, then the key part.
std::string FormatOrlendiCommandLine(const std::string& programPath,
                                     const OrlendiArguments& arguments);

// What orlendi reads from the key part.
struct PrintRequest {
  std::string htmlPath;
  std::string xslPath;  // passed along by the print control; not needed here
  std::string printerName;
  int copies = 1;       // at least 1
  int orientation = 1;  // 1 portrait, 2 landscape
  std::string eventSource;
  int unit = 0;  // margins: 1 inches, anything else millimetres
  std::string marginLeft, marginRight, marginTop, marginBottom;  // as given
  bool color = false;
  bool lock = false;  // the print control holds the job afterwards
  std::string pdfPath;  // not empty: render into this file, spool nothing
};

// The key text of an argument vector: the arguments after the leading ones
// without "=", joined by single blanks (empty arguments add nothing).
std::string JoinKeyArguments(int argc, const char* const* argv);

// The value of key in text: found at the first occurrence of the key's name
// directly followed by "=" at or after from (names compared with regard to
// case); the value runs to the next ";" or the end.  Empty when absent.
std::string KeyValue(const std::string& text, const char* key, size_t from = 0);

// Reads every key.  The printer name may hold blanks and semicolons: its
// value runs to the first ";copy=" after it (or the end), and the keys after
// it are looked up only behind it, so a printer name never shadows them.
PrintRequest ParsePrintRequest(const std::string& text);

}  // namespace kavelo::protocol

#endif  // KAVELO_PROTOCOL_ORLENDI_COMMAND_LINE_H_
