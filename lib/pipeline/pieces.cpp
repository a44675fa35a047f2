#include "pipeline/pieces.h"

#include <cerrno>
#include <cstdlib>

#include "pipeline/job_hash.h"

namespace pieces {

namespace {

void* stateOf(hash_job& job, unsigned piece, size_t stride) {
  return job.pieces.states + static_cast<size_t>(piece) * stride;
}

size_t strideOf(const hash_job& job) {
  size_t align = job.algorithm->stateAlign;
  return (job.algorithm->stateSize + align - 1) / align * align;
}

unsigned long long lengthOf(const hash_job& job, unsigned piece) {
  unsigned long long at = piece * pieceSize;
  unsigned long long size = job.file.size();
  return at + pieceSize < size ? pieceSize : size - at;
}

// Hashes piece `piece` into its own stream: 0, or the errno of the failure.
int hashPiece(hash_job& job, unsigned piece, file_reader& reader, unsigned char* buffer, size_t room) {
  const zorvik::algorithm& a = *job.algorithm;
  void* state = stateOf(job, piece, strideOf(job));
  unsigned long long at = piece * pieceSize;
  unsigned long long end = at + lengthOf(job, piece);
  int failure = 0;
  // A piece is mapped whole or not at all; read, it goes on being read.
  for (bool first = true; at < end && failure == 0; first = false) {
    file_span span = reader.next({at, end, buffer, room, piece, first, true});
    size_t done = 0;
    failure = span.failure != 0 ? span.failure : job_hash::hashSpan(span, a, state, job.hashed, &done);
    file_reader::release(span);
    at += done;
  }
  reader.releaseTurn();
  return failure;
}

}  // namespace

bool split(hash_job& job, size_t stateRoom) {
  const zorvik::algorithm& a = *job.algorithm;
  unsigned long long size = job.file.size();
  if (a.join == nullptr || size < splitFrom) return false;
  unsigned count = static_cast<unsigned>((size + pieceSize - 1) / pieceSize);
  size_t stride = strideOf(job);
  void* memory = nullptr;
  if (stride > stateRoom || posix_memalign(&memory, zorvik::maxStateAlign, stride * count) != 0) return false;
  job.pieces.states = static_cast<unsigned char*>(memory);
  job.pieces.count = 0;
  for (; job.pieces.count < count; ++job.pieces.count) {
    if (!a.init(stateOf(job, job.pieces.count, stride))) {
      discard(job);  // hashed as one stream then
      return false;
    }
  }
  job.pieces.next.store(0, std::memory_order_relaxed);
  job.pieces.failure.store(0, std::memory_order_relaxed);
  job.pieces.helpers.store(1, std::memory_order_relaxed);
  job.moveTo(hash_job::phase::split);
  return true;
}

bool hashSome(hash_job& job, file_reader& reader, unsigned char* buffer, size_t room,
              const std::atomic<int>& stop) {
  bool closed = false;
  hash_job::piece_set& set = job.pieces;
  while (stop.load(std::memory_order_acquire) == 0 && set.failure.load(std::memory_order_acquire) == 0) {
    unsigned piece = set.next.fetch_add(1, std::memory_order_relaxed);
    if (piece >= set.count) break;
    if (piece == set.count - 1) closed = close(job) || closed;
    int failure = hashPiece(job, piece, reader, buffer, room);
    if (failure != 0) {
      int none = 0;
      set.failure.compare_exchange_strong(none, failure, std::memory_order_acq_rel, std::memory_order_acquire);
    }
  }
  return closed;
}

bool close(hash_job& job) {
  hash_job::phase expected = hash_job::phase::split;
  return job.state.compare_exchange_strong(expected, hash_job::phase::joining, std::memory_order_acq_rel,
                                           std::memory_order_acquire);
}

bool leave(hash_job& job) { return job.pieces.helpers.fetch_sub(1, std::memory_order_acq_rel) == 1; }

int failure(const hash_job& job) { return job.pieces.failure.load(std::memory_order_acquire); }

void join(hash_job& job) {
  const zorvik::algorithm& a = *job.algorithm;
  size_t stride = strideOf(job);
  for (unsigned i = 0; i < job.pieces.count; ++i)
    a.join(job.hashState, stateOf(job, i, stride), lengthOf(job, i));
  job.offset = job.file.size();
  discard(job);
  job.moveTo(hash_job::phase::hashing);
}

void discard(hash_job& job) {
  const zorvik::algorithm& a = *job.algorithm;
  if (a.release != nullptr)
    for (unsigned i = 0; i < job.pieces.count; ++i) a.release(stateOf(job, i, strideOf(job)));
  free(job.pieces.states);
  job.pieces.states = nullptr;
  job.pieces.count = 0;
}

}  // namespace pieces
