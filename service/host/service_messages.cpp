#include "service/host/service_messages.h"

#include "common/exceptions.h"

namespace kavelo::service {

const platform::MessageEntry kServiceMessages[] = {
    {1, "The service was started.\r\n"},
    {2, "The service initialization process failed. Service not started.\r\n"},
    {3, "The service was stopped.\r\n"},
    {4, "Debug: %1\r\n"},
    {5, "Exception caught: %1\r\n"},
    {6, "The CreateProcess() function failed for (%1).\r\n"},
    {7,
     "The Brelvane printing thread failed to remove the completed print job from the print queue "
     "(%1).\r\n"},
    {8, "The initialization process failed to start the Windows Sockets subsystem.\r\n"},
    {9, "A memory allocation has failed, system resources are low.\r\n"},
    {10, "The service class objects failed to register successfully.\r\n"},
    {11, "The service class objects failed to unregister successfully.\r\n"},
    {12,
     "This service cannot run with the 'LocalSystem' account or an account that does not belong to "
     "the 'Administrator' group. Cannot continue.\r\n"},
    {13,
     "The user credentials of this service does not have a default printer assigned. Cannot "
     "continue.\r\n"},
    {14, "The printer (%1) does not exist or insuffient access privileges. Cannot continue.\r\n"},
    {15, "The printer application (%1) does not exist. Cannot continue.\r\n"},
    {16,
     "The spooler directory (%1) does not exist. Please create this directory. Cannot "
     "continue.\r\n"},
    {17, "The Brelvane listener thread has started.\r\n"},
    {18, "The Brelvane print thread has re-started with (%1) jobs re-queued for printing.\r\n"},
    {19, "The Brelvane listener thread failed to start with an error code (%1).\r\n"},
    {20, "The Brelvane listener thread call to 'accept' failed with an error code (%1).\r\n"},
    {21, "The service listener thread for port (%1) has stopped.\r\n"},
    {22,
     "The Brelvane listener thread could not create a unique temporary file name in the (%1) "
     "directory.\r\n"},
    {23,
     "The Brelvane listener thread could not create a temporary file in the (%1) directory.\r\n"},
    {24, "The Brelvane listener thread socket aborted with an I/O error code (%1).\r\n"},
    {25,
     "The Brelvane listener thread socket received a bad magic number from a client. Connection "
     "closed.\r\n"},
    {26,
     "The Brelvane listener thread socket failed to receive the XML print file from the client. "
     "Connection closed.\r\n"},
    {27,
     "The Brelvane listener thread socket failed to receive the XSL print file from the client. "
     "Connection closed.\r\n"},
    {28,
     "The Brelvane listener thread socket failed to receive the print options from the client. "
     "Connection closed.\r\n"},
    {29,
     "The Brelvane listener thread socket failed a client/server version challenge. Connection "
     "closed.\r\n"},
    {30,
     "The Brelvane listener thread socket failed to send a final response to the connection.\r\n"},
    {31,
     "The print control did not end within its time limit of (%1) ms and was stopped. The job "
     "and its files were removed (%2). Held spooler jobs it left, cancelled: %3.\r\n"},
    {32,
     "The print control ended abnormally (%1) before it had removed its job. The job's files were "
     "removed (%2). Held spooler jobs it left, cancelled: %3.\r\n"},
    {33,
     "The service stop ended the running print control. The job and its files were removed "
     "(%1). Held spooler jobs it left, cancelled: %2.\r\n"},
    {34,
     "The service stop ended the running print control. The job stays queued and prints again "
     "from its first page at the next start (%1). Held spooler jobs it left, cancelled: %2.\r\n"},
    {35,
     "The client (%1) is not among the allowed clients. Connection closed before it was "
     "read.\r\n"},
    {36, "The client (%1) has reached its bound (%2). Refused.\r\n"},
    {37,
     "The service parameter %1 holds an entry that is not a valid address (%2). Cannot "
     "continue.\r\n"},
    {38, "Job %1: %2.\r\n"},
    {39, "The job history could not be written: %1. The job itself is not affected.\r\n"},
    {40,
     "The print control ended abnormally (%1) before it had removed its job. The job's spooled "
     "files are kept for a retry until KeepFailedHours have passed (%2). Held spooler jobs it "
     "left, cancelled: %3.\r\n"},
};

const size_t kServiceMessageCount = sizeof kServiceMessages / sizeof kServiceMessages[0];

void InstallServiceMessageTable() {
  platform::SetMessageTable(kServiceMessages, kServiceMessageCount);
}

std::string ExceptionReportText(const std::exception& e) {
  std::string text = ExceptionMessage(e);
  if (text.size() > 255) text.resize(255);
  return text;
}

}  // namespace kavelo::service
