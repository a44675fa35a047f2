#pragma once

#include <openssl/evp.h>
#include <openssl/sha.h>

// libcrypto's EVP digest functions and SHA-256's own, reached through a handle that is opened
// on first use: linked at load time, libcrypto would lengthen every start of
// the program, also of runs that never hash with it. Only the declarations
// of its headers are used here; nothing links against libcrypto.
namespace zorvik {

struct crypto_library {
  decltype(&EVP_MD_fetch) mdFetch;
  decltype(&EVP_MD_free) mdFree;
  decltype(&EVP_MD_get_size) mdSize;
  decltype(&EVP_MD_CTX_new) contextNew;
  decltype(&EVP_MD_CTX_free) contextFree;
  decltype(&EVP_DigestInit_ex2) digestInit;
  decltype(&EVP_DigestUpdate) digestUpdate;
  decltype(&EVP_DigestFinal_ex) digestFinal;
  // Declared deprecated since OpenSSL 3, hence spelled out; still exported.
  int (*sha256Init)(SHA256_CTX*);
  int (*sha256Update)(SHA256_CTX*, const void*, size_t);
  int (*sha256Final)(unsigned char*, SHA256_CTX*);
};

// libcrypto, opened and its functions found on the first call (once,
// thread-safe; the handle is kept for good). Null when the library or one
// of the functions is missing.
const crypto_library* cryptoLibrary();

}  // namespace zorvik
