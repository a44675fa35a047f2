#pragma once

// Kept only for the library's exported interface: the sizes of the reader's
// read-ahead ring, shared by the reader and its consumer.
namespace ring {

inline constexpr int slotCount = 8;
// Files up to this size come in windows; larger ones in stream pieces.
inline constexpr unsigned long long windowLimit = 999999999ULL;
inline constexpr unsigned int windowSize = 4194304;  // a multiple of any page size
inline constexpr unsigned int streamPiece = 8192;

// Windows read into buffers use this many of them in turn, so the reader
// runs at most one window ahead of the one being hashed. More would only
// push the copies out of the cache before they are hashed: the reader reads
// far faster than any hasher works.
inline constexpr int windowBuffers = 2;
static_assert(slotCount % windowBuffers == 0, "slot s uses buffer s % windowBuffers");

// Free slots the reader waits for before it reads more pieces (with one
// system call), and at which a reader asleep on a full ring is woken.
inline constexpr unsigned refillMark = 4;

// Bits of the ring's atomic word above the free-slot count.
inline constexpr unsigned freeMask = 0xFF;
inline constexpr unsigned jobEnded = 0x100;
inline constexpr unsigned jobCancelled = 0x200;

}  // namespace ring
