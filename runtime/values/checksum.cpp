// checksum.cpp - CRC-16, CRC-32, CRC-32C and the message digests.
//
// Every CRC table is computed at compile time (constexpr), so there is nothing to build on the
// first call and nothing that two threads could race on. CRC-32 and CRC-32C process eight bytes
// at a time with eight tables (slicing by 8); CRC-32C uses the SSE 4.2 crc32 instruction where
// the processor has it, chosen once under the guarantee of a function-local static. All forms
// give exactly the byte-at-a-time results of the reference definitions.
#include "values/checksum.h"

#include <openssl/evp.h>
#include <openssl/objects.h>

#include <cstring>

#if defined(__x86_64__)
#include <nmmintrin.h>
#endif

namespace {

// The standard reflected CRC table of a polynomial and its seven slicing successors.
struct crc_tables_st {
  uint32_t t[8][256];
};

constexpr crc_tables_st make_crc_tables(uint32_t poly) {
  crc_tables_st s{};
  for (uint32_t i = 0; i < 256; ++i) {
    uint32_t r = i;
    for (int k = 0; k < 8; ++k) r = (r >> 1) ^ ((r & 1) ? poly : 0);
    s.t[0][i] = r;
  }
  for (int k = 1; k < 8; ++k)
    for (uint32_t i = 0; i < 256; ++i)
      s.t[k][i] = (s.t[k - 1][i] >> 8) ^ s.t[0][s.t[k - 1][i] & 0xFF];
  return s;
}

constexpr uint32_t kCrc32Poly = 0xEDB88320u;
constexpr uint32_t kCrc32cPoly = 0x82F63B78u;

// The table of this CRC-32 (the standard inversions folded in).
constexpr uint32_t crc32_for_byte_constexpr(uint32_t byte_value) {
  uint32_t r = byte_value;
  for (int k = 0; k < 8; ++k) r = (r >> 1) ^ ((r & 1) ? 0 : kCrc32Poly);
  return r ^ 0xFF000000u;
}

struct crc32_folded_table_st {
  uint32_t t[256];
};

constexpr crc32_folded_table_st make_crc32_folded_table() {
  crc32_folded_table_st s{};
  for (uint32_t i = 0; i < 256; ++i) s.t[i] = crc32_for_byte_constexpr(i);
  return s;
}

constexpr crc_tables_st kCrc32 = make_crc_tables(kCrc32Poly);
constexpr crc_tables_st kCrc32c = make_crc_tables(kCrc32cPoly);
constexpr crc32_folded_table_st kCrc32Folded = make_crc32_folded_table();

static_assert(kCrc32Folded.t[0] == 0xD202EF8Du, "entry 0 of the CRC-32 table");
static_assert(kCrc32.t[0][1] == 0x77073096u, "standard CRC-32 table");
static_assert(kCrc32c.t[0][1] == 0xF26B8303u, "standard CRC-32C table");

inline uint64_t load64(const unsigned char* p) {
  uint64_t v;
  std::memcpy(&v, p, 8);
  return v;  // the tables are for little-endian loads
}

// Raw reflected update (no inversions) with slicing by 8.
inline uint32_t crc_update_sliced(const crc_tables_st& tab, uint32_t crc, const unsigned char* p,
                                  size_t n) {
  const auto& t = tab.t;
  // Single bytes up to an 8-byte boundary, then 8-byte blocks, then the rest.
  while (n && (reinterpret_cast<uintptr_t>(p) & 7)) {
    crc = (crc >> 8) ^ t[0][(crc ^ *p++) & 0xFF];
    --n;
  }
  while (n >= 8) {
    uint64_t v = load64(p) ^ crc;
    uint32_t lo = static_cast<uint32_t>(v);
    uint32_t hi = static_cast<uint32_t>(v >> 32);
    crc = t[7][lo & 0xFF] ^ t[6][(lo >> 8) & 0xFF] ^ t[5][(lo >> 16) & 0xFF] ^ t[4][lo >> 24] ^
          t[3][hi & 0xFF] ^ t[2][(hi >> 8) & 0xFF] ^ t[1][(hi >> 16) & 0xFF] ^ t[0][hi >> 24];
    p += 8;
    n -= 8;
  }
  while (n--) crc = (crc >> 8) ^ t[0][(crc ^ *p++) & 0xFF];
  return crc;
}

#if defined(__x86_64__)
__attribute__((target("sse4.2"))) uint32_t crc32c_sse42(uint32_t crc, const unsigned char* p,
                                                        size_t n) {
  while (n && (reinterpret_cast<uintptr_t>(p) & 7)) {
    crc = _mm_crc32_u8(crc, *p++);
    --n;
  }
  uint64_t c = crc;
  // Three independent streams would go faster still; one stream already runs at several GB/s.
  while (n >= 32) {
    c = _mm_crc32_u64(c, load64(p));
    c = _mm_crc32_u64(c, load64(p + 8));
    c = _mm_crc32_u64(c, load64(p + 16));
    c = _mm_crc32_u64(c, load64(p + 24));
    p += 32;
    n -= 32;
  }
  while (n >= 8) {
    c = _mm_crc32_u64(c, load64(p));
    p += 8;
    n -= 8;
  }
  crc = static_cast<uint32_t>(c);
  while (n--) crc = _mm_crc32_u8(crc, *p++);
  return crc;
}
#endif

using crc32c_fn = uint32_t (*)(uint32_t, const unsigned char*, size_t);

uint32_t crc32c_portable(uint32_t crc, const unsigned char* p, size_t n) {
  return crc_update_sliced(kCrc32c, crc, p, n);
}

crc32c_fn choose_crc32c() {
#if defined(__x86_64__)
  __builtin_cpu_init();
  if (__builtin_cpu_supports("sse4.2")) return crc32c_sse42;
#endif
  return crc32c_portable;
}

}  // namespace

