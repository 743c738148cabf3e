// SHA-256 against the published test vectors, and fed in pieces of every size: a digest that an
// integrator compares with its own must not depend on how the image was read.

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "platform/Sha256.h"

namespace {

const uint8_t* Bytes(const std::string& text) { return reinterpret_cast<const uint8_t*>(text.data()); }

TEST(Sha256, KnownDigests) {
  struct Case {
    std::string input;
    const char* digest;
  };
  const Case cases[] = {
      {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      // 56 bytes: the length no longer fits the first block
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
      {"abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrlmnopqrsmnopq"
       "rst"
       "nopqrstu",
       "cf5b16a778af8380036ce59e7b0492370b249b11e8f07a51afac45037afee9d1"},
      {std::string(1000000, 'a'), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.input.size());
    EXPECT_EQ(CSha256::HexDigest(Bytes(c.input), c.input.size()), c.digest);
  }
}

TEST(Sha256, PiecesOfAnySizeGiveTheSameDigest) {
  std::string data(1000, '\0');
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 7 + 3);
  const std::string whole = CSha256::HexDigest(Bytes(data), data.size());
  for (size_t piece : {1u, 3u, 55u, 63u, 64u, 65u, 127u, 999u}) {
    SCOPED_TRACE(piece);
    CSha256 sha;
    for (size_t at = 0; at < data.size(); at += piece)
      sha.Update(Bytes(data) + at, std::min(piece, data.size() - at));
    std::string hex;
    for (uint8_t b : sha.Finish()) {
      static constexpr char kHex[] = "0123456789abcdef";
      hex += kHex[b >> 4];
      hex += kHex[b & 15];
    }
    EXPECT_EQ(hex, whole);
  }
}

}  // namespace
