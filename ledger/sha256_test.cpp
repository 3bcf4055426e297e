// SHA-256 against the standard's known answers, and the processor's SHA
// instructions (where this machine has them) against the portable code.
#include "ledger/sha256.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

TEST(Sha256, KnownAnswers) {
  EXPECT_EQ(Sha256Hex("", 0), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
  EXPECT_EQ(Sha256Hex("abc", 3), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  const std::string twoBlocks = "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq";
  EXPECT_EQ(Sha256Hex(twoBlocks.data(), twoBlocks.size()),
            "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
  const std::string million(1000000, 'a');
  EXPECT_EQ(Sha256Hex(million.data(), million.size()),
            "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
  EXPECT_EQ(Sha256HexPortable(million.data(), million.size()), Sha256Hex(million.data(), million.size()));
}

TEST(Sha256, EveryLengthAroundTheBlocksGivesThePortableDigest) {
  std::vector<uint8_t> bytes(1100);
  uint32_t state = 7;
  for (uint8_t& byte : bytes) byte = static_cast<uint8_t>((state = state * 1103515245u + 12345u) >> 23);
  for (size_t size = 0; size <= bytes.size(); size += size < 200 ? 1 : 61)
    ASSERT_EQ(Sha256Hex(bytes.data(), size), Sha256HexPortable(bytes.data(), size)) << size;
}

}  // namespace
