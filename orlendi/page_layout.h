// The page orlendi renders on: the sheet of the printer in the requested
// orientation, with the requested margins, written as a user stylesheet whose
// @page rule wins over the document's own (!important in a user stylesheet
// beats every rule of the document).
#ifndef KAVELO_ORLENDI_PAGE_LAYOUT_H_
#define KAVELO_ORLENDI_PAGE_LAYOUT_H_

#include <string>

#include "protocol/orlendi_command_line.h"

namespace kavelo::platform {
struct PageGeometry;
}  // namespace kavelo::platform

namespace kavelo::orlendi {

using protocol::PrintRequest;

// In millimetres, as the page is read (landscape: width > height).
struct PageLayout {
  double widthMm = 0, heightMm = 0;
  double leftMm = 0, rightMm = 0, topMm = 0, bottomMm = 0;
};

// A margin text in millimetres: a decimal number in inches (unit 1) or
// millimetres (any other unit).  False for an empty text, a text that is not
// wholly a number (blanks around it allowed), or a negative or huge value.
bool ParseMarginMm(const std::string& text, int unit, double* mm);

// The layout for the request on a printer of the given geometry; geometry
// null (a printer that reports none, such as a raw queue) stands for A4
// without unprintable edges.  A margin narrower than the printer's
// unprintable edge on that side, or one that is not a number, becomes the
// edge.  False with *error set when the margins leave less than 10 mm of
// the page in either direction.
bool ComputePageLayout(const platform::PageGeometry* geometry, const PrintRequest& request,
                       PageLayout* layout, std::string* error);

// The user stylesheet that forces the layout over the document's @page.
std::string PageStyleSheet(const PageLayout& layout);

}  // namespace kavelo::orlendi

#endif  // KAVELO_ORLENDI_PAGE_LAYOUT_H_
