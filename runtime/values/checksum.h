// checksum.h - checksums and message digests.
//
// The CRCs, HashSHA1 and HashSHA256 are public (qzbase.h); the digests of String values are the
// library's own.
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
