#include "protocol/intake_wire.h"

namespace kavelo::protocol {

std::string EncodeU16(uint16_t value) {
  return std::string{static_cast<char>(value >> 8), static_cast<char>(value & 0xFF)};
}

std::string EncodeU32(uint32_t value) {
  return EncodeU16(static_cast<uint16_t>(value >> 16)) +
         EncodeU16(static_cast<uint16_t>(value & 0xFFFF));
}

std::string EncodeCountedString(const std::string& text) {
  const size_t n = text.size() < kCountedStringMax ? text.size() : kCountedStringMax;
  return EncodeU16(static_cast<uint16_t>(n)) + text.substr(0, n);
}

std::string EncodeCountedFile(const std::string& data) {
  return EncodeU32(static_cast<uint32_t>(data.size())) + data;
}

uint16_t DecodeU16(const unsigned char* bytes) {
  return static_cast<uint16_t>((bytes[0] << 8) | bytes[1]);
}

uint32_t DecodeU32(const unsigned char* bytes) {
  return (uint32_t{DecodeU16(bytes)} << 16) | DecodeU16(bytes + 2);
}

}  // namespace kavelo::protocol
