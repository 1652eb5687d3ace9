// Tests of the CRCs and the message digests.
#include "values/checksum.h"

#include <gtest/gtest.h>
#include <openssl/obj_mac.h>
#include <qzbase.h>

#include <cstring>
#include <random>
#include <string>
#include <thread>
#include <vector>

using namespace qzbase;

namespace {

const unsigned char* u(const char* s) { return reinterpret_cast<const unsigned char*>(s); }
const unsigned char* u(const std::string& s) {
  return reinterpret_cast<const unsigned char*>(s.data());
}

std::string hex(const unsigned char* p, size_t n) {
  static const char* digits = "0123456789abcdef";
  std::string out;
  for (size_t i = 0; i < n; ++i) {
    out += digits[p[i] >> 4];
    out += digits[p[i] & 15];
  }
  return out;
}

std::vector<unsigned char> random_bytes(size_t n, unsigned seed) {
  std::mt19937 rng(seed);
  std::vector<unsigned char> v(n);
  for (auto& b : v) b = static_cast<unsigned char>(rng());
  return v;
}

String bin(const std::string& s) { return String(s.data(), s.size(), Charset::binary); }

const std::string kAbc = "abc";
const std::string kLong = "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq";

}  // namespace

// ---------------------------------------------------------------------------------------------
// CRC-16
// ---------------------------------------------------------------------------------------------

TEST(Crc16, CheckValues) {
  EXPECT_EQ(calculate_crc16(0, u("123456789"), 9), 0x29B1);
  EXPECT_EQ(calculate_crc16(0, u(""), 0), 0xFFFF);
  EXPECT_EQ(calculate_crc16(0x1D0F, u(""), 0), 0x1D0F);
  EXPECT_EQ(calculate_crc16(0x1D0F, u("123456789"), 9), 0xE5CC);  // CRC-16/SPI-FUJITSU
  EXPECT_EQ(calculate_crc16(0xFFFF, u("123456789"), 9), 0x29B1);
}

TEST(Crc16, ChainsThroughTheSeed) {
  auto data = random_bytes(1000, 7);
  unsigned short whole = calculate_crc16(0, data.data(), 1000);
  for (unsigned split : {1u, 2u, 333u, 999u}) {
    unsigned short a = calculate_crc16(0, data.data(), split);
    ASSERT_NE(a, 0);  // 0 would restart at 0xFFFF
    EXPECT_EQ(calculate_crc16(a, data.data() + split, 1000 - split), whole) << split;
  }
}

// ---------------------------------------------------------------------------------------------
// CRC-32
// ---------------------------------------------------------------------------------------------

TEST(Crc32, CheckValues) {
  EXPECT_EQ(calculate_crc32(0, u("123456789"), 9), 0xCBF43926u);
  EXPECT_EQ(calculate_crc32(0, u("abc"), 3), 0x352441C2u);
  EXPECT_EQ(calculate_crc32(0, u(""), 0), 0u);
  EXPECT_EQ(calculate_crc32(0x12345678u, u(""), 0), 0x12345678u);
  EXPECT_EQ(calculate_crc32(0, u("The quick brown fox jumps over the lazy dog"), 43), 0x414FA339u);
}

TEST(Crc32, TableEntries) {
  EXPECT_EQ(crc32_for_byte(0), 0xD202EF8Du);
  // Entry i of the folded table is the standard entry of i ^ 0xFF with the top byte inverted.
  EXPECT_EQ(crc32_for_byte(0xFF), 0x00000000u ^ 0xFF000000u);
  EXPECT_EQ(crc32_for_byte(0xFE), 0x77073096u ^ 0xFF000000u);
}

TEST(Crc32, ChainedCallsEqualOneCall) {
  auto data = random_bytes(4099, 1);
  const unsigned whole = calculate_crc32(0, data.data(), 4099);
  EXPECT_EQ(whole, calculate_crc32_bytewise(0, data.data(), 4099));
  for (unsigned split = 0; split <= 4099; split += (split < 40 ? 1 : 97)) {
    unsigned a = calculate_crc32(0, data.data(), split);
    EXPECT_EQ(calculate_crc32(a, data.data() + split, 4099 - split), whole) << split;
  }
  // Three pieces.
  unsigned c = calculate_crc32(0, data.data(), 5);
  c = calculate_crc32(c, data.data() + 5, 1000);
  c = calculate_crc32(c, data.data() + 1005, 3094);
  EXPECT_EQ(c, whole);
}

TEST(Crc32, SlicedEqualsBytewiseAtEveryAlignmentAndLength) {
  auto data = random_bytes(300, 2);
  for (unsigned off = 0; off < 16; ++off)
    for (unsigned len = 0; len + off <= 300; len += (len < 70 ? 1 : 23))
      for (unsigned seed : {0u, 0xFFFFFFFFu, 0xDEADBEEFu})
        ASSERT_EQ(calculate_crc32(seed, data.data() + off, len),
                  calculate_crc32_bytewise(seed, data.data() + off, len))
            << off << " " << len << " " << seed;
}

