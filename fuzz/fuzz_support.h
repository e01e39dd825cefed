// Helpers shared by the fuzz targets: a scratch folder of the process's own
// for targets that read or write files, and the input cut into texts.
#ifndef KAVELO_FUZZ_FUZZ_SUPPORT_H_
#define KAVELO_FUZZ_FUZZ_SUPPORT_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace kavelo::fuzz {

// A folder made once per process below $TMPDIR (or /tmp), emptied and
// removed when the process exits normally.  scripts/fuzz.sh points TMPDIR
// at a folder it removes itself, for runs that end in a crash.
const std::string& ScratchDir();

// Writes size bytes to ScratchDir()/name and returns the path.
std::string WriteScratchFile(const char* name, const uint8_t* data, size_t size);

// Removes every file in the scratch folder (it holds no subfolders).
void ClearScratchDir();

// The input cut at its NUL bytes (an input without one is one text).
std::vector<std::string> SplitAtNul(const uint8_t* data, size_t size);

// The input as one NUL-terminated text, cut at its first NUL byte.
std::string AsText(const uint8_t* data, size_t size);

}  // namespace kavelo::fuzz

#endif  // KAVELO_FUZZ_FUZZ_SUPPORT_H_
