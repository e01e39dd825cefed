// The limits inside which the print control handles one job, read from the
// service's Parameters key, and the files that belong to one job.
//
// A report and a stylesheet come from the network, and XSLT is a programming
// language: a stylesheet may recurse without end, or multiply its output.
// The limits below are far above what legitimate reports need (see
// docs/security.md for the measurements behind the defaults) and always met by a
// stylesheet that runs away:
//   - the address space of the print control and of every program it starts
//     (its transforms, orlendi and the renderer);
//   - the HTML one transform may write: HtmlSizeFactor times its XML plus a
//     fixed margin;
//   - the time one transform may take: TransformTimePerMB per MiB of its XML,
//     at least a fixed floor;
//   - the time the service waits for one print control as a whole;
//   - how many print controls run at once (one per printer at most), each
//     inside the limits above.
#ifndef KAVELO_PLATFORM_PRINT_LIMITS_H_
#define KAVELO_PLATFORM_PRINT_LIMITS_H_

#include <cstdint>
#include <string>

namespace kavelo::platform {

// Sanitizer builds reserve terabytes of address space for their shadow
// memory: an address-space limit would stop every allocation there, so
// those builds leave it unset.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kAddressSpaceLimitApplies = false;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
constexpr bool kAddressSpaceLimitApplies = false;
#else
constexpr bool kAddressSpaceLimitApplies = true;
#endif
#else
constexpr bool kAddressSpaceLimitApplies = true;
#endif

// Below HKEY_LOCAL_MACHINE; REG_DWORD values, a missing or 0 value gives the
// default.
constexpr const char kPrintLimitsKey[] =
    "SYSTEM\\CurrentControlSet\\Services\\Brelvane\\Parameters";

struct PrintLimits {
  static constexpr uint32_t kDefaultTimeoutMs = 7200000;   // "PrintControlTimeout"
  static constexpr uint32_t kDefaultMemoryMiB = 4096;      // "PrintControlMemoryLimit"
  static constexpr uint32_t kDefaultTimePerMiBMs = 5000;   // "TransformTimePerMB"
  static constexpr uint32_t kDefaultHtmlSizeFactor = 8;    // "HtmlSizeFactor"
  static constexpr uint32_t kMaxRenderWorkers = 64;        // "RenderWorkers" above this
  static constexpr uint32_t kDefaultPrintThreads = 1;      // "PrintThreads"
  static constexpr uint32_t kMaxPrintThreads = 16;         // a larger value counts as this
  static constexpr int64_t kTransformFloorMs = 60000;      // at least this per transform
  static constexpr int64_t kHtmlMarginBytes = 64LL << 20;  // on top of the factor

  uint32_t printControlTimeoutMs = kDefaultTimeoutMs;
  uint32_t memoryMiB = kDefaultMemoryMiB;
  uint32_t transformTimePerMiBMs = kDefaultTimePerMiBMs;
  uint32_t htmlSizeFactor = kDefaultHtmlSizeFactor;
  // "RenderWorkers": how many HTML files of one job render at once, each in
  // a warm worker of its own inside the address-space limit; 0 (the
  // default) stands for the number of processors.
  uint32_t renderWorkers = 0;
  uint32_t printThreads = kDefaultPrintThreads;

  // The address-space limit in bytes (0: none, in sanitizer builds).
  uint64_t AddressSpaceBytes() const {
    return kAddressSpaceLimitApplies ? uint64_t{memoryMiB} << 20 : 0;
  }
  // The time one transform of an XML file of xmlBytes may take.
  int64_t TransformTimeMs(int64_t xmlBytes) const;
  // The HTML one transform of an XML file of xmlBytes may write.
  int64_t HtmlSizeBytes(int64_t xmlBytes) const;
  // RenderWorkers as a count: 0 gives the processors online, and the
  // result lies in 1..kMaxRenderWorkers.
  int RenderWorkerCount() const;
};

// Reads the five values; the defaults stand for what is missing or 0, and
// for everything when the registry cannot be read.
PrintLimits ReadPrintLimits();

// The folder in which the print control writes every file it makes for the
// job whose report is xmlPath (HTML, chunk reports, derived stylesheets,
// info files, orlendi's and the renderer's scratch files): xmlPath + ".work".
// Known from the job command line alone, so the service can remove it when
// the print control could not.
std::string JobWorkFolder(const std::string& xmlPath);

// The print control makes its work folder already locked (a shared flock on
// the folder, made under a temporary name and renamed into place) and holds
// the lock until it ends, so that a service started after a crash can tell
// a print control still running from one that ended without cleaning up.
// Returns the descriptor that holds the lock (-1 with errno on failure: a
// folder of that name holds something, or it cannot be made).
int MakeLockedJobWorkFolder(const std::string& folder);

// True when the folder exists and no process holds its lock.
bool JobWorkFolderAbandoned(const std::string& folder);

// Removes the files the print control made for the job that the job command
// line names: the print-style copy of the XSL ("…st.xsl"), the chunk reports
// of the XML ("…0.xml", "…1.xml", …) and the work folder of the XML with all
// it holds.  The spooled XML and XSL stay, so the job can be started again.
void RemoveDerivedJobFiles(const std::string& jobCommandLine);

// Removes every file of the job: its spooled XML and XSL and the derived
// files above.  For a print control that was ended before it could do so
// itself.
void RemoveJobFiles(const std::string& jobCommandLine);

}  // namespace kavelo::platform

#endif  // KAVELO_PLATFORM_PRINT_LIMITS_H_
