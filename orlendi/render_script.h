// The Python that renders HTML to PDF with WeasyPrint: one text for the cold
// path (a Python process per document) and the warm worker, so both apply
// the same URL-fetch and attachment rules.
#ifndef KAVELO_ORLENDI_RENDER_SCRIPT_H_
#define KAVELO_ORLENDI_RENDER_SCRIPT_H_

namespace kavelo::orlendi {

extern const char kRenderScript[];

}  // namespace kavelo::orlendi

#endif  // KAVELO_ORLENDI_RENDER_SCRIPT_H_
