// The input-file test of the print control.
//
// Open-file protocol: a process that writes a spool file (the service while
// it receives a job) holds an exclusive advisory lock on it, flock(fd,
// LOCK_EX), from the moment it has opened the file until it has closed it.
// The test fails for a file that is locked that way, and also for a file
// that some other process has open for writing without the lock (ruled out
// at once by a read lease where the kernel grants one, else found through
// /proc/PID/fdinfo), so a file that is still being written is never printed.
#ifndef KAVELO_PRINTCONTROL_FILE_CHECK_H_
#define KAVELO_PRINTCONTROL_FILE_CHECK_H_

#include <cstddef>
#include <cstdint>

namespace kavelo::printcontrol {

// Tests that path names a regular file that can be opened for reading, that
// no other process holds locked or open for writing, and whose size can be
// read.  Returns 0 with *size set, or -1 with the message in message:
// "Error:CreateFile(read), PATH" when it cannot be opened, is not a regular
// file or is in use; "Error:INVALID_FILE_SIZE. PATH." when its size cannot
// be read.  The file is closed again at once.
int CheckInputFile(const char* path, int64_t* size, char* message, size_t messageSize);

// True when a process other than this one has the file (device, inode) open
// for writing.  Processes whose descriptors cannot be read (another user's,
// without privilege) are not seen.
bool OpenForWritingElsewhere(uint64_t device, uint64_t inode);

}  // namespace kavelo::printcontrol

#endif  // KAVELO_PRINTCONTROL_FILE_CHECK_H_
