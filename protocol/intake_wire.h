// The job intake exchange on the wire: one print job over one connection.
// The service reads it (service/intake_exchange), kavelo-send writes it
// (tools/job_client).
//
// Integers are unsigned big-endian; status words are 2 bytes, sent by the
// service:
//   client  magic number 0x5850524E (4 bytes)     service  status 0 / 0xFFFF
//   client  version "1.0.0" (counted string)      service  "1.0.0", status
//   client  option text (counted string)          service  status 0
//   client  XML file (4-byte length + content)
//   client  XSL file (4-byte length + content)    service  status 0
//                                                 service  final status 0 (queued) / 1
// A counted string is a 2-byte length and that many bytes.
#ifndef KAVELO_PROTOCOL_INTAKE_WIRE_H_
#define KAVELO_PROTOCOL_INTAKE_WIRE_H_

#include <cstddef>
#include <cstdint>
#include <string>

namespace kavelo::protocol {

constexpr uint32_t kIntakeMagic = 0x5850524E;
constexpr char kIntakeVersion[] = "1.0.0";
constexpr uint16_t kStatusAccepted = 0x0000;
constexpr uint16_t kStatusRejected = 0xFFFF;
constexpr uint16_t kFinalQueued = 0x0000;
constexpr uint16_t kFinalNotQueued = 0x0001;
// The longest text a counted string carries.
constexpr size_t kCountedStringMax = 0xFFFF;

std::string EncodeU16(uint16_t value);
std::string EncodeU32(uint32_t value);
// A 2-byte length and the text; a text longer than kCountedStringMax is
// cut to it.
std::string EncodeCountedString(const std::string& text);
// The 4-byte length of a file and its content.
std::string EncodeCountedFile(const std::string& data);

// The value of 2 or 4 bytes in wire order.
uint16_t DecodeU16(const unsigned char* bytes);
uint32_t DecodeU32(const unsigned char* bytes);

}  // namespace kavelo::protocol

#endif  // KAVELO_PROTOCOL_INTAKE_WIRE_H_
