// The Windows status codes every seam of platform/ returns, each defined
// once, and the one translation of errno into them.  The registry returns
// these names; the spooler (kSpooler*) and the service control (kScm*) name
// the subsets they use after them.
#ifndef KAVELO_PLATFORM_STATUS_H_
#define KAVELO_PLATFORM_STATUS_H_

namespace kavelo::platform {

constexpr long kErrorSuccess = 0;
constexpr long kErrorFileNotFound = 2;   // key, value or file does not exist
constexpr long kErrorAccessDenied = 5;   // cannot be written, or opened read-only
constexpr long kErrorInvalidHandle = 6;  // a handle that is not open
constexpr long kErrorNotEnoughMemory = 8;
constexpr long kErrorInvalidData = 13;  // hive file is corrupt
constexpr long kErrorGenFailure = 31;
constexpr long kErrorNotSupported = 50;
constexpr long kErrorInvalidParameter = 87;
constexpr long kErrorInsufficientBuffer = 122;
constexpr long kErrorInvalidName = 123;
constexpr long kErrorBadPathname = 161;  // empty or malformed key path
constexpr long kErrorBusy = 170;         // the hive stayed locked by another writer too long
constexpr long kErrorMoreData = 234;     // caller's buffer too small
constexpr long kErrorNoMoreItems = 259;  // enumeration past the end
constexpr long kErrorCantWrite = 1013;   // the store failed to write (disk, I/O)
constexpr long kErrorKeyDeleted = 1018;  // the key was deleted after it was opened
constexpr long kErrorServiceDatabaseLocked = 1055;
constexpr long kErrorServiceAlreadyRunning = 1056;
constexpr long kErrorServiceDoesNotExist = 1060;
constexpr long kErrorFailedServiceControllerConnect = 1063;
constexpr long kErrorServiceExists = 1073;
constexpr long kErrorNotFound = 1168;
constexpr long kErrorTimeout = 1460;
constexpr long kRpcServerUnavailable = 1722;
constexpr long kErrorInvalidPrinterName = 1801;

// kErrorAccessDenied for the errno values that mean "not allowed" (EACCES,
// EPERM, EROFS), otherwise the caller's choice.
long StatusFromErrno(int error, long otherwise);

}  // namespace kavelo::platform

#endif  // KAVELO_PLATFORM_STATUS_H_
