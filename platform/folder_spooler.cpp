// The folder spooler: printers are subfolders of one folder and printing a
// document means copying it into the printer's subfolder, with a metadata
// file beside it.  Printing is immediate, so there are never any jobs.
//
// Layout of FOLDER:
//   FOLDER/default              first line: the name of the default printer
//   FOLDER/NAME/                a printer (a real folder, not a symbolic link)
//   FOLDER/NAME/printer.conf    optional page geometry, "key = value" lines:
//       paper = A4              A3, A4, A5, B5, Letter or Legal (sets the size)
//       width-mm = 210          page size in millimetres
//       height-mm = 297
//       margin-left-mm = 6.35   unprintable edges in millimetres
//       margin-top-mm = 6.35
//       resolution = 600        dots per inch in both directions
//       resolution-x = 600      or each direction alone
//       resolution-y = 600
//     Blank lines and lines starting with "#" are ignored; an unknown key or
//     a bad value makes the geometry query fail.  Without the file: A4 at
//     600 dpi with 6.35 mm edges.
//   FOLDER/NAME/STEM.pdf        a printed document (the submitted file's
//                               extension is kept)
//   FOLDER/NAME/STEM.job        its metadata, "key=value" lines
// STEM is "YYYYmmdd-HHMMSS-PID-N-DOCUMENT" with DOCUMENT the last part of the
// document name, every byte outside [A-Za-z0-9._-] replaced by "_".
//
// Printer names come from clients: a name with "/", a NUL or control byte,
// "..", a leading ".", or more than 255 bytes is refused before any file
// is touched, and every file is opened relative to the printer's folder
// descriptor without following symbolic links.
#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include <sys/stat.h>

#include "platform/internal/spooler_internal.h"
#include "platform/spooler.h"

namespace kavelo::platform {
namespace {

constexpr size_t kMaxPrinterName = 255;

// A descriptor closed when it goes out of scope.
class Fd {
 public:
  explicit Fd(int fd = -1) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) close(fd_);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }
  void reset(int fd) {
    if (fd_ >= 0) close(fd_);
    fd_ = fd;
  }

 private:
  int fd_;
};

// A printer folder that cannot be reached names no printer.
int PrinterStatusFromErrno(int error) {
  if (error == ENOENT || error == ENOTDIR || error == ELOOP) return kSpoolerInvalidPrinterName;
  return static_cast<int>(StatusFromErrno(error, kSpoolerFailed));
}

bool IsValidPrinterName(const std::string& name) {
  if (name.empty() || name.size() > kMaxPrinterName || name[0] == '.') return false;
  if (name.find("..") != std::string::npos) return false;
  for (unsigned char c : name) {
    if (c == '/' || c < 0x20 || c == 0x7f) return false;
  }
  return true;
}

bool EqualsIgnoringCase(const std::string& a, const std::string& b) {
  return a.size() == b.size() && strncasecmp(a.c_str(), b.c_str(), a.size()) == 0;
}

