#include "printcontrol/render/html_output_sink.h"

#include <cstring>
#include <memory>

namespace kavelo::printcontrol {

namespace {

constexpr unsigned char kCr = 0x0D;
constexpr unsigned char kLf = 0x0A;
constexpr size_t kStackChunk = 2048;  // the processor's chunks are 512 bytes

}  // namespace

size_t HtmlOutputSink::Write(const char* chunk, size_t length, void* context) {
  auto* sink = static_cast<Context*>(context);
  if (length == 0) {
    sink->lastByte = 0;
    return 0;
  }
  const auto* in = reinterpret_cast<const unsigned char*>(chunk);
  size_t i = 0;
  size_t dropped = 0;
  size_t references = 0;
  if (sink->lastByte == kCr && in[0] == kLf) {
    i = 1;  // its line end was written with the carriage return
    ++dropped;
  }
  sink->lastByte = in[length - 1];

  // Every input byte gives at most three output bytes ("&nbsp;" for two).
  char stack_buffer[3 * kStackChunk];
  std::unique_ptr<char[]> heap_buffer;
  char* out = stack_buffer;
  if (length > kStackChunk) {
    heap_buffer.reset(new char[3 * length]);
    out = heap_buffer.get();
  }
  size_t n = 0;
  while (i + 1 < length) {
    // Copy the run of ordinary bytes up to the next carriage return or 0xC2.
    size_t run = i;
    while (run + 1 < length && in[run] != kCr && in[run] != 0xC2) ++run;
    memcpy(out + n, in + i, run - i);
    n += run - i;
    i = run;
    if (i + 1 >= length) break;
    unsigned char c = in[i];
    unsigned char next = in[i + 1];
    if (c == kCr) {
      if (next == kLf) {
        ++dropped;  // the line feed follows
      } else {
        out[n++] = '\n';
      }
      i += 1;
    } else if (next == 0xA0 || next == 0x99) {
      memcpy(out + n, next == 0xA0 ? "&nbsp;" : "&#153;", 6);
      n += 6;
      ++references;
      i += 2;
    } else {
      out[n++] = static_cast<char>(c);
      i += 1;
    }
  }
  if (i == length - 1) {
    // The last byte, not taken as the second byte of a pair.
    out[n++] = in[i] == kCr ? '\n' : static_cast<char>(in[i]);
  }

  if (sink->limit >= 0 && sink->written + static_cast<long long>(n) > sink->limit) {
    sink->overLimit = true;
    return 0;
  }
  size_t written = n == 0 ? 0 : fwrite(out, 1, n, sink->file);
  sink->written += static_cast<long long>(written);
  long long reported =
      static_cast<long long>(written + dropped) - 4 * static_cast<long long>(references);
  if (written < n) {
    // A short write must never read as a complete one.
    if (reported >= static_cast<long long>(length)) reported = static_cast<long long>(length) - 1;
    if (reported < 0) reported = 0;
  }
  return static_cast<size_t>(reported);
}

void HtmlOutputSink::Flush(void* context) { fflush(static_cast<Context*>(context)->file); }

}  // namespace kavelo::printcontrol
