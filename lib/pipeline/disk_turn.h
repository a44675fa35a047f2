#pragma once

// The turn at a disk that spins: reads the page cache cannot serve take it
// one at a time, granted to the lowest order waiting, so that uncached data
// is read in list order. Process-wide: every reader shares the one turn.
namespace disk_turn {

void acquire(unsigned long long order);
void release();

// Test seam: the reads so far that had to wait for a disk that spins.
unsigned long long uncachedReads();

}  // namespace disk_turn
