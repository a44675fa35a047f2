#pragma once

#include <cstdint>

#include <zorvik/api.h>

// A hash algorithm fed buffer by buffer. init/update/finalize run on the
// "processor" thread; hash, hash_size and hash_string are read on the main
// thread only after the job's completion was taken.
class ZORVIK_API hasher {
public:
  hasher() : _hash_text_index(0) {}

  // Starts a new hash.
  virtual void init() = 0;
  // Adds `length` bytes at `data`; `length` 0 changes nothing.
  virtual void update(unsigned char* data, unsigned int length) = 0;
  // Completes the hash.
  virtual void finalize() = 0;
  // The finished hash bytes, valid until the next init().
  virtual const unsigned char* hash() const = 0;
  // The number of hash bytes (at most 127).
  virtual int hash_size() const = 0;

  // Lower-case hexadecimal text of hash_size() bytes at `bytes` (of hash()
  // when null), in memory order. Four buffers rotate, so the last four
  // results stay valid at once.
  const wchar_t* hash_string(const unsigned char* bytes = nullptr) {
    static const wchar_t digits[] = L"0123456789abcdef";
    // A compiler builtin, not std::atomic_ref: programs built with any
    // language standard compile this in.
    int slot = __atomic_fetch_add(&_hash_text_index, 1, __ATOMIC_RELAXED) & 3;
    if (bytes == nullptr) bytes = hash();
    wchar_t* out = _hash_text[slot];
    int n = hash_size();
    for (int i = 0; i < n; ++i) {
      *out++ = digits[bytes[i] >> 4];
      *out++ = digits[bytes[i] & 0x0F];
    }
    *out = L'\0';
    return _hash_text[slot];
  }

protected:
  // Objects are made and destroyed through their concrete type.
  ~hasher() = default;

  wchar_t _hash_text[4][256];
  int _hash_text_index;  // only ever a relaxed fetch-and-add: it hands out buffers
};

// CRC-32 as SFV files and Zip archives use it (reflected 0xEDB88320,
// initial value and final inversion 0xFFFFFFFF). hash() exposes the register
// in native byte order: 0xCBF43926 is shown by hash_string as 2639f4cb.
class ZORVIK_API crc : public hasher {
public:
  crc() {}
  virtual ~crc();

  void init() override;
  void update(unsigned char* data, unsigned int length) override;
  void finalize() override;
  const unsigned char* hash() const override;
  int hash_size() const override;

private:
  unsigned int _crc;
};

// MD5 as RFC 1321 publishes it. This record is public only because
// md5hasher embeds it and the three functions below take it.
typedef struct {
  uint32_t state[4];        // A, B, C, D
  uint32_t count[2];        // message length in bits mod 2^64, low word first
  unsigned char buffer[64]; // the input not yet transformed
} MD5_CTX;

extern "C" {
ZORVIK_API void MD5Init(MD5_CTX* context);
ZORVIK_API void MD5Update(MD5_CTX* context, const unsigned char* input, unsigned int length);
// Pads, writes the 16-byte digest, then clears the context. Digest first.
ZORVIK_API void MD5Final(unsigned char* digest, MD5_CTX* context);
}

class ZORVIK_API md5hasher : public hasher {
public:
  md5hasher() {}
  virtual ~md5hasher();

  void init() override;
  void update(unsigned char* data, unsigned int length) override;
  void finalize() override;
  const unsigned char* hash() const override;
  int hash_size() const override;

private:
  MD5_CTX _context;
  unsigned char _digest[16];
};

// Any algorithm of the engine (an engine::algorithm id: SHA-1, SHA-256,
// SHA-512, BLAKE2b-512, XXH64, XXH128, and CRC-32 and MD5 alike) through the
// hasher interface. hash() holds hash_size() bytes as engine::result::digest
// holds them: in the order a list line prints them (CRC-32 as crc lays it
// out), which hash_string() follows. The SHA and BLAKE2b digests come from
// libcrypto, which is loaded on the first init() of one of them.
class ZORVIK_API digest : public hasher {
public:
  explicit digest(int algorithm);
  virtual ~digest();
  digest(const digest&) = delete;
  digest& operator=(const digest&) = delete;

  // Starts a new hash; when it cannot (libcrypto missing, no memory),
  // usable() turns false and update and finalize do nothing.
  void init() override;
  void update(unsigned char* data, unsigned int length) override;
  void finalize() override;
  // The finished digest, valid until the next init(); zeros until then.
  const unsigned char* hash() const override;
  // The algorithm's digest size: at most 64, 0 for an unknown id.
  int hash_size() const override;

  // False for an unknown id, and after an init() that could not start.
  bool usable() const;
  int algorithm() const;

private:
  void letGo();

  int _algorithm;
  int _size;
  bool _failed;   // the last init() could not start
  bool _open;     // a stream takes updates
  bool _held;     // _state holds what the entry's init took
  unsigned char _digest[64];
  // The algorithm's state: room for every built-in one, aligned as the most
  // demanding (XXH3) asks; for SHA and BLAKE2b, libcrypto's context, made
  // by the first init() and reset by the next ones.
  alignas(64) unsigned char _state[640];
};
