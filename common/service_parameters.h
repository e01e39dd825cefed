// ServiceParameters: the ten values that configure the service, with their
// registry names, types and defaults, the key paths they live under, and the
// persisted print queue.  The service loads them once at start; the console
// loads, edits and saves them with the same object.
//
// A ServiceParameters is made, used and destroyed by one caller.  The
// print-queue operations take the object's own lock; concurrent queue users
// each make their own object (every job is its own registry value).
#ifndef KAVELO_COMMON_SERVICE_PARAMETERS_H_
#define KAVELO_COMMON_SERVICE_PARAMETERS_H_

#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "common/parameter_values.h"
#include "platform/registry.h"

namespace kavelo {

// Registry names and fixed texts of the parameters.
constexpr const char kServicesKeyPath[] = "SYSTEM\\CurrentControlSet\\Services";
constexpr const char kParametersSubkey[] = "Parameters";
constexpr const char kPrintQueueSubkey[] = "PrintQueue";
constexpr const char kSoftwareKeyPath[] = "SOFTWARE";
constexpr const char kProductSubkey[] = "KAVELO";
constexpr const char kInstallDirectoryValue[] = "DirPath";
constexpr const char kDefaultInstallDirectory[] = "/opt/kavelo";
constexpr const char kPrintControlRelativePath[] = "PrintService/Ostrevo";
constexpr const char kSpoolRelativePath[] = "spool";
constexpr const char kDefaultPrinterName[] = "lp0";

class ServiceParameters {
 public:
  // The constructor values: numbers as loaded by default, the two paths
  // relative ("PrintService/Ostrevo", "spool"), printer name empty, no
  // service name and no root key.
  ServiceParameters();
  ServiceParameters(const ServiceParameters&) = delete;
  ServiceParameters& operator=(const ServiceParameters&) = delete;

  // Throws NullPointerException for a null name, IllegalArgumentException
  // for an empty one.
  void Bind(const char* serviceName, platform::Hive rootKey);
  void Bind(const std::string& serviceName, platform::Hive rootKey) {
    Bind(serviceName.c_str(), rootKey);
  }

  // Reads the ten values from the parameters key; a value missing, of
  // another type or named in another letter case keeps its default.  Without
  // the key only the two paths are set (to their derived defaults) and the
  // result is false.
  bool Load();

  // Writes the ten values into the parameters key, creating it; a failed
  // write does not stop the others.  True when every write succeeded.
  bool Save() const;

  // The default record; reads the install directory, not the parameters.
  ParameterValues GetDefaults() const;

  const ParameterValues& values() const { return values_; }
  void set_values(const ParameterValues& values) { values_ = values; }
  const std::string& serviceName() const { return serviceName_; }

  // "SYSTEM\CurrentControlSet\Services\" + service name: the key that holds
  // "Parameters" and "PrintQueue".
  std::string ParametersKeyPath() const;
  // "DirPath" of "SOFTWARE\KAVELO", else "/opt/kavelo".  Looked up anew on
  // every call.
  std::string ReadInstallDirectory() const;
  // The install directory joined with "PrintService/Ostrevo" or "spool".
  std::string DefaultPrinterApplication() const;
  std::string DefaultSpoolerDirectory() const;

  // The persisted print queue: one REG_SZ value per job below "PrintQueue",
  // named by a fresh GUID, holding the job command line.
  //
  // Writes the job; returns the registry status, or 1 when no GUID could be
  // made, or kErrorMoreData (nothing written) for a text longer than
  // ListPersistedJobs reads (RegistryAccess::kListBufferSize with its NUL).
  // Throws NullPointerException / IllegalArgumentException for a null /
  // empty text.
  long PersistJob(const char* jobCommandLine);
  long PersistJob(const std::string& jobCommandLine) { return PersistJob(jobCommandLine.c_str()); }
  // Deletes the first listed job whose text equals the given one ignoring
  // letter case.  Returns 1 when it is gone (or was never there), 0 when
  // the queue could not be read or the value not be deleted.  Throws as
  // PersistJob.
  int RemovePersistedJob(const char* jobCommandLine);
  int RemovePersistedJob(const std::string& jobCommandLine) {
    return RemovePersistedJob(jobCommandLine.c_str());
  }
  // Fills the parallel lists with the persisted jobs' names and texts in the
  // registry's order.  Returns 1.
  int ListPersistedJobs(std::vector<std::string>* names, std::vector<std::string>* texts);
  // Deletes every REG_SZ value below "PrintQueue" that ListPersistedJobs
  // cannot read (its name or data beyond the list buffers; written by an
  // older version), so that none stays for good.  *removed gets a line per
  // deleted value: its name and its length.  Returns 1.
  int RemoveUnlistableJobs(std::vector<std::string>* removed);

 private:
  // The root key, or nullopt before Bind: nothing is then read or written.
  std::optional<platform::Hive> rootKey_;
  std::string serviceName_;
  ParameterValues values_;
  std::mutex lock_;  // taken by the print-queue operations
};

}  // namespace kavelo

#endif  // KAVELO_COMMON_SERVICE_PARAMETERS_H_
