#include "common/service_parameters.h"

#include "common/exceptions.h"
#include "common/registry_access.h"

namespace kavelo {
namespace {

// File paths are joined with "/" ("%s/%s"), also when the first part is
// empty: an empty install directory gives "/spool".
std::string JoinPath(const std::string& first, const char* second) { return first + "/" + second; }

}  // namespace

ServiceParameters::ServiceParameters() {
  values_.printerApplication = kPrintControlRelativePath;
  values_.spoolerDirectory = kSpoolRelativePath;
}

void ServiceParameters::Bind(const char* serviceName, platform::Hive rootKey) {
  if (!serviceName) throw NullPointerException();
  if (!*serviceName) throw IllegalArgumentException();
  serviceName_ = serviceName;
  rootKey_ = rootKey;
}

std::string ServiceParameters::ParametersKeyPath() const {
  return std::string(kServicesKeyPath) + "\\" + serviceName_;
}

std::string ServiceParameters::ReadInstallDirectory() const {
  if (!rootKey_) return kDefaultInstallDirectory;
  RegistryAccess software(*rootKey_, kSoftwareKeyPath);
  if (!software.KeyExists(kProductSubkey)) return kDefaultInstallDirectory;
  return software.ReadString(kProductSubkey, kInstallDirectoryValue, kDefaultInstallDirectory);
}

std::string ServiceParameters::DefaultPrinterApplication() const {
  return JoinPath(ReadInstallDirectory(), kPrintControlRelativePath);
}

std::string ServiceParameters::DefaultSpoolerDirectory() const {
  return JoinPath(ReadInstallDirectory(), kSpoolRelativePath);
}

bool ServiceParameters::Load() {
  if (!rootKey_) {
    values_.printerApplication = DefaultPrinterApplication();
    values_.spoolerDirectory = DefaultSpoolerDirectory();
    return false;
  }
  RegistryAccess access(*rootKey_, ParametersKeyPath());
  if (!access.KeyExists(kParametersSubkey)) {
    values_.printerApplication = DefaultPrinterApplication();
    values_.spoolerDirectory = DefaultSpoolerDirectory();
    return false;
  }
  const char* key = kParametersSubkey;
  values_.port = access.ReadDword(key, "Port", 4000);
  values_.maxConnections = access.ReadDword(key, "MaxConnections", 10);
  values_.keepAlive = access.ReadDword(key, "KeepAlive", 1);
  values_.timeout = access.ReadDword(key, "Timeout", 300000);
  values_.sendBuffer = access.ReadDword(key, "SendBuffer", 4096);
  values_.recvBuffer = access.ReadDword(key, "RecvBuffer", 4096);
  values_.printerApplication =
      access.ReadString(key, "PrinterApplication", DefaultPrinterApplication().c_str());
  values_.useDefaultPrinter = access.ReadDword(key, "UseDefaultPrinter", 1);
  // The printer name matters only without the default printer.
  if (values_.useDefaultPrinter == 0) {
    values_.printerName = access.ReadString(key, "PrinterName", kDefaultPrinterName);
  }
  values_.spoolerDirectory =
      access.ReadString(key, "SpoolerDirectory", DefaultSpoolerDirectory().c_str());
  return true;
}

bool ServiceParameters::Save() const {
  if (!rootKey_) return false;
  RegistryAccess access(*rootKey_, ParametersKeyPath());
  const char* key = kParametersSubkey;
  // Each write stands alone: a failure does not stop the rest.
  long failed = 0;
  failed |= access.WriteDword(key, "Port", values_.port);
  failed |= access.WriteDword(key, "MaxConnections", values_.maxConnections);
  failed |= access.WriteDword(key, "KeepAlive", values_.keepAlive);
  failed |= access.WriteDword(key, "Timeout", values_.timeout);
  failed |= access.WriteDword(key, "SendBuffer", values_.sendBuffer);
  failed |= access.WriteDword(key, "RecvBuffer", values_.recvBuffer);
  failed |= access.WriteString(key, "PrinterApplication", values_.printerApplication.c_str());
  failed |= access.WriteDword(key, "UseDefaultPrinter", values_.useDefaultPrinter);
  // Written also with the default printer in use, so a typed name stays.
  failed |= access.WriteString(key, "PrinterName", values_.printerName.c_str());
  failed |= access.WriteString(key, "SpoolerDirectory", values_.spoolerDirectory.c_str());
  return failed == 0;
}

ParameterValues ServiceParameters::GetDefaults() const {
  ParameterValues defaults;
  defaults.printerApplication = DefaultPrinterApplication();
  defaults.printerName.clear();
  defaults.spoolerDirectory = DefaultSpoolerDirectory();
  return defaults;
}

}  // namespace kavelo
