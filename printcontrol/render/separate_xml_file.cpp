#include "printcontrol/render/separate_xml_file.h"

#include <strings.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "printcontrol/render/byte_reader.h"
#include "printcontrol/render/string_list.h"

namespace kavelo::printcontrol {

namespace {

constexpr size_t kErrorSize = 1024;
constexpr size_t kPrologueLimit = 5121;  // the prologue ends within these bytes
constexpr size_t kFlushAbove = 2047;     // flush at "</" once the buffer holds more
// A buffer without any "</" is flushed past this size, all but its last
// kKeepOnFlush bytes, so a tested tag text (12 bytes at most) stays whole.
constexpr size_t kHardFlushAbove = 65536;
constexpr size_t kKeepOnFlush = 16;
constexpr size_t kReadBlock = 65536;

constexpr char kPage[] = "<page/>";
constexpr char kSoftPage[] = "<soft_page/>";
constexpr char kReportEnd[] = "</report>";
constexpr char kReportInfoEnd[] = "</report_info>";

// ASCII letters in any case; the tag texts are lower case.
inline char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; }

// Whether the `used` bytes of `data` end with `tag`, letters in any case.
template <size_t N>
bool TailIs(const char* data, size_t used, const char (&tag)[N]) {
  constexpr size_t n = N - 1;
  if (used < n) return false;
  const char* tail = data + used - n;
  for (size_t i = 0; i < n; ++i) {
    if (Lower(tail[i]) != tag[i]) return false;
  }
  return true;
}

template <size_t N>
bool EndsWith(const std::string& text, const char (&tag)[N]) {
  constexpr size_t n = N - 1;
  return text.size() >= n && strncasecmp(text.data() + text.size() - n, tag, n) == 0;
}

// "<name" followed by a blank or ">", in any case, at the end of text.
template <size_t N>
bool EndsWithStartTag(const std::string& text, const char (&name)[N]) {
  constexpr size_t n = N - 1;
  if (text.size() < n + 1) return false;
  char last = text.back();
  return (last == ' ' || last == '>') &&
         strncasecmp(text.data() + text.size() - n - 1, name, n) == 0;
}

// Reads the prologue: the bytes up to and including the first
// "</report_info>", which must end within the first kPrologueLimit bytes and
// before the first page_header or detail start tag.  False without one.
bool ReadPrologue(const char* path, std::string* prologue) {
  ByteReader reader;
  if (reader.Open(path) != 0) return false;
  prologue->clear();
  while (prologue->size() < kPrologueLimit) {
    int byte = reader.Next();
    if (byte < 0) return false;
    prologue->push_back(static_cast<char>(byte));
    if (byte != '>' && byte != ' ') continue;
    if (EndsWith(*prologue, kReportInfoEnd)) return true;
    if (EndsWithStartTag(*prologue, "<page_header") || EndsWithStartTag(*prologue, "<detail")) {
      return false;
    }
  }
  return false;
}

// The chunk files of one split, with the clean-up of a failed one.
class ChunkWriter {
 public:
  ChunkWriter(std::string base, StringList* list) : base_(std::move(base)), list_(list) {}
  ~ChunkWriter() { CloseCurrent(); }

  // Creates chunk number `number_` new (an old file of its name is deleted).
  bool Create() {
    path_ = base_ + std::to_string(number_) + ".xml";
    remove(path_.c_str());
    file_ = fopen(path_.c_str(), "w+");
    failed_ = file_ == nullptr;
    // Few large writes, as the report is read in large blocks too.
    if (file_ != nullptr) setvbuf(file_, write_buffer_.get(), _IOFBF, kWriteBuffer);
    return file_ != nullptr;
  }
  void Write(const char* data, size_t n) {
    if (!failed_ && n > 0 && fwrite(data, 1, n, file_) != n) failed_ = true;
  }
  void Write(const std::string& text) { Write(text.data(), text.size()); }
  // Closes the current chunk and lists it; the next one gets the next number.
  bool Finish() {
    bool ok = fclose(file_) == 0 && !failed_;
    file_ = nullptr;
    if (!ok) return false;
    list_->Push(path_.c_str());
    ++number_;
    return true;
  }
  // Deletes every chunk file of this split, also the one being written.
  void Discard() {
    CloseCurrent();
    for (int i = 0; i < list_->Count(); ++i) remove(list_->Item(i));
    list_->Clear();
  }
  const std::string& path() const { return path_; }

 private:
  void CloseCurrent() {
    if (file_ == nullptr) return;
    fclose(file_);
    file_ = nullptr;
    remove(path_.c_str());
  }

