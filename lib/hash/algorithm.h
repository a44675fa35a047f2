#pragma once

#include <cstddef>

// The hash algorithms, each described once by an entry of the registry. The
// hasher objects, the engine and its lane sessions know of an algorithm only
// what its entry says: adding one is a new entry and its own files.
namespace zorvik {

// The ids of the built-in entries; the engine's exported values are these.
enum : int {
  crc32Id = 0,
  md5Id = 1,
  sha1Id = 2,
  sha256Id = 3,
  sha512Id = 4,
  blake2bId = 5,  // BLAKE2b-512
  xxh64Id = 6,
  xxh128Id = 7,   // XXH3's 128-bit hash
  builtInCount = 8,
};

// What an entry may ask for, and what an engine result holds.
inline constexpr size_t maxStateAlign = 64;
inline constexpr int maxDigestSize = 64;
inline constexpr int maxLanes = 16;

// Several streams of one algorithm advanced together, one SIMD lane each.
struct lane_kernel {
  int width;          // lanes one call advances at full speed, 1 to maxLanes
  size_t block;       // the bytes a lane advances by at a time
  size_t statesSize;  // all lanes' states in one block, aligned to maxStateAlign
  // Lane `lane` begins a new stream.
  void (*start)(void* states, int lane);
  // Advances lane i by blocks[i] blocks at data[i] for every i < lanes; a
  // lane with no blocks is left alone and its data[i] not read.
  void (*advance)(void* states, const unsigned char* const* data, const size_t* blocks, int lanes);
  // Hands lane `lane`'s stream, `bytes` hashed so far (whole blocks), over to
  // a single-stream `state`, which then goes on with update and final.
  void (*handOver)(const void* states, int lane, unsigned long long bytes, void* state);
};

struct algorithm {
  const char* name;
  // Bytes of a finished hash, at most maxDigestSize, in the order a list
  // line prints them.
  int digestSize;
  size_t stateSize;   // bytes of a single-stream state
  size_t stateAlign;  // its alignment: a power of two, at most maxStateAlign
  // Begins a stream in `state`. False when it could not (no memory for a
  // state that lives on the heap, a library missing or refusing): nothing
  // is then to be released, and errno says why where the entry set it.
  bool (*init)(void* state);
  void (*update)(void* state, const unsigned char* data, size_t length);
  // Writes the digestSize bytes of the hash; the stream is over.
  void (*final)(void* state, unsigned char* digest);
  // Frees what init took, after final or instead of it; null when init
  // takes nothing.
  void (*release)(void* state);
  // Null when the hashes of pieces do not join. Otherwise `whole`, a stream
  // that hashed A, becomes one that hashed A then B, from `piece`, a stream
  // that hashed B alone, `pieceLength` bytes; `piece` is left as it was.
  void (*join)(void* whole, const void* piece, unsigned long long pieceLength);
  // Null when the algorithm has no lanes.
  const lane_kernel* lanes;
  // Begins a new stream in a `state` whose stream is over (after final),
  // reusing what init took; false when it could not, and what init took is
  // still to be released. Null: release, then init.
  bool (*restart)(void* state) = nullptr;
  // A single stream reads cached data into the worker's buffer, not hashed
  // in place: for a digest near a copy's speed, bytes fetched from memory
  // as it goes stall it more than the copy into a buffer the cache keeps
  // costs. Lanes, many streams at once, take cached data in place all the
  // same (faster for SHA-256's lanes too, measured).
  bool readsCached = false;
};

// The entry with id `id`; null when there is none. CPU variants are chosen
// on the first use of an entry, once.
const algorithm* findAlgorithm(int id);

// Adds an entry (kept by address, for good); its id, or -1 when the entry
// asks for more than is allowed above or the registry is full. Entries are
// added before the engines that use them are made.
int registerAlgorithm(const algorithm& entry);

// The largest stateSize of the entries so far.
size_t largestState();

// The built-in entries, in their own files.
const algorithm& crc32Algorithm();
const algorithm& md5Algorithm();
const algorithm& sha1Algorithm();
const algorithm& sha256Algorithm();
const algorithm& sha512Algorithm();
const algorithm& blake2bAlgorithm();
const algorithm& xxh64Algorithm();
const algorithm& xxh128Algorithm();

}  // namespace zorvik
