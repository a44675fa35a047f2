// SHA-1, SHA-512 and BLAKE2b-512 through libcrypto's EVP digests,
// which pick SHA-NI, AVX2 or AVX-512 code themselves. libcrypto is opened
// and each digest fetched on the first init of its entry, so a program that
// hashes only CRC-32 or MD5 neither loads nor initialises it. A stream's
// state is the EVP context it made at init; none of these digests join.
#include <cerrno>

#include "hash/algorithm.h"
#include "hash/crypto_library.h"

namespace zorvik {

namespace {

struct evp_digest {
  const char* name;     // the entry's
  const char* evpName;  // libcrypto's
  int size;
  bool readsCached;     // fast enough (SHA extensions) to stall on memory
};

enum { sha1, sha512, blake2b };
constexpr evp_digest digests[] = {
    {"sha1", "SHA1", 20, true},
    {"sha512", "SHA2-512", 64, false},
    {"blake2b", "BLAKE2B-512", 64, false},
};

struct evp_state {
  EVP_MD_CTX* context;
  const crypto_library* crypto;
};

evp_state& stateOf(void* state) { return *static_cast<evp_state*>(state); }

struct fetched {
  const EVP_MD* md;
  int failure;  // the errno of a failed init when md is null
};

fetched fetch(const evp_digest& d) {
  const crypto_library* crypto = cryptoLibrary();
  if (crypto == nullptr) return {nullptr, ELIBACC};
  EVP_MD* md = crypto->mdFetch(nullptr, d.evpName, nullptr);
  // A provider that offers the name with another size is not the digest
  // the lists hold.
  if (md != nullptr && crypto->mdSize(md) != d.size) {
    crypto->mdFree(md);
    md = nullptr;
  }
  return {md, md != nullptr ? 0 : ENOSYS};
}

// Each digest is fetched once and kept for the process.
template <int D>
const fetched& digestOf() {
  static const fetched once = fetch(digests[D]);  // thread-safe
  return once;
}

template <int D>
bool init(void* state) {
  const fetched& f = digestOf<D>();
  if (f.md == nullptr) {
    errno = f.failure;
    return false;
  }
  const crypto_library* crypto = cryptoLibrary();
  EVP_MD_CTX* context = crypto->contextNew();
  if (context == nullptr || crypto->digestInit(context, f.md, nullptr) != 1) {
    crypto->contextFree(context);
    errno = ENOMEM;
    return false;
  }
  stateOf(state) = {context, crypto};
  return true;
}

// EVP resets a context in place for the next stream.
template <int D>
bool restart(void* state) {
  evp_state& s = stateOf(state);
  if (s.crypto->digestInit(s.context, digestOf<D>().md, nullptr) == 1) return true;
  errno = ENOMEM;
  return false;
}

void update(void* state, const unsigned char* data, size_t length) {
  evp_state& s = stateOf(state);
  s.crypto->digestUpdate(s.context, data, length);
}

void final(void* state, unsigned char* digest) {
  evp_state& s = stateOf(state);
  unsigned int written = 0;
  s.crypto->digestFinal(s.context, digest, &written);
}

void release(void* state) {
  evp_state& s = stateOf(state);
  s.crypto->contextFree(s.context);
}

template <int D>
constexpr algorithm entry = {
    digests[D].name, digests[D].size, sizeof(evp_state), alignof(evp_state), init<D>, update, final, release,
    nullptr, nullptr, restart<D>, digests[D].readsCached,
};

}  // namespace

const algorithm& sha1Algorithm() { return entry<sha1>; }
const algorithm& sha512Algorithm() { return entry<sha512>; }
const algorithm& blake2bAlgorithm() { return entry<blake2b>; }

}  // namespace zorvik
