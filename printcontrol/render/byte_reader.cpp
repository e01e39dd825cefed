#include "printcontrol/render/byte_reader.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace kavelo::printcontrol {

ByteReader::ByteReader(size_t bufferSize)
    : capacity_(bufferSize > 0 ? bufferSize : 1), buffer_(new unsigned char[capacity_]) {}

ByteReader::~ByteReader() { Close(); }

int ByteReader::Open(const char* path) {
  Close();
  if (path == nullptr || path[0] == '\0') return -1;
  int fd;
  do {
    fd = ::open(path, O_RDONLY | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return -1;
  fd_ = fd;
  return 0;
}

int ByteReader::Refill() {
  last_ = kEnd;
  if (failed_) return kReadFailed;
  if (fd_ < 0) return kEndOfFile;
  ssize_t got;
  do {
    got = ::read(fd_, buffer_.get(), capacity_);
  } while (got < 0 && errno == EINTR);
  position_ = 0;
  filled_ = got > 0 ? static_cast<size_t>(got) : 0;
  if (got < 0) {
    failed_ = true;
    return kReadFailed;
  }
  if (filled_ == 0) return kEndOfFile;
  last_ = buffer_[position_++];
  return last_;
}

void ByteReader::Close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  filled_ = 0;
  position_ = 0;
  last_ = kEnd;
  failed_ = false;
}

}  // namespace kavelo::printcontrol
