// ByteReader: reads a file one byte at a time through a 1024-byte buffer.
// Files are read as they are stored (no line-end translation).
// Not thread safe; one owner at a time.
#ifndef KAVELO_PRINTCONTROL_BYTE_READER_H_
#define KAVELO_PRINTCONTROL_BYTE_READER_H_

#include <cstddef>
#include <memory>

namespace kavelo::printcontrol {

class ByteReader {
 public:
  // NextByte's value at the end of the file or after a read error.  A data
  // byte of this value therefore reads as the end of the file; callers that
  // must see every byte (copies, splits, any Latin-1 text) use Next.
  static constexpr int kEnd = 255;
  // Next's values that are no byte.
  static constexpr int kEndOfFile = -1;
  static constexpr int kReadFailed = -2;
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
  // The next byte of the file (0 to 255); kEndOfFile at the end of the
  // file or when no file is open; kReadFailed when a read failed, and from
  // then on until the file is closed.  Inline while the buffer holds bytes:
  // callers read whole reports byte by byte.
  int Next() {
    if (position_ < filled_) {
      last_ = buffer_[position_++];
      return last_;
    }
    return Refill();
  }
  // The next byte of the file, or kEnd at the end of the file, on a read
  // error, or when no file is open.
  int NextByte() {
    int c = Next();
    return c < 0 ? kEnd : c;
  }
  // The value NextByte returned last (kEnd before the first call).
  int LastByte() const { return last_; }
  void Close();
  bool IsOpen() const { return fd_ >= 0; }

 private:
  // Reads the next block and returns its first byte, kEndOfFile or
  // kReadFailed.
  int Refill();

  int fd_ = -1;          // -1: not open
  size_t filled_ = 0;    // bytes in buffer_
  size_t position_ = 0;  // next byte to return from buffer_
  int last_ = kEnd;
  bool failed_ = false;  // a read failed; cleared by Close
  size_t capacity_;
  std::unique_ptr<unsigned char[]> buffer_;
};

}  // namespace kavelo::printcontrol

#endif  // KAVELO_PRINTCONTROL_BYTE_READER_H_
