// crypto.cpp - the libcrypto functions of the digests, forwarded to libcrypto, which is opened on
// the first of them (see loaded_library.h). As in odbc.cpp the library's own headers check each
// definition, and a function the runtime starts to call needs its line here.
#include <openssl/evp.h>
#include <openssl/objects.h>

#include "dynload/loaded_library.h"

#ifndef QZ_CRYPTO_LIBRARY
#define QZ_CRYPTO_LIBRARY "libcrypto.so.3"
#endif

namespace qzbase {

LoadedLibrary& crypto_library() {
  static LoadedLibrary library(QZ_CRYPTO_LIBRARY);
  return library;
}

}  // namespace qzbase

#define QZ_CRYPTO_FORWARD(result, name, params, args)                                 \
  extern "C" result name params {                                                      \
    static std::atomic<decltype(&::name)> slot{nullptr};                              \
    return ::qzbase::loaded_function(::qzbase::crypto_library(), slot, #name) args;  \
  }

QZ_CRYPTO_FORWARD(const char*, OBJ_nid2sn, (int nid), (nid))
QZ_CRYPTO_FORWARD(const EVP_MD*, EVP_get_digestbyname, (const char* name), (name))
QZ_CRYPTO_FORWARD(const EVP_MD*, EVP_sha1, (void), ())
QZ_CRYPTO_FORWARD(const EVP_MD*, EVP_sha256, (void), ())
QZ_CRYPTO_FORWARD(const EVP_MD*, EVP_sha384, (void), ())
QZ_CRYPTO_FORWARD(const EVP_MD*, EVP_sha512, (void), ())
QZ_CRYPTO_FORWARD(EVP_MD_CTX*, EVP_MD_CTX_new, (void), ())
QZ_CRYPTO_FORWARD(void, EVP_MD_CTX_free, (EVP_MD_CTX * context), (context))
QZ_CRYPTO_FORWARD(int, EVP_DigestInit_ex, (EVP_MD_CTX * context, const EVP_MD* md, ENGINE* engine),
                  (context, md, engine))
QZ_CRYPTO_FORWARD(int, EVP_DigestUpdate, (EVP_MD_CTX * context, const void* data, size_t size),
                  (context, data, size))
QZ_CRYPTO_FORWARD(int, EVP_DigestFinal_ex, (EVP_MD_CTX * context, unsigned char* out, unsigned int* size),
                  (context, out, size))
QZ_CRYPTO_FORWARD(int, EVP_Digest,
                  (const void* data, size_t size, unsigned char* out, unsigned int* out_size, const EVP_MD* md,
                   ENGINE* engine),
                  (data, size, out, out_size, md, engine))
