// HTML to PDF through WeasyPrint with a time limit: by the account's warm
// worker (render_worker.h), or, when that cannot be reached or started or
// KAVELO_ORLENDI_COLD is 1, by a Python child program of its own (never a
// shell).  The HTML comes from a client's report and stylesheet:
// besides the HTML file and the user stylesheet the renderer reads only
// data: URLs and, when KAVELO_ORLENDI_ASSETS names a folder, the files
// inside it; never another local file, never the network.  Attachments
// carry no local file.
#ifndef KAVELO_ORLENDI_HTML_RENDERER_H_
#define KAVELO_ORLENDI_HTML_RENDERER_H_

#include <string>

#include "orlendi/render_worker.h"

namespace kavelo::orlendi {

// The Python that has WeasyPrint (Debian's python3-weasyprint).
constexpr char kPythonPath[] = "/usr/bin/python3";
// Rendering stops after this long: the print control gives orlendi six
// minutes to load a page before it gives up on it.
constexpr int kRenderTimeLimitMs = 300 * 1000;

// Renders htmlPath into pdfPath with the user stylesheet cssPath.  errorPath
// is a scratch file for the renderer's own error text.  chunk: the file is
// a chunk of a split report (see WorkerSlots).  True on success; false with
// *error set ("Error:..." texts) on failure or time-out.
bool RenderHtmlToPdf(const std::string& htmlPath, const std::string& cssPath,
                     const std::string& pdfPath, const std::string& errorPath, int timeLimitMs,
                     std::string* error, bool chunk = false);

// The warm workers a render may use.  The pool has RenderWorkers slots for
// the chunks of split reports and, in front of them, one more for each
// other print control that may run at once (PrintThreads - 1), which only
// whole documents take: a small report for one printer finds a warm worker
// while a large report for another renders its chunks on all the others.
SlotRange WorkerSlots(int renderWorkers, int printThreads, bool chunk);

}  // namespace kavelo::orlendi

#endif  // KAVELO_ORLENDI_HTML_RENDERER_H_
