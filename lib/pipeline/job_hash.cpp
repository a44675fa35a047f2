#include "pipeline/job_hash.h"

#include <cerrno>
#include <cstring>

#include <zorvik/error.h>

namespace job_hash {

namespace {

// Whether `job` holds a started stream: from begin's start on, until done.
bool streamStarted(const hash_job& job) {
  hash_job::phase p = job.now();
  return p != hash_job::phase::queued && p != hash_job::phase::claimed && p != hash_job::phase::done;
}

}  // namespace

int begin(hash_job& job, bool* notRegular) {
  *notRegular = false;
  job.offset = 0;
  // An entry that cannot begin says why in errno, or leaves it alone.
  errno = 0;
  if (!job.algorithm->init(job.hashState)) return errno != 0 ? errno : ENOMEM;
  job.moveTo(hash_job::phase::hashing);
  // A character no byte stands for: no file can carry it.
  if (job.path == nullptr) return EILSEQ;
  int failure = job.file.open(job.path, (job.flags & engine::regularOnly) != 0, notRegular, job.sequence);
  if (failure == 0) job.total.store(job.file.size(), std::memory_order_relaxed);
  return failure;
}

int hashSpan(const file_span& span, const zorvik::algorithm& a, void* state,
             std::atomic<unsigned long long>& hashed, size_t* done) {
  for (*done = 0; *done < span.length;) {
    size_t step = span.length - *done < progressStep ? span.length - *done : progressStep;
    if (int failure = file_reader::feed(span, *done, step, a, state)) return failure;
    *done += step;
    hashed.fetch_add(step, std::memory_order_relaxed);
  }
  return 0;
}

int hashOn(hash_job& job, unsigned char* buffer, size_t room, const std::atomic<int>& stop,
           const clock_type::time_point* deadline) {
  for (;;) {
    if (stop.load(std::memory_order_acquire) != 0) return EINTR;
    file_span span =
        job.file.next({job.offset, span_request::wholeFile, buffer, room, 0, !job.algorithm->readsCached});
    size_t done = 0;
    int failure = span.failure != 0 ? span.failure : hashSpan(span, *job.algorithm, job.hashState, job.hashed, &done);
    file_reader::release(span);
    job.offset += done;
    if (failure != 0) return failure;
    if (span.last) return 0;
    if (deadline != nullptr && clock_type::now() >= *deadline) return unfinished;
  }
}

void conclude(hash_job& job, int failure, bool notRegular) {
  engine::result& out = job.outcome;
  out.tag = job.tag;
  out.notRegular = notRegular;
  out.code = notRegular ? error::file_read_error : error::from_errno(failure);
  job.failure = notRegular ? 0 : failure;
  out.size = job.offset;
  out.modifiedSeconds = job.file.modified().tv_sec;
  out.modifiedNanoseconds = job.file.modified().tv_nsec;
  out.opened = job.file.status();
  memset(out.hash, 0, sizeof out.hash);
  memset(out.digest, 0, sizeof out.digest);
  out.digestSize = job.algorithm->digestSize;
  if (streamStarted(job)) {
    job.algorithm->final(job.hashState, out.digest);
    if (job.algorithm->release != nullptr) job.algorithm->release(job.hashState);
  }
  // A longer digest is left out of `hash` whole: cut, it could pass for
  // one of the earlier algorithms.
  if (static_cast<size_t>(out.digestSize) <= sizeof out.hash) memcpy(out.hash, out.digest, sizeof out.hash);
  job.file.close();
}

void abandon(hash_job& job) {
  if (streamStarted(job) && job.algorithm->release != nullptr) job.algorithm->release(job.hashState);
  job.file.close();
}

}  // namespace job_hash
