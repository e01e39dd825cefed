// The clean-up of separator lines in the HTML of line-printer stylesheets.
#ifndef KAVELO_PRINTCONTROL_REMOVE_EQUALS_H_
#define KAVELO_PRINTCONTROL_REMOVE_EQUALS_H_

namespace kavelo::printcontrol {

// Drops a separator line of at least 71 equals signs that stands directly
// before a "</pre>" line inside an h1 block of the HTML file at `htmlPath`,
// through a temporary file beside it ("eq" in place of the extension).
// `error` (at least 1024 bytes) is empty on success.  A file that cannot be
// read, or a temporary file that cannot be made, leaves the HTML unchanged
// and no error.
void removeEquals(const char* htmlPath, char* error);

}  // namespace kavelo::printcontrol

#endif  // KAVELO_PRINTCONTROL_REMOVE_EQUALS_H_
