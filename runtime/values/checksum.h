// checksum.h - checksums and message digests.
//
// HashSHA1 and HashSHA256 are public (qzbase.h); the CRCs and the digests of String values are
// the library's own.
#pragma once

#include <qzbase.h>

namespace qzbase {

// The digest of s's bytes (as stored) by OpenSSL NID, written raw at the start of out.
// Unknown NID: RuntimeError 1001 "Openssl NID"; outsize below the digest length:
// RuntimeError 1001 "Buffer limitations" (nothing is written).
void digest_string_by_nid(const String& s, int nid, unsigned char* out, size_t outsize);
// MD5 (16 bytes), SHA-1 (20), SHA-256 (32), SHA-384 (48), SHA-512 (64) of s's bytes. All check
// outsize like digest_string_by_nid.
void md5_string(const String& s, unsigned char* out, size_t outsize);
void sha1_string(const String& s, unsigned char* out, size_t outsize);
void sha256_string(const String& s, unsigned char* out, size_t outsize);
void sha384_string(const String& s, unsigned char* out, size_t outsize);
void sha512_string(const String& s, unsigned char* out, size_t outsize);

}  // namespace qzbase

// Byte-at-a-time reference forms of the CRCs (their plain definitions), for tests.
unsigned int calculate_crc32_bytewise(unsigned int seed, const unsigned char* data,
                                      unsigned int length);
unsigned int calculate_crc32c_bytewise(unsigned int seed, const unsigned char* data,
                                       unsigned int length);
// The portable slicing-by-8 CRC-32C, whatever the processor offers (calculate_crc32c uses the
// SSE 4.2 instruction where it exists).
unsigned int calculate_crc32c_portable(unsigned int seed, const unsigned char* data,
                                       unsigned int length);

// CRCs, free functions outside the library namespace.
// CRC-16/IBM-3740 for seed 0 (a seed of 0 starts the register at 0xFFFF).
unsigned short calculate_crc16(unsigned short seed, const unsigned char* data, unsigned int length);
// CRC-32 (ISO-HDLC, zlib) for seed 0; the previous result as seed continues the CRC.
unsigned int calculate_crc32(unsigned int seed, const unsigned char* data, unsigned int length);
// CRC-32C update without inversions: the standard value is calculate_crc32c(~0u, d, n) ^ ~0u.
unsigned int calculate_crc32c(unsigned int seed, const unsigned char* data, unsigned int length);
// One entry of calculate_crc32's table.
unsigned int crc32_for_byte(unsigned int byte_value);