// ---------------------------------------------------------------------------------------------
// CRC-32C
// ---------------------------------------------------------------------------------------------

TEST(Crc32c, CheckValueAtEveryAlignment) {
  const char* digits = "123456789";
  for (size_t off = 0; off < 16; ++off) {
    std::vector<unsigned char> buf(32, 0xEE);
    std::memcpy(buf.data() + off, digits, 9);
    EXPECT_EQ(calculate_crc32c(0xFFFFFFFFu, buf.data() + off, 9) ^ 0xFFFFFFFFu, 0xE3069283u) << off;
    EXPECT_EQ(calculate_crc32c_portable(0xFFFFFFFFu, buf.data() + off, 9) ^ 0xFFFFFFFFu,
              0xE3069283u)
        << off;
    EXPECT_EQ(calculate_crc32c_bytewise(0xFFFFFFFFu, buf.data() + off, 9) ^ 0xFFFFFFFFu,
              0xE3069283u)
        << off;
  }
  EXPECT_EQ(calculate_crc32c(0x1234u, u(""), 0), 0x1234u);
  // 32 bytes of zeros (RFC 3720 B.4).
  std::vector<unsigned char> zeros(32, 0);
  EXPECT_EQ(calculate_crc32c(0xFFFFFFFFu, zeros.data(), 32) ^ 0xFFFFFFFFu, 0x8A9136AAu);
}

TEST(Crc32c, AllFormsAgreeAtEveryAlignmentAndLength) {
  auto data = random_bytes(300, 3);
  for (unsigned off = 0; off < 16; ++off)
    for (unsigned len = 0; len + off <= 300; len += (len < 70 ? 1 : 23))
      for (unsigned seed : {0u, 0xFFFFFFFFu, 0x9E3779B9u}) {
        unsigned ref = calculate_crc32c_bytewise(seed, data.data() + off, len);
        ASSERT_EQ(calculate_crc32c(seed, data.data() + off, len), ref) << off << " " << len;
        ASSERT_EQ(calculate_crc32c_portable(seed, data.data() + off, len), ref)
            << off << " " << len;
      }
}

TEST(Crc32c, ChainsThroughTheSeed) {
  auto data = random_bytes(1000, 4);
  unsigned whole = calculate_crc32c(0xFFFFFFFFu, data.data(), 1000);
  for (unsigned split = 0; split <= 1000; split += 37) {
    unsigned a = calculate_crc32c(0xFFFFFFFFu, data.data(), split);
    EXPECT_EQ(calculate_crc32c(a, data.data() + split, 1000 - split), whole);
  }
}

// Each test runs in its own process under CTest, so these are the first calls: every table must
// be complete before any thread can use it (they are built at compile time).
TEST(Checksums, FirstCallsFromManyThreads) {
  auto data = random_bytes(4096, 5);
  const unsigned want32 = calculate_crc32_bytewise(0, data.data(), 4096);
  const unsigned want32c = calculate_crc32c_bytewise(0xFFFFFFFFu, data.data(), 4096);
  std::vector<std::thread> threads;
  std::vector<int> bad(16, 0);
  for (int t = 0; t < 16; ++t)
    threads.emplace_back([&, t] {
      for (int i = 0; i < 50; ++i) {
        if (calculate_crc32(0, data.data(), 4096) != want32) ++bad[t];
        if (calculate_crc32c(0xFFFFFFFFu, data.data(), 4096) != want32c) ++bad[t];
        if (crc32_for_byte(0) != 0xD202EF8Du) ++bad[t];
      }
    });
  for (auto& th : threads) th.join();
  for (int t = 0; t < 16; ++t) EXPECT_EQ(bad[t], 0) << t;
}

// ---------------------------------------------------------------------------------------------
// Digests
// ---------------------------------------------------------------------------------------------

TEST(Digest, Md5Vectors) {
  unsigned char out[16];
  md5_string(bin(""), out, 16);
  EXPECT_EQ(hex(out, 16), "d41d8cd98f00b204e9800998ecf8427e");
  md5_string(bin(kAbc), out, 16);
  EXPECT_EQ(hex(out, 16), "900150983cd24fb0d6963f7d28e17f72");
  md5_string(bin("The quick brown fox jumps over the lazy dog"), out, 16);
  EXPECT_EQ(hex(out, 16), "9e107d9d372bb6826bd81d3542a419d6");
}

