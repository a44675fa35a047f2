#pragma once

// CPUs this process may use: the count of its affinity mask
// (sched_getaffinity), no more than the cgroup v2 CPU quota allows
// (cpu.max "QUOTA PERIOD" of its cgroup and of every ancestor; the smallest
// ceil(QUOTA / PERIOD); "max" means no limit); at least 1.
int usableCpus();

// The same from given sources, for tests: the text of /proc/self/cgroup,
// the cgroup v2 mount point, the affinity count.
int usableCpus(const char* procSelfCgroup, const char* cgroupRoot, int affinityCount);
