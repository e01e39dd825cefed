// ByteReader: reads a file one byte at a time through a 1024-byte buffer.
// Files are read as they are stored (no line-end translation).
// Not thread safe; one owner at a time.
#ifndef KAVELO_PRINTCONTROL_BYTE_READER_H_
#define KAVELO_PRINTCONTROL_BYTE_READER_H_

#include <cstddef>
#include <memory>

namespace kavelo {

class ByteReader {
 public:
  // NextByte's value at the end of the file or after a read error.  A data
  // byte of this value therefore reads as the end of the file; callers read
  // text files, which do not hold it.
  static constexpr int kEnd = 255;
  static constexpr size_t kBufferSize = 1024;

  // Reads in blocks of bufferSize bytes (at least 1).  A caller that streams
  // a whole large file may ask for larger blocks: fewer system calls.
  explicit ByteReader(size_t bufferSize = kBufferSize);
  // Closes the file when it is still open.
  ~ByteReader();
  ByteReader(const ByteReader&) = delete;
  ByteReader& operator=(const ByteReader&) = delete;

  // Opens path for reading (closing a file opened before).  Returns 0, or -1
  // when it cannot be opened (then the reader is closed).
  int Open(const char* path);
  // The next byte of the file, or kEnd at the end of the file, on a read
  // error, or when no file is open.  Inline while the buffer holds bytes:
  // callers read whole reports byte by byte.
  int NextByte() {
    if (position_ < filled_) {
      last_ = buffer_[position_++];
      return last_;
    }
    return Refill();
  }
  // The value NextByte returned last (kEnd before the first call).
  int LastByte() const { return last_; }
  void Close();
  bool IsOpen() const { return fd_ >= 0; }

 private:
  // Reads the next block and returns its first byte, or kEnd.
  int Refill();

  int fd_ = -1;          // -1: not open
  size_t filled_ = 0;    // bytes in buffer_
  size_t position_ = 0;  // next byte to return from buffer_
  int last_ = kEnd;
  size_t capacity_;
  std::unique_ptr<unsigned char[]> buffer_;
};

}  // namespace kavelo

#endif  // KAVELO_PRINTCONTROL_BYTE_READER_H_