TEST(Digest, Md5IntoASmallBufferRaises1001) {
  unsigned char out[16];
  std::memset(out, 0xAA, sizeof out);
  try {
    md5_string(bin(""), out, 15);
    FAIL() << "no error";
  } catch (const RuntimeError& e) {
    EXPECT_EQ(e.code, 1001);
    EXPECT_EQ(std::string(e.detail.read(), e.detail.size()), "Buffer limitations");
  }
  for (unsigned char b : out) EXPECT_EQ(b, 0xAA);
}

TEST(Digest, UnknownNidRaises1001) {
  unsigned char out[64];
  for (int nid : {NID_undef, NID_rsaEncryption, 999999}) {
    try {
      digest_string_by_nid(bin(kAbc), nid, out, sizeof out);
      FAIL() << "no error for " << nid;
    } catch (const RuntimeError& e) {
      EXPECT_EQ(e.code, 1001);
      EXPECT_EQ(std::string(e.detail.read(), e.detail.size()), "Openssl NID");
    }
  }
}

TEST(Digest, ByNid) {
  unsigned char out[64];
  digest_string_by_nid(bin(kAbc), NID_sha256, out, 32);
  EXPECT_EQ(hex(out, 32), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
}

TEST(Digest, ShaVectors) {
  unsigned char out[64];
  sha1_string(bin(""), out, 20);
  EXPECT_EQ(hex(out, 20), "da39a3ee5e6b4b0d3255bfef95601890afd80709");
  sha1_string(bin(kAbc), out, 20);
  EXPECT_EQ(hex(out, 20), "a9993e364706816aba3e25717850c26c9cd0d89d");
  sha1_string(bin(kLong), out, 20);
  EXPECT_EQ(hex(out, 20), "84983e441c3bd26ebaae4aa1f95129e5e54670f1");

  sha256_string(bin(""), out, 32);
  EXPECT_EQ(hex(out, 32), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
  sha256_string(bin(kAbc), out, 32);
  EXPECT_EQ(hex(out, 32), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  sha256_string(bin(kLong), out, 32);
  EXPECT_EQ(hex(out, 32), "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");

  sha384_string(bin(kAbc), out, 48);
  EXPECT_EQ(hex(out, 48),
            "cb00753f45a35e8bb5a03d699ac65007272c32ab0eded163"
            "1a8b605a43ff5bed8086072ba1e7cc2358baeca134c825a7");
  sha512_string(bin(kAbc), out, 64);
  EXPECT_EQ(hex(out, 64),
            "ddaf35a193617abacc417349ae20413112e6fa4e89a97ea20a9eeee64b55d39a"
            "2192992a274fc1a836ba3c23a3feebbd454d4423643ce80e2a9ac94fa54ca49f");
  sha512_string(bin(""), out, 64);
  EXPECT_EQ(hex(out, 64),
            "cf83e1357eefb8bdf1542850d66d8007d620e4050b5715dc83f4a921d36ce9ce"
            "47d0d13c5d85f2b0ff8318d2877eec2f63b931bd47417a81a538327af927da3e");
}

TEST(Digest, ShaIntoASmallBufferRaises1001) {
  unsigned char out[64];
  EXPECT_THROW(sha1_string(bin(kAbc), out, 19), RuntimeError);
  EXPECT_THROW(sha512_string(bin(kAbc), out, 63), RuntimeError);
}

TEST(Digest, BytesAsStoredInTheStringsCharset) {
  // "ab" in UTF-16LE is the four bytes 61 00 62 00: the digest is of those bytes.
  ASSERT_NE(Charset::utf16le, nullptr);
  String s("a\0b\0", 4, Charset::utf16le);
  unsigned char a[16], b[16];
  md5_string(s, a, 16);
  md5_string(bin(std::string("a\0b\0", 4)), b, 16);
  EXPECT_EQ(hex(a, 16), hex(b, 16));
}

TEST(Digest, HashSHA1AndHashSHA256) {
  unsigned char out[40];
  std::memset(out, 0xAA, sizeof out);
  EXPECT_EQ(HashSHA1(u(kAbc), 3, out, 20), 0);
  EXPECT_EQ(hex(out, 20), "a9993e364706816aba3e25717850c26c9cd0d89d");
  EXPECT_EQ(out[20], 0xAA);

  std::memset(out, 0xAA, sizeof out);
  EXPECT_EQ(HashSHA1(u(kAbc), 3, out, 19), -1);
  for (unsigned char b : out) ASSERT_EQ(b, 0xAA);  // nothing written

  EXPECT_EQ(HashSHA256(u(kAbc), 3, out, 31), -1);
  for (unsigned char b : out) ASSERT_EQ(b, 0xAA);
  EXPECT_EQ(HashSHA256(u(kAbc), 3, out, 32), 0);
  EXPECT_EQ(hex(out, 32), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  EXPECT_EQ(HashSHA256(nullptr, 0, out, 40), 0);
  EXPECT_EQ(hex(out, 32), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
}
