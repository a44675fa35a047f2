#include "hash/crypto_library.h"

#include <dlfcn.h>

#include <openssl/crypto.h>

#if OPENSSL_VERSION_MAJOR != 3
#error "the EVP functions below are those of OpenSSL 3's libcrypto"
#endif

namespace zorvik {

namespace {

template <class Fn>
bool find(void* handle, const char* name, Fn* out) {
  *out = reinterpret_cast<Fn>(dlsym(handle, name));
  return *out != nullptr;
}

bool open(crypto_library* c) {
  // Local: its symbols stay out of the way of whatever else the process
  // loads. libcrypto is never unloaded, so neither is this handle.
  void* handle = dlopen(ZORVIK_LIBCRYPTO_SONAME, RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) return false;
  decltype(&OPENSSL_init_crypto) initialise;
  bool found = find(handle, "OPENSSL_init_crypto", &initialise) &&
               find(handle, "EVP_MD_fetch", &c->mdFetch) && find(handle, "EVP_MD_free", &c->mdFree) &&
               find(handle, "EVP_MD_get_size", &c->mdSize) && find(handle, "EVP_MD_CTX_new", &c->contextNew) &&
               find(handle, "EVP_MD_CTX_free", &c->contextFree) &&
               find(handle, "EVP_DigestInit_ex2", &c->digestInit) &&
               find(handle, "EVP_DigestUpdate", &c->digestUpdate) &&
               find(handle, "EVP_DigestFinal_ex", &c->digestFinal) &&
               find(handle, "SHA256_Init", &c->sha256Init) && find(handle, "SHA256_Update", &c->sha256Update) &&
               find(handle, "SHA256_Final", &c->sha256Final);
  if (!found) {
    dlclose(handle);
    return false;
  }
  // Without its exit handler: a program that exits while an engine still
  // hashes must not have libcrypto torn down under the worker. (Where the
  // program initialised libcrypto first, its own choice stands.)
  return initialise(OPENSSL_INIT_NO_ATEXIT, nullptr) == 1;
}

}  // namespace

const crypto_library* cryptoLibrary() {
  static crypto_library functions;
  static const bool opened = open(&functions);  // once, thread-safe
  return opened ? &functions : nullptr;
}

}  // namespace zorvik
