#pragma once

#include <atomic>
#include <cstddef>

#include "pipeline/hash_job.h"

// A big file cut into pieces that several threads hash at once, each piece
// in a stream of its own; the streams are joined in order at the end. Only
// an algorithm whose entry can join streams is split.
namespace pieces {

// Files this big are cut, into pieces of this size.
inline constexpr unsigned long long splitFrom = 64ULL << 20;
inline constexpr unsigned long long pieceSize = 32ULL << 20;

// Cuts `job` (begun, its state live) when it is big enough and its
// algorithm joins: every piece's stream begun, the job split, its opener
// the one helper inside. False: it is hashed as one stream.
bool split(hash_job& job, size_t stateRoom);

// Takes pieces of `job` until none is left or `stop` is raised, reading
// through `reader` into `buffer`. True when this thread took the last
// piece and so closed the job to further helpers.
bool hashSome(hash_job& job, file_reader& reader, unsigned char* buffer, size_t room,
              const std::atomic<int>& stop);

// Closes the job to further helpers; true for the one call that did.
bool close(hash_job& job);

// A thread leaves the job; true for the last one out, who ends it.
bool leave(hash_job& job);

// The errno of the first piece that failed; 0 while none did.
int failure(const hash_job& job);

// Joins the pieces (none failed) into the job's own stream, which then
// stands at the size the file had at open, and frees them.
void join(hash_job& job);

// Ends every piece's stream and frees them.
void discard(hash_job& job);

}  // namespace pieces
