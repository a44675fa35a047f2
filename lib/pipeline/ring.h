#pragma once

// Sizes of the read-ahead ring, shared by the reader and its consumer.
namespace ring {

inline constexpr int slotCount = 8;
// Files up to this size are mapped; larger ones are streamed.
inline constexpr unsigned long long mapLimit = 999999999ULL;
inline constexpr unsigned int windowSize = 4194304;  // a multiple of any page size
inline constexpr unsigned int pieceSize = 8192;

// Free slots the reader waits for before it reads more pieces (with one
// system call), and at which a reader asleep on a full ring is woken.
inline constexpr unsigned refillMark = 4;

// Bits of the ring's atomic word above the free-slot count.
inline constexpr unsigned freeMask = 0xFF;
inline constexpr unsigned jobEnded = 0x100;
inline constexpr unsigned jobCancelled = 0x200;

}  // namespace ring
