#pragma once

#include <cstdint>

#include <zorvik/engine.h>
#include <zorvik/hasher.h>

#include "pipeline/file_reader.h"

// One job of the engine, in its slot of the ring of pending jobs. Written by
// the submitting thread until `queued`, then by the thread that hashes it
// until `state` says done; shared by the workers that help with its pieces.
struct engine_job {
  enum { queued = 0, running = 1, done = 2 };

  // What was asked.
  unsigned long long sequence;
  char inlinePath[256];
  char* path;            // inlinePath, or a heap copy of a longer one
  int algorithm;
  unsigned flags;
  void* tag;

  // The hashing, resumable: a job run on the caller's thread stops to let
  // it show progress.
  unsigned state;        // queued, running, done: read across threads
  bool started;
  bool inLanes;          // hashed side by side with others (MD5)
  file_reader file;
  unsigned long long offset;  // next byte to read
  uint32_t crc;               // register
  MD5_CTX md5;
  unsigned long long hashed;  // bytes, for the progress; read across threads
  unsigned long long total;   // the size at open, for the progress

  // A CRC-32 job split into pieces that any worker may hash; the CRC-32s of
  // the pieces are joined at the end.
  unsigned pieces;        // 0: not split
  unsigned nextPiece;     // the next one to take
  unsigned helpers;       // threads inside the job; the last one out ends it
  unsigned helpable;      // 1 while pieces are left to take
  uint32_t* pieceCrcs;
  int pieceFailure;       // errno of the first failed piece

  engine::result outcome;
  int failure;            // the errno outcome.code was made from
};

// Test seam: called before each read of a job's data, with the job's
// sequence number (0 for the first job submitted).
extern void (*g_engineBeforeRead)(unsigned long long sequence);
