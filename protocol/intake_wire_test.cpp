#include "protocol/intake_wire.h"

#include <string>

#include <gtest/gtest.h>

namespace kavelo::protocol {
namespace {

const unsigned char* Bytes(const std::string& s) {
  return reinterpret_cast<const unsigned char*>(s.data());
}

TEST(IntakeWireTest, IntegersAndCountedTextsRoundTripInNetworkOrder) {
  EXPECT_EQ("XPRN", EncodeU32(kIntakeMagic));  // the magic number reads as text
  EXPECT_EQ(std::string("\xFF\xFF", 2), EncodeU16(kStatusRejected));
  for (uint32_t v : {0u, 1u, 0x0102u, 0x80000000u, 0xFFFFFFFFu, kIntakeMagic}) {
    EXPECT_EQ(v, DecodeU32(Bytes(EncodeU32(v)))) << v;
    EXPECT_EQ(static_cast<uint16_t>(v), DecodeU16(Bytes(EncodeU16(static_cast<uint16_t>(v)))));
  }
  struct Case {
    std::string text;
    size_t carried;
  } cases[] = {{"", 0},
               {kIntakeVersion, 5},
               {std::string(300, 'o'), 300},
               {std::string(kCountedStringMax + 7, 'x'), kCountedStringMax}};
  for (const Case& c : cases) {
    std::string wire = EncodeCountedString(c.text);
    ASSERT_EQ(2 + c.carried, wire.size());
    EXPECT_EQ(c.carried, DecodeU16(Bytes(wire)));
    EXPECT_EQ(c.text.substr(0, c.carried), wire.substr(2));
  }
  std::string file = EncodeCountedFile(std::string("<r>\0</r>", 8));
  EXPECT_EQ(8u, DecodeU32(Bytes(file)));
  EXPECT_EQ(std::string("<r>\0</r>", 8), file.substr(4));
}

}  // namespace
}  // namespace kavelo::protocol
