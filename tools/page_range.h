// The page range kavelo-send adds to the print options.  The print control
// refuses a job without a last page ("Error in toPage:0"), and it uses the
// range only as the report's page count, which sizes the chunks a large
// report is printed in; so a job whose options name no last page gets the
// range of the whole report.
#ifndef KAVELO_TOOLS_PAGE_RANGE_H_
#define KAVELO_TOOLS_PAGE_RANGE_H_

#include <cstdint>
#include <string>

namespace kavelo {

// The number of pages of the report at path: one more than its page breaks,
// the empty elements "<page/>" and "<soft_page/>" (letters in any case,
// written exactly so) before the first "</report>", as the print control
// counts them when it splits a report.  At most INT32_MAX.  False, with
// *error set, when the file cannot be read.
bool CountReportPages(const std::string& path, int32_t* pages, std::string* error);

// Whether an item of the options names "topage" (key in any letter case,
// items separated by commas outside quotes).
bool NamesLastPage(const std::string& options);

// The options with the page range completed: unchanged when NamesLastPage;
// otherwise ",frompage=1" (only when no frompage is named) and
// ",topage=N" are appended, N being the first page plus pages - 1, so that
// the range spans `pages` pages.
std::string CompletePageRange(const std::string& options, int32_t pages);

}  // namespace kavelo

#endif  // KAVELO_TOOLS_PAGE_RANGE_H_
