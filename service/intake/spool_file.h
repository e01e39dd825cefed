// A spool file of the intake: one received document on its way to disk.
#ifndef KAVELO_SERVICE_SPOOL_FILE_H_
#define KAVELO_SERVICE_SPOOL_FILE_H_

#include <cstddef>
#include <string>

namespace kavelo::service {

// While the intake holds a spool file open for writing it keeps an
// exclusive advisory lock (flock) on it, so that another process can tell
// that the file is still being written.  Move-free, closes on destruction.
class SpoolFile {
 public:
  SpoolFile() = default;
  ~SpoolFile() { Close(); }
  SpoolFile(const SpoolFile&) = delete;
  SpoolFile& operator=(const SpoolFile&) = delete;

  // Creates the file for writing; fails when it exists.  Returns 0 or errno.
  int CreateExclusive(const std::string& path);
  // Opens a file reserved by CreateReservation for writing.  Returns 0 or
  // errno (ENOENT when the reservation is gone).
  int OpenReserved(const std::string& path);
  // Writes all n bytes.  False on a write error (a full disk, ...).
  bool Write(const void* data, size_t n);
  // Flushes the file's data to the disk.
  bool Sync();
  // Sets an extended attribute of the open file; false where the file
  // system keeps none.
  bool SetAttribute(const char* name, const std::string& value);
  void Close();
  bool IsOpen() const { return fd_ >= 0; }

  // Creates an empty file exclusively and closes it again, reserving its
  // name.  Returns 0 or errno (EEXIST when the name is taken).
  static int CreateReservation(const std::string& path);
  // Flushes a directory's entries (new files) to the disk.
  static bool SyncDirectory(const std::string& directory);

 private:
  int Open(const std::string& path, int flags);

  int fd_ = -1;
};

// The directory part of a path ("." when it has none).
std::string DirectoryOf(const std::string& path);

}  // namespace kavelo::service

#endif  // KAVELO_SERVICE_SPOOL_FILE_H_