  static constexpr size_t kWriteBuffer = 65536;

  std::string base_;
  StringList* list_;
  std::unique_ptr<char[]> write_buffer_{new char[kWriteBuffer]};
  std::string path_;
  FILE* file_ = nullptr;
  int number_ = 0;
  bool failed_ = false;
};

}  // namespace

void SeparateXmlFile(const char* xmlPath, int factor, int pageCount, StringList* chunkFiles,
                     char* error) {
  chunkFiles->Clear();
  error[0] = '\0';
  if (xmlPath == nullptr || xmlPath[0] == '\0') {
    snprintf(error, kErrorSize, "Can't find xml file.");
    return;
  }
  if (pageCount <= 0) {
    snprintf(error, kErrorSize, "invalid page count.");
    return;
  }
  std::string prologue;
  if (!ReadPrologue(xmlPath, &prologue)) {
    snprintf(error, kErrorSize, "Can't find <report_info>, report:%s", xmlPath);
    return;
  }
  const int pagesPerChunk = pageCount / (factor < 1 ? 1 : factor) + 1;
  std::string base = xmlPath;
  if (base.size() > 4 && strcasecmp(base.c_str() + base.size() - 4, ".xml") == 0) {
    base.resize(base.size() - 4);
  }

  // The whole report streams through here: 64 KiB reads instead of 1 KiB
  // ones halve the split's time, most of which went into system calls.
  ByteReader reader(kReadBlock);
  if (reader.Open(xmlPath) != 0) {
    snprintf(error, kErrorSize, "Can't open file:%s", xmlPath);
    return;
  }
  ChunkWriter chunks(base, chunkFiles);
  if (!chunks.Create()) {
    snprintf(error, kErrorSize, "Can't create tmp file:%s", chunks.path().c_str());
    return;
  }
  auto fail_write = [&] {
    snprintf(error, kErrorSize, "Can't write tmp file:%s", chunks.path().c_str());
    chunks.Discard();
  };

  // The buffer of the tested tail: a "</" flush keeps it near 2 KiB, the
  // hard flush bounds it whatever the report holds.
  std::unique_ptr<char[]> buffer(new char[kHardFlushAbove + 1]);
  size_t used = 0;
  int pages = 0;
  int byte = 0;
  for (;;) {
    // Every byte is data, 0xFF (a Latin-1 letter) too.
    byte = reader.Next();
    if (byte < 0) break;
    buffer[used++] = static_cast<char>(byte);
    if (byte == '>' && used >= 2) {
      // Every tested tag ends in ">"; the byte before it tells which can match.
      char before = buffer[used - 2];
      size_t marker = 0;
      if (before == '/') {
        if (TailIs(buffer.get(), used, kPage)) {
          marker = sizeof(kPage) - 1;
        } else if (TailIs(buffer.get(), used, kSoftPage)) {
          marker = sizeof(kSoftPage) - 1;
        }
      } else if ((before == 't' || before == 'T') && TailIs(buffer.get(), used, kReportEnd)) {
        chunks.Write(buffer.get(), used);
        if (!chunks.Finish()) return fail_write();
        return;
      }
      if (marker == 0 || ++pages < pagesPerChunk) continue;
      // The chunk boundary takes the place of the page break.
      chunks.Write(buffer.get(), used - marker);
      chunks.Write(kReportEnd, sizeof(kReportEnd) - 1);
      if (!chunks.Finish()) return fail_write();
      pages = 0;
      used = 0;
      if (!chunks.Create()) {
        snprintf(error, kErrorSize, "Can't create tmp file:%s", chunks.path().c_str());
        chunks.Discard();
        return;
      }
      chunks.Write(prologue);
    } else if (byte == '/' && used > kFlushAbove && buffer[used - 2] == '<') {
      chunks.Write(buffer.get(), used - 2);
      buffer[0] = '<';
      buffer[1] = '/';
      used = 2;
    } else if (used >= kHardFlushAbove) {
      chunks.Write(buffer.get(), used - kKeepOnFlush);
      memmove(buffer.get(), buffer.get() + used - kKeepOnFlush, kKeepOnFlush);
      used = kKeepOnFlush;
    }
  }
  if (byte == ByteReader::kReadFailed) {
    snprintf(error, kErrorSize, "Can't read file:%s", xmlPath);
  } else {
    snprintf(error, kErrorSize, "Can't find </report> in xml file. Method(SeparateXmlFile)");
  }
  chunks.Discard();
}

}  // namespace kavelo::printcontrol
