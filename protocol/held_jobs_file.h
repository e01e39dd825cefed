// The held-jobs file: the spooler jobs the print control submits held, so
// that whoever outlives a print control that ended without finishing (the
// service) can cancel what it left held.  It lies in the job's work folder
// and goes with it.  One line per entry, fields separated by a tab:
//   "file\tPRINTER\tHTMLPATH\n"  written before the file is submitted held
//   "job\tPRINTER\tID\n"         written once the job's id is known
// A file line covers the moment between the submission and the id: its job
// is the print control's own held job whose document name ends with the
// HTML file's name.
#ifndef KAVELO_PROTOCOL_HELD_JOBS_FILE_H_
#define KAVELO_PROTOCOL_HELD_JOBS_FILE_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace kavelo::protocol {

// The file's name in the job's work folder.
constexpr char kHeldJobsFileName[] = "held-jobs";
// What a reader reads of it at most: a report of thousands of chunks stays
// far below.
constexpr size_t kHeldJobsFileLimit = 1 << 20;

struct HeldJobEntry {
  std::string printer;
  int32_t jobId = 0;     // 0 for a file line
  std::string htmlPath;  // empty for a job line
};

// The lines; empty when the printer or the path is empty or holds a tab, a
// line break or a NUL, or the id is not positive (nothing could read it back).
std::string FormatHeldFileLine(const std::string& printer, const std::string& htmlPath);
std::string FormatHeldJobLine(const std::string& printer, int32_t jobId);

// Every well-formed line of text; others (a line cut by an ended writer)
// are skipped.
std::vector<HeldJobEntry> ParseHeldJobs(const std::string& text);

}  // namespace kavelo::protocol

#endif  // KAVELO_PROTOCOL_HELD_JOBS_FILE_H_