bool WriteAll(int fd, const char* data, size_t size) {
  while (size > 0) {
    ssize_t n = write(fd, data, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

// Escapes the bytes that would break a "key=value" line.
std::string EscapeValue(const std::string& value) {
  std::string out;
  out.reserve(value.size());
  for (char c : value) {
    if (c == '\\') {
      out += "\\\\";
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\r') {
      out += "\\r";
    } else if (c == '\0') {
      out += "\\0";
    } else {
      out += c;
    }
  }
  return out;
}

std::string SafeFilePart(const std::string& text, size_t maxLength) {
  std::string out;
  for (char c : text) {
    if (out.size() >= maxLength) break;
    bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                 c == '.' || c == '_' || c == '-';
    out += plain ? c : '_';
  }
  return out;
}

// The extension of the submitted file (".pdf"), or "" when it has none that
// is short and plain.
std::string FileExtension(const std::string& path) {
  size_t slash = path.rfind('/');
  size_t dot = path.rfind('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return "";
  std::string ext = path.substr(dot);
  if (ext.size() < 2 || ext.size() > 8) return "";
  for (size_t i = 1; i < ext.size(); ++i) {
    if (!isalnum(static_cast<unsigned char>(ext[i]))) return "";
  }
  return ext;
}

std::string MarginText(double mm) {
  if (mm < 0) return "printer";
  char text[64];
  snprintf(text, sizeof text, "%g", mm);
  return text;
}

bool ParseNumber(const std::string& text, double* value) {
  const char* end = text.data() + text.size();
  auto [ptr, ec] = std::from_chars(text.data(), end, *value);
  return ec == std::errc() && ptr == end && std::isfinite(*value);
}

std::string Trim(const std::string& text) {
  size_t begin = text.find_first_not_of(" \t\r");
  if (begin == std::string::npos) return "";
  size_t end = text.find_last_not_of(" \t\r");
  return text.substr(begin, end - begin + 1);
}

struct PaperSize {
  const char* name;
  double widthMm;
  double heightMm;
};

constexpr PaperSize kPapers[] = {
    {"A3", 297, 420}, {"A4", 210, 297},         {"A5", 148, 210},
    {"B5", 176, 250}, {"Letter", 215.9, 279.4}, {"Legal", 215.9, 355.6},
};

// Page geometry of a folder printer before it is turned into device units.
struct GeometrySettings {
  double widthMm = 210;
  double heightMm = 297;
  double marginLeftMm = 6.35;
  double marginTopMm = 6.35;
  double resolutionX = 600;
  double resolutionY = 600;
};

// Applies one "key = value" line of printer.conf.  False for an unknown key
// or a value out of range.
bool ApplySetting(const std::string& key, const std::string& value, GeometrySettings* settings) {
  if (key == "paper") {
    for (const PaperSize& paper : kPapers) {
      if (strcasecmp(paper.name, value.c_str()) == 0) {
        settings->widthMm = paper.widthMm;
        settings->heightMm = paper.heightMm;
        return true;
      }
    }
    return false;
  }
  double number = 0;
  if (!ParseNumber(value, &number)) return false;
  bool length = number > 0 && number <= 10000;
  bool margin = number >= 0 && number <= 1000;
  bool resolution = number >= 1 && number <= 10000;
  if (key == "width-mm" && length) {
    settings->widthMm = number;
  } else if (key == "height-mm" && length) {
    settings->heightMm = number;
  } else if (key == "margin-left-mm" && margin) {
    settings->marginLeftMm = number;
  } else if (key == "margin-top-mm" && margin) {
    settings->marginTopMm = number;
  } else if (key == "resolution" && resolution) {
    settings->resolutionX = settings->resolutionY = number;
  } else if (key == "resolution-x" && resolution) {
    settings->resolutionX = number;
  } else if (key == "resolution-y" && resolution) {
    settings->resolutionY = number;
  } else {
    return false;
  }
  return true;
}

int32_t ToDots(double mm, double dpi) { return static_cast<int32_t>(std::lround(mm / 25.4 * dpi)); }

class FolderSpooler : public Spooler {
 public:
  explicit FolderSpooler(std::string folder) : folder_(std::move(folder)) {
    while (folder_.size() > 1 && folder_.back() == '/') folder_.pop_back();
  }

  int DefaultPrinter(std::string* name) override {
    std::string text;
    Fd fd(open((folder_ + "/default").c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
    if (fd.get() < 0) return kSpoolerInvalidPrinterName;
    char buffer[512];
    ssize_t n;
    while (text.size() <= 2 * kMaxPrinterName && (n = read(fd.get(), buffer, sizeof buffer)) != 0) {
      if (n < 0) {
        if (errno == EINTR) continue;
        return kSpoolerFailed;
      }
      text.append(buffer, static_cast<size_t>(n));
    }
    text = Trim(text.substr(0, text.find('\n')));
    if (!IsValidPrinterName(text)) return kSpoolerInvalidPrinterName;
    *name = text;
    return kSpoolerOk;
  }

  int ListPrinters(std::vector<PrinterEntry>* printers) override {
    printers->clear();
    std::vector<std::string> names;
    int status = PrinterNames(&names);
    if (status != kSpoolerOk) return status;
    for (const std::string& name : names) {
      printers->push_back({name, "file:" + folder_ + "/" + name, "folder"});
    }
    return kSpoolerOk;
  }

  int OpenPrinter(const std::string& printer, PrinterAccess access) override {
    std::string name;
    int status = FindPrinter(printer, &name);
    if (status != kSpoolerOk) return status;
    // Printing is immediate: there is no queue to administer, no job to hold.
    return access == PrinterAccess::kUse ? kSpoolerOk : kSpoolerAccessDenied;
  }

  int JobCount(const std::string& printer, int* count) override {
    std::string name;
    int status = FindPrinter(printer, &name);
    if (status == kSpoolerOk) *count = 0;
    return status;
  }

  int ListJobs(const std::string& printer, std::vector<SpoolerJob>* jobs) override {
    std::string name;
    int status = FindPrinter(printer, &name);
    if (status == kSpoolerOk) jobs->clear();
    return status;
  }

  int GetJob(const std::string& printer, int32_t, SpoolerJob*) override {
    std::string name;
    int status = FindPrinter(printer, &name);
    return status == kSpoolerOk ? kSpoolerInvalidJob : status;
  }

  int ControlJob(const std::string& printer, int32_t, JobCommand) override {
    return Refused(printer);
  }

  int SetJobPosition(const std::string& printer, int32_t, int32_t) override {
    return Refused(printer);
  }

  int SetJobPriority(const std::string& printer, int32_t, int) override { return Refused(printer); }

  int ResumePrinter(const std::string& printer) override {
    std::string name;
    return FindPrinter(printer, &name);
  }

  int GetPageGeometry(const std::string& printer, PageGeometry* geometry) override;
  int SubmitDocument(const std::string& printer, const std::string& file,
                     const SubmitOptions& options, int32_t* jobId) override;

 private:
  int Refused(const std::string& printer) {
    std::string name;
    int status = FindPrinter(printer, &name);
    return status == kSpoolerOk ? kSpoolerAccessDenied : status;
  }

  // The printers' names, sorted.
  int PrinterNames(std::vector<std::string>* names) {
    std::unique_ptr<DIR, int (*)(DIR*)> dir(opendir(folder_.c_str()), closedir);
    if (!dir) return errno == ENOENT ? kSpoolerOk : PrinterStatusFromErrno(errno);
    while (dirent* entry = readdir(dir.get())) {
      std::string name = entry->d_name;
      if (!IsValidPrinterName(name)) continue;
      struct stat info;
      if (fstatat(dirfd(dir.get()), entry->d_name, &info, AT_SYMLINK_NOFOLLOW) == 0 &&
          S_ISDIR(info.st_mode)) {
        names->push_back(name);
      }
    }
    std::sort(names->begin(), names->end());
    return kSpoolerOk;
  }

  // Finds the printer's folder: the exact name, else the first folder whose
  // name differs only in letter case (printer names ignore case).
  int FindPrinter(const std::string& printer, std::string* name) {
    if (!IsValidPrinterName(printer)) return kSpoolerInvalidPrinterName;
    struct stat info;
    std::string path = folder_ + "/" + printer;
    if (lstat(path.c_str(), &info) == 0) {
      if (!S_ISDIR(info.st_mode)) return kSpoolerInvalidPrinterName;
      *name = printer;
      return kSpoolerOk;
    }
    if (errno != ENOENT) return PrinterStatusFromErrno(errno);
    std::vector<std::string> names;
    int status = PrinterNames(&names);
    if (status != kSpoolerOk) return status;
    for (const std::string& candidate : names) {
      if (EqualsIgnoringCase(candidate, printer)) {
        *name = candidate;
        return kSpoolerOk;
      }
    }
    return kSpoolerInvalidPrinterName;
  }

  // Opens the printer's folder without following a symbolic link.
  int OpenPrinterFolder(const std::string& name, Fd* out) {
    int fd = open((folder_ + "/" + name).c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return PrinterStatusFromErrno(errno);
    out->reset(fd);
    return kSpoolerOk;
  }

  std::string folder_;
};

int FolderSpooler::GetPageGeometry(const std::string& printer, PageGeometry* geometry) {
  std::string name;
  int status = FindPrinter(printer, &name);
  if (status != kSpoolerOk) return status;
  Fd dir;
  status = OpenPrinterFolder(name, &dir);
  if (status != kSpoolerOk) return status;

  GeometrySettings settings;
  Fd conf(openat(dir.get(), "printer.conf", O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
  if (conf.get() < 0 && errno != ENOENT) return PrinterStatusFromErrno(errno);
  if (conf.get() >= 0) {
    std::string text;
    char buffer[4096];
    ssize_t n;
    while ((n = read(conf.get(), buffer, sizeof buffer)) != 0) {
      if (n < 0) {
        if (errno == EINTR) continue;
        return kSpoolerFailed;
      }
      text.append(buffer, static_cast<size_t>(n));
      if (text.size() > 65536) return kSpoolerInvalidParameter;
    }
    size_t start = 0;
    while (start < text.size()) {
      size_t end = text.find('\n', start);
      if (end == std::string::npos) end = text.size();
      std::string line = Trim(text.substr(start, end - start));
      start = end + 1;
      if (line.empty() || line[0] == '#') continue;
      size_t equals = line.find('=');
      if (equals == std::string::npos) return kSpoolerInvalidParameter;
      if (!ApplySetting(Trim(line.substr(0, equals)), Trim(line.substr(equals + 1)), &settings)) {
        return kSpoolerInvalidParameter;
      }
    }
  }
  if (2 * settings.marginLeftMm >= settings.widthMm ||
      2 * settings.marginTopMm >= settings.heightMm) {
    return kSpoolerInvalidParameter;
  }
  geometry->physicalWidth = ToDots(settings.widthMm, settings.resolutionX);
  geometry->physicalHeight = ToDots(settings.heightMm, settings.resolutionY);
  geometry->offsetX = ToDots(settings.marginLeftMm, settings.resolutionX);
  geometry->offsetY = ToDots(settings.marginTopMm, settings.resolutionY);
  geometry->resolutionX = static_cast<int32_t>(std::lround(settings.resolutionX));
  geometry->resolutionY = static_cast<int32_t>(std::lround(settings.resolutionY));
  return kSpoolerOk;
}

// Writes a new file under a temporary name and links it in under its final
// name, so that a file under a final name is always complete.  EEXIST when
// the final name is taken.
int PublishFile(int dir, const std::string& finalName, int source, const std::string& text) {
  std::string temp = ".tmp-" + finalName;
  Fd out(openat(dir, temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644));
  if (out.get() < 0) return errno;
  bool ok = true;
  if (source >= 0) {
    char buffer[65536];
    off_t offset = 0;
    ssize_t n;
    while (ok && (n = pread(source, buffer, sizeof buffer, offset)) != 0) {
      if (n < 0) {
        if (errno == EINTR) continue;
        ok = false;
        break;
      }
      offset += n;
      ok = WriteAll(out.get(), buffer, static_cast<size_t>(n));
    }
  } else {
    ok = WriteAll(out.get(), text.data(), text.size());
  }
  int error = ok ? 0 : errno;
  if (ok && fsync(out.get()) != 0) error = errno;
  if (error == 0 && linkat(dir, temp.c_str(), dir, finalName.c_str(), 0) != 0) error = errno;
  unlinkat(dir, temp.c_str(), 0);
  return error;
}

int FolderSpooler::SubmitDocument(const std::string& printer, const std::string& file,
                                  const SubmitOptions& options, int32_t* jobId) {
  static std::atomic<unsigned> counter{0};
  if (jobId != nullptr) *jobId = 0;
  if (options.copies < 1 || (options.orientation != 1 && options.orientation != 2)) {
    return kSpoolerInvalidParameter;
  }
  std::string name;
  int status = FindPrinter(printer, &name);
  if (status != kSpoolerOk) return status;
  Fd source(open(file.c_str(), O_RDONLY | O_CLOEXEC));
  if (source.get() < 0) {
    return errno == ENOENT ? kSpoolerFileNotFound
                           : (errno == EACCES ? kSpoolerAccessDenied : kSpoolerFailed);
  }
  Fd dir;
  status = OpenPrinterFolder(name, &dir);
  if (status != kSpoolerOk) return status;

  time_t now = time(nullptr);
  struct tm local;
  struct tm utc;
  localtime_r(&now, &local);
  gmtime_r(&now, &utc);
  char stamp[32];
  char isoTime[32];
  strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &local);
  strftime(isoTime, sizeof isoTime, "%Y-%m-%dT%H:%M:%SZ", &utc);
  std::string document = options.documentName;
  std::string base =
      document.substr(document.rfind('/') == std::string::npos ? 0 : document.rfind('/') + 1);
  std::string docPart = SafeFilePart(base, 80);
  std::string extension = FileExtension(file);

  for (int attempt = 0; attempt < 1000; ++attempt) {
    std::string stem = std::string(stamp) + "-" + std::to_string(getpid()) + "-" +
                       std::to_string(++counter) + (docPart.empty() ? "" : "-" + docPart);
    std::string dataName = stem + extension;
    int error = PublishFile(dir.get(), dataName, source.get(), "");
    if (error == EEXIST) continue;
    if (error != 0)
      return static_cast<int>(StatusFromErrno(error, kSpoolerFailed));
    std::string meta;
    meta += "document=" + EscapeValue(document) + "\n";
    meta += "file=" + dataName + "\n";
    meta += "printer=" + EscapeValue(name) + "\n";
    meta += "copies=" + std::to_string(options.copies) + "\n";
    meta +=
        std::string("orientation=") + (options.orientation == 2 ? "landscape" : "portrait") + "\n";
    meta += "margin-left-mm=" + MarginText(options.marginLeftMm) + "\n";
    meta += "margin-right-mm=" + MarginText(options.marginRightMm) + "\n";
    meta += "margin-top-mm=" + MarginText(options.marginTopMm) + "\n";
    meta += "margin-bottom-mm=" + MarginText(options.marginBottomMm) + "\n";
    meta += std::string("color=") + (options.color ? "yes" : "no") + "\n";
    meta += "user=" + EscapeValue(EffectiveUserName()) + "\n";
    meta += std::string("time=") + isoTime + "\n";
    error = PublishFile(dir.get(), stem + ".job", -1, meta);
    if (error != 0) {
      // A document without its metadata would be a half-printed job.
      unlinkat(dir.get(), dataName.c_str(), 0);
      return kSpoolerFailed;
    }
    // The new names survive a crash only once the folder itself is synced.
    return fsync(dir.get()) == 0 ? kSpoolerOk : kSpoolerFailed;
  }
  return kSpoolerFailed;
}

}  // namespace

std::unique_ptr<Spooler> MakeFolderSpooler(const std::string& folder) {
  return std::make_unique<FolderSpooler>(folder);
}

bool PrepareDefaultPrinterFolder(const std::string& folder) {
  struct stat info;
  if (stat(folder.c_str(), &info) == 0) return S_ISDIR(info.st_mode);
  if (mkdir(folder.c_str(), 0755) != 0) return false;
  std::string printer = folder + "/PDF";
  if (mkdir(printer.c_str(), 0755) != 0 && errno != EEXIST) return true;
  Fd fd(open((folder + "/default").c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644));
  if (fd.get() >= 0) WriteAll(fd.get(), "PDF\n", 4);
  return true;
}

}  // namespace kavelo::platform
