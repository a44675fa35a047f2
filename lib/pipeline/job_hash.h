#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>

#include "pipeline/hash_job.h"

// Hashing one job through its algorithm's registry entry: begun (state,
// file), hashed span by span as the file reader gives them, concluded into
// the job's outcome. Publishing the outcome is the ring's business.
namespace job_hash {

using clock_type = std::chrono::steady_clock;

// Mapped spans are hashed this much at a time, for the progress.
inline constexpr size_t progressStep = 4 << 20;
// hashOn's answer when the deadline came before the end.
inline constexpr int unfinished = -1;

// Begins the claimed `job`: its stream started, its file opened. 0, or the
// errno that ends it; a file refused as no regular one sets `*notRegular`.
int begin(hash_job& job, bool* notRegular);

// Hashes `span` into `state` a step at a time, adding each step to `hashed`
// and `*done`: 0, or EIO when the file was cut short under a mapping.
int hashSpan(const file_span& span, const zorvik::algorithm& a, void* state,
             std::atomic<unsigned long long>& hashed, size_t* done);

// Hashes `job` on from its offset to the end of the file, reading into
// `buffer`. The errno that ends it (0: hashed), EINTR once `stop` is raised,
// or `unfinished` when `deadline` (null: none) passed first.
int hashOn(hash_job& job, unsigned char* buffer, size_t room, const std::atomic<int>& stop,
           const clock_type::time_point* deadline);

// Writes the outcome of `job` ending with `failure` (0: hashed): its hash
// when the stream was started, the file's status; the file closed.
void conclude(hash_job& job, int failure, bool notRegular = false);

// Lets go of what a job never concluded holds (an engine going away).
void abandon(hash_job& job);

}  // namespace job_hash
