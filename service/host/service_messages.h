// The service's message table: the numbered texts of every event the service
// reports.  The event id of a report is the message id itself.
#ifndef KAVELO_SERVICE_SERVICE_MESSAGES_H_
#define KAVELO_SERVICE_SERVICE_MESSAGES_H_

#include <cstddef>
#include <cstdint>
#include <exception>
#include <string>

#include "platform/eventlog.h"

namespace kavelo::service {

// The event source under which the service and its threads report.
constexpr char kServiceEventSource[] = "Brelvane";

enum ServiceMessage : uint32_t {
  kMsgServiceStarted = 1,
  kMsgServiceInitFailed = 2,
  kMsgServiceStopped = 3,
  kMsgDebug = 4,                // %1: any text
  kMsgExceptionCaught = 5,      // %1: the exception's message or "Unknown"
  kMsgCreateProcessFailed = 6,  // %1: the job command line
  kMsgRemoveJobFailed = 7,      // %1: the job command line
  kMsgSocketsStartFailed = 8,
  kMsgOutOfMemory = 9,
  kMsgClassRegisterFailed = 10,
  kMsgClassUnregisterFailed = 11,
  kMsgBadAccount = 12,
  kMsgNoDefaultPrinter = 13,
  kMsgPrinterMissing = 14,             // %1: the printer name
  kMsgPrinterApplicationMissing = 15,  // %1: the path
  kMsgSpoolerDirectoryMissing = 16,    // %1: the path
  kMsgListenerStarted = 17,
  kMsgJobsRequeued = 18,         // %1: the count
  kMsgListenerStartFailed = 19,  // %1: the error code
  kMsgAcceptFailed = 20,         // %1: the error code
  kMsgListenerStopped = 21,      // %1: the port
  kMsgTempNameFailed = 22,       // %1: the directory
  kMsgTempFileFailed = 23,       // %1: the directory
  kMsgSocketIoError = 24,        // %1: the error code
  kMsgBadMagic = 25,
  kMsgXmlReceiveFailed = 26,
  kMsgXslReceiveFailed = 27,
  kMsgOptionsReceiveFailed = 28,
  kMsgVersionChallengeFailed = 29,
  kMsgFinalResponseFailed = 30,
  // The last insertion string of 31 to 34: how many held spooler jobs the
  // print control left that were cancelled.
  kMsgPrintControlTimedOut = 31,  // %1: the limit in ms, %2: the job command line, %3: held
  kMsgPrintControlAbnormal = 32,  // %1: how it ended, %2: the job command line, %3: held
  kMsgPrintControlStopped = 33,   // %1: the job command line, %2: held
  kMsgPrintControlRequeued = 34,  // %1: the job command line, %2: held
  kMsgClientNotAllowed = 35,      // %1: the client's address
  kMsgClientBoundReached = 36,    // %1: the client's address, %2: the bound and its value
  kMsgParameterEntryInvalid = 37, // %1: the value's name, %2: the entry
  kMsgJobAction = 38,             // %1: the job number, %2: what happened and who asked
  kMsgHistoryWriteFailed = 39,    // %1: what could not be written and why
  kMsgPrintControlAbnormalKept = 40,  // %1: how it ended, %2: the job command line, %3: held
};

// The table, ids 1 to 40 in order, each text ending with "\r\n".
extern const platform::MessageEntry kServiceMessages[];
extern const size_t kServiceMessageCount;

// Makes the table the program's message table (platform::SetMessageTable).
// Call once at the start of the service program.
void InstallServiceMessageTable();

// The insertion text of an "Exception caught" report: the exception's
// message (ExceptionMessage), cut to what a 256-byte buffer holds.
std::string ExceptionReportText(const std::exception& e);

}  // namespace kavelo::service

#endif  // KAVELO_SERVICE_SERVICE_MESSAGES_H_