unsigned int crc32_for_byte(unsigned int byte_value) {
  QZ_TRACE;
  return crc32_for_byte_constexpr(byte_value & 0xFF);
}

unsigned short calculate_crc16(unsigned short seed, const unsigned char* data,
                               unsigned int length) {
  QZ_TRACE;
  uint32_t crc = seed == 0 ? 0xFFFFu : seed;
  for (unsigned int i = 0; i < length; ++i) {
    uint32_t x = (data[i] ^ (crc >> 8)) & 0xFF;
    x ^= x >> 4;
    crc = ((crc << 8) ^ (x << 12) ^ (x << 5) ^ x) & 0xFFFF;
  }
  return static_cast<unsigned short>(crc);
}

unsigned int calculate_crc32(unsigned int seed, const unsigned char* data, unsigned int length) {
  QZ_TRACE;
  // With the folded table, crc' = (crc >> 8) ^ T'[(crc ^ b) & 0xFF] is the standard
  // update of the inverted register: calculate_crc32(s, d) == ~standard_update(~s, d).
  return ~crc_update_sliced(kCrc32, ~seed, data, length);
}

unsigned int calculate_crc32c(unsigned int seed, const unsigned char* data, unsigned int length) {
  QZ_TRACE;
  static const crc32c_fn fn = choose_crc32c();
  return fn(seed, data, length);
}

unsigned int calculate_crc32_bytewise(unsigned int seed, const unsigned char* data,
                                      unsigned int length) {
  QZ_TRACE;
  uint32_t crc = seed;
  for (unsigned int i = 0; i < length; ++i)
    crc = (crc >> 8) ^ kCrc32Folded.t[(crc ^ data[i]) & 0xFF];
  return crc;
}

unsigned int calculate_crc32c_bytewise(unsigned int seed, const unsigned char* data,
                                       unsigned int length) {
  QZ_TRACE;
  uint32_t crc = seed;
  for (unsigned int i = 0; i < length; ++i) crc = (crc >> 8) ^ kCrc32c.t[0][(crc ^ data[i]) & 0xFF];
  return crc;
}

