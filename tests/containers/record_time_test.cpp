// When the record may vouch for a file: both its times strictly before the
// start of the run that wrote the record, in the steps its file system
// keeps them in.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <zorvik/container.h>

#include "containers/record_time.h"
#include "containers/ticks.h"

namespace {

// Ticks of `seconds` + `nanoseconds` since 1970.
unsigned long long at(long long seconds, long nanoseconds = 0) {
  return ticksOf(timespec{static_cast<time_t>(seconds), nanoseconds});
}

struct stat timesOf(long long mSeconds, long mNanoseconds, long long cSeconds, long cNanoseconds) {
  struct stat status {};
  status.st_mtim = timespec{static_cast<time_t>(mSeconds), mNanoseconds};
  status.st_ctim = timespec{static_cast<time_t>(cSeconds), cNanoseconds};
  return status;
}

TEST(recordTime, bothTimesStrictlyBeforeTheRunInTheFileSystemsSteps) {
  const long long base = 1796000000;  // an even second
  struct {
    const char* what;
    struct stat status;
    unsigned long long record;
    bool elsewhere;
    bool unchanged;
  } cases[] = {
      {"both before", timesOf(base, 1, base + 5, 123456789), at(base + 5, 123456900), false, true},
      {"changed at the record's tick", timesOf(base, 1, base + 5, 123456789), at(base + 5, 123456700), false, false},
      {"modified after", timesOf(base + 6, 1, base + 5, 123456789), at(base + 5, 500000000), false, false},
      {"status changed after (a restored time)", timesOf(base, 1, base + 6, 1), at(base + 5), false, false},
      // Whole seconds (nanoseconds 0): the record time goes down to an even second.
      {"whole seconds, before", timesOf(base, 0, base + 3, 0), at(base + 5, 900000000), false, true},
      {"whole seconds, same even second", timesOf(base, 0, base + 4, 0), at(base + 5, 900000000), false, false},
      {"whole seconds, the second before", timesOf(base, 0, base + 1, 0), at(base + 2, 100), false, true},
      // 10 ms steps (exFAT): down to 10 ms.
      {"10 ms steps, same step", timesOf(base, 0, base, 120000000), at(base, 125000000), false, false},
      {"10 ms steps, step before", timesOf(base, 0, base, 110000000), at(base, 125000000), false, true},
      // Stamped elsewhere: 2 s earlier, down to an even second.
      {"elsewhere, 4 s before", timesOf(base, 1, base + 1, 500000000), at(base + 5, 700000000), true, true},
      {"elsewhere, 1.5 s before", timesOf(base, 1, base + 4, 200000000), at(base + 5, 700000000), true, false},
      {"elsewhere, clock 2 s ahead", timesOf(base, 1, base + 6, 1), at(base + 5, 700000000), true, false},
  };
  for (const auto& c : cases)
    EXPECT_EQ(unchangedSince(c.status, c.record, c.elsewhere), c.unchanged) << c.what;
}

TEST(recordTime, aRunStartIsNeverAfterTheTimeOfAChangeMadeLater) {
  unsigned long long start = container::ticksNow();
  char name[] = "/tmp/zorvik-record-time-XXXXXX";
  int fd = mkstemp(name);
  ASSERT_GE(fd, 0);
  struct stat status;
  ASSERT_EQ(fstat(fd, &status), 0);
  close(fd);
  unlink(name);
  EXPECT_GE(ticksOf(status.st_ctim), start);
  EXPECT_FALSE(unchangedSince(status, start, false));
}

}  // namespace
