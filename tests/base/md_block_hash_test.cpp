// MD4 and MD5 against the suites of RFC 1320 and RFC 1321 (whole and fed in uneven pieces),
// HMAC-MD5 against RFC 2202, and MD5 and HMAC-MD5 against OpenSSL around the block boundaries.
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "base/md4.h"
#include "base/md5.h"

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

struct DigestCase {
  std::string message;
  const char* digest;
};

template <typename Hash>
void ExpectSuite(const std::vector<DigestCase>& cases) {
  for (const DigestCase& c : cases) {
    uint8_t digest[Hash::kDigestLength];
    Hash::digest(c.message.data(), c.message.size(), digest);
    EXPECT_EQ(Hex(digest, sizeof digest), c.digest) << '"' << c.message << '"';

    // Pieces of 1, 2, 3, ... bytes cross the block boundary at every offset; the object is
    // reused after finish, so a digest must start over.
    Hash hash;
    hash.update("left over", 9);
    hash.finish(digest);
    for (size_t at = 0, piece = 1; at < c.message.size(); at += piece, ++piece) {
      hash.update(c.message.data() + at, std::min(piece, c.message.size() - at));
    }
    hash.finish(digest);
    EXPECT_EQ(Hex(digest, sizeof digest), c.digest) << "in pieces: \"" << c.message << '"';
  }
}

TEST(Md4Test, Rfc1320SuiteWholeAndInPieces) {
  ExpectSuite<Md4>({
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
  });
}

TEST(Md5Test, Rfc1321SuiteWholeAndInPieces) {
  ExpectSuite<Md5>({
      {"", "d41d8cd98f00b204e9800998ecf8427e"},
      {"a", "0cc175b9c0f1b6a831c399e269772661"},
      {"abc", "900150983cd24fb0d6963f7d28e17f72"},
      {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
      {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
      {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
       "d174ab98d277d9f5a5611c2c9f419d9f"},
      {"1234567890123456789012345678901234567890123456789012345678901234567890123456789"
       "0",
       "57edf4a22be3c955ac49da2e2107b67a"},
  });
}

TEST(Md5Test, HmacMd5Rfc2202Suite) {
  const struct {
    std::string key, message;
    const char* digest;
  } kCases[] = {
      {std::string(16, '\x0b'), "Hi There", "9294727a3638bb1c13f48ef8158bfc9d"},
      {"Jefe", "what do ya want for nothing?", "750c783e6ab0b503eaa86e310a5db738"},
      {std::string(16, '\xaa'), std::string(50, '\xdd'), "56be34521d144c88dbb8c733f0e8b3f6"},
      {"\x01\x02\x03\x04\x05\x06\x07\x08\x09\x0a\x0b\x0c\x0d\x0e\x0f\x10\x11\x12\x13\x14\x15"
       "\x16\x17\x18\x19",
       std::string(50, '\xcd'), "697eaf0aca3a3aea3a75164746ffaa79"},
      {std::string(16, '\x0c'), "Test With Truncation", "56461ef2342edc00f9bab995690efd4c"},
      {std::string(80, '\xaa'), "Test Using Larger Than Block-Size Key - Hash Key First",
       "6b1ab7fe4bd7bf8f0b62e6ce61b9d0cd"},
      {std::string(80, '\xaa'),
       "Test Using Larger Than Block-Size Key and Larger Than One Block-Size Data",
       "6f630fad67cda0ee1fb1f562db3aa53e"},
  };
  for (const auto& c : kCases) {
    uint8_t digest[Md5::kDigestLength];
    HmacMd5(c.key.data(), c.key.size(), c.message.data(), c.message.size(), digest);
    EXPECT_EQ(Hex(digest, sizeof digest), c.digest) << '"' << c.message << '"';
  }
}

TEST(Md5Test, AgreesWithOpenSslAroundBlockBoundaries) {
  std::string bytes;
  for (int i = 0; i < 300; ++i) bytes += static_cast<char>(i * 7 + 3);
  for (size_t length = 0; length <= bytes.size(); ++length) {
    uint8_t ours[Md5::kDigestLength], theirs[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    Md5::digest(bytes.data(), length, ours);
    EVP_Digest(bytes.data(), length, theirs, &size, EVP_md5(), nullptr);
    EXPECT_EQ(Hex(ours, sizeof ours), Hex(theirs, size)) << "length " << length;

    const size_t keyLength = length % 97;
    HmacMd5(bytes.data(), keyLength, bytes.data(), length, ours);
    HMAC(EVP_md5(), bytes.data(), static_cast<int>(keyLength),
         reinterpret_cast<const unsigned char*>(bytes.data()), length, theirs, &size);
    EXPECT_EQ(Hex(ours, sizeof ours), Hex(theirs, size)) << "HMAC, length " << length;
  }
}

}  // namespace
}  // namespace quillon