unsigned int calculate_crc32c_portable(unsigned int seed, const unsigned char* data,
                                       unsigned int length) {
  QZ_TRACE;
  return crc32c_portable(seed, data, length);
}

namespace qzbase {

namespace {

// One-shot digest of raw bytes; returns the digest length (0 on an OpenSSL failure).
unsigned int digest_bytes(const EVP_MD* md, const void* data, size_t size, unsigned char* out) {
  unsigned int n = 0;
  if (EVP_Digest(data, size, out, &n, md, nullptr) != 1) return 0;
  return n;
}

void digest_to(const EVP_MD* md, const String& s, unsigned char* out, size_t outsize) {
  unsigned char buf[EVP_MAX_MD_SIZE];
  unsigned int n = digest_bytes(md, s.read(), s.size(), buf);
  if (n == 0) throw RuntimeError(1001, String("Openssl digest"));
  if (outsize < n) throw RuntimeError(1001, String("Buffer limitations"));
  std::memcpy(out, buf, n);
}

int hash_raw(const EVP_MD* md, size_t digest_size, const unsigned char* data, size_t length,
             unsigned char* out, size_t outsize) {
  if (outsize < digest_size) return -1;
  unsigned char buf[EVP_MAX_MD_SIZE];
  unsigned int n = digest_bytes(md, data, length, buf);
  if (n != digest_size) return -1;
  std::memcpy(out, buf, n);
  return 0;
}

}  // namespace

void digest_string_by_nid(const String& s, int nid, unsigned char* out, size_t outsize) {
  QZ_TRACE;
  const char* name = OBJ_nid2sn(nid);
  const EVP_MD* md = name ? EVP_get_digestbyname(name) : nullptr;
  if (!md) throw RuntimeError(1001, String("Openssl NID"));
  EVP_MD_CTX* ctx = EVP_MD_CTX_new();
  if (!ctx) throw RuntimeError(1001, String("Openssl NID"));
  unsigned char buf[EVP_MAX_MD_SIZE];
  unsigned int n = 0;
  bool ok = EVP_DigestInit_ex(ctx, md, nullptr) == 1 &&
            EVP_DigestUpdate(ctx, s.read(), s.size()) == 1 && EVP_DigestFinal_ex(ctx, buf, &n) == 1;
  EVP_MD_CTX_free(ctx);
  if (!ok) throw RuntimeError(1001, String("Openssl NID"));
  if (outsize < n) throw RuntimeError(1001, String("Buffer limitations"));
  std::memcpy(out, buf, n);
}

void md5_string(const String& s, unsigned char* out, size_t outsize) {
  QZ_TRACE;
  digest_string_by_nid(s, NID_md5, out, outsize);
}

void sha1_string(const String& s, unsigned char* out, size_t outsize) {
  QZ_TRACE;
  digest_to(EVP_sha1(), s, out, outsize);
}

void sha256_string(const String& s, unsigned char* out, size_t outsize) {
  QZ_TRACE;
  digest_to(EVP_sha256(), s, out, outsize);
}

void sha384_string(const String& s, unsigned char* out, size_t outsize) {
  QZ_TRACE;
  digest_to(EVP_sha384(), s, out, outsize);
}

void sha512_string(const String& s, unsigned char* out, size_t outsize) {
  QZ_TRACE;
  digest_to(EVP_sha512(), s, out, outsize);
}

int HashSHA1(const unsigned char* data, size_t length, unsigned char* out, size_t outsize) {
  QZ_TRACE;
  return hash_raw(EVP_sha1(), 20, data, length, out, outsize);
}

int HashSHA256(const unsigned char* data, size_t length, unsigned char* out, size_t outsize) {
  QZ_TRACE;
  return hash_raw(EVP_sha256(), 32, data, length, out, outsize);
}

}  // namespace qzbase
