// MD4 against the test suite of RFC 1320 (appendix A.5), whole and fed in uneven pieces.
#include "base/md4.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>

namespace quillon {
namespace {

std::string Hex(const uint8_t* bytes, size_t length) {
  std::string text;
  char pair[3];
  for (size_t i = 0; i < length; ++i) {
    std::snprintf(pair, sizeof pair, "%02x", bytes[i]);
    text += pair;
  }
  return text;
}

TEST(Md4Test, Rfc1320SuiteWholeAndInPieces) {
  const struct {
    std::string message;
    const char* digest;
  } kCases[] = {
      {"", "31d6cfe0d16ae931b73c59d7e0c089c0"},
      {"a", "bde52cb31de33e46245e05fbdbd6fb24"},
      {"abc", "a448017aaf21d8525fc10ae87aa6729d"},
      {"message digest", "d9130a8164549fe818874806e1c7014b"},
      {"abcdefghijklmnopqrstuvwxyz", "d79e1c308aa5bbcdeea8ed63df412da9"},
      {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
       "043f8582f241db351ce627e153e7f0e4"},
      {"1234567890123456789012345678901234567890123456789012345678901234567890123456789"
       "0",
       "e33b4ddc9c38f2199c3e7b164fcc0536"},
  };
  for (const auto& c : kCases) {
    uint8_t digest[Md4::kDigestLength];
    Md4::digest(c.message.data(), c.message.size(), digest);
    EXPECT_EQ(Hex(digest, sizeof digest), c.digest) << '"' << c.message << '"';

    // Pieces of 1, 2, 3, ... bytes cross the block boundary at every offset; the object is
    // reused after finish, so a digest must start over.
    Md4 md4;
    md4.update("left over", 9);
    md4.finish(digest);
    for (size_t at = 0, piece = 1; at < c.message.size(); at += piece, ++piece) {
      md4.update(c.message.data() + at, std::min(piece, c.message.size() - at));
    }
    md4.finish(digest);
    EXPECT_EQ(Hex(digest, sizeof digest), c.digest) << "in pieces: \"" << c.message << '"';
  }
}

}  // namespace
}  // namespace quillon
