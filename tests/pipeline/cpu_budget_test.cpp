#include "pipeline/cpu_budget.h"

#include "pipeline_support.h"

namespace {

TEST(CpuBudget, SmallestOfAffinityAndQuotas) {
  const char* v2 = "0::/app.slice/job.scope\n";
  struct {
    const char* name;
    const char* cgroupText;
    const char* parentMax;  // mnt/app.slice/cpu.max
    const char* childMax;   // mnt/app.slice/job.scope/cpu.max
    int affinity;
    int expected;
  } cases[] = {
      {"no cpu.max", v2, nullptr, nullptr, 4, 4},
      {"no limit", v2, nullptr, "max 100000\n", 4, 4},
      {"quota rounded up", v2, nullptr, "150000 100000\n", 4, 2},
      {"half a CPU", v2, nullptr, "50000 100000\n", 4, 1},
      {"parent's limit smaller", v2, "100000 100000\n", "300000 100000\n", 8, 1},
      {"affinity smaller", v2, nullptr, "400000 100000\n", 2, 2},
      {"v2 line after v1 lines", "2:cpu:/\n1:name=systemd:/\n0::/app.slice/job.scope\n", nullptr,
       "150000 100000\n", 4, 2},
      {"v1 only", "2:cpu,cpuacct:/app.slice/job.scope\n1:name=systemd:/\n", nullptr,
       "100000 100000\n", 4, 4},
      {"cgroup outside the mount", "0::/../outside\n", nullptr, nullptr, 4, 4},
  };
  for (const auto& c : cases) {
    scratchDir dir;
    std::string root = dir.file("mnt");
    ASSERT_EQ(mkdir(root.c_str(), 0755), 0);
    ASSERT_EQ(mkdir((root + "/app.slice").c_str(), 0755), 0);
    ASSERT_EQ(mkdir((root + "/app.slice/job.scope").c_str(), 0755), 0);
    ASSERT_EQ(mkdir(dir.file("outside").c_str(), 0755), 0);
    auto put = [](const std::string& path, const char* text) {
      if (text == nullptr) return;
      FILE* f = fopen(path.c_str(), "w");
      ASSERT_NE(f, nullptr);
      fputs(text, f);
      fclose(f);
    };
    put(root + "/app.slice/cpu.max", c.parentMax);
    put(root + "/app.slice/job.scope/cpu.max", c.childMax);
    put(dir.file("outside/cpu.max"), "100000 100000\n");
    EXPECT_EQ(usableCpus(c.cgroupText, root.c_str(), c.affinity), c.expected) << c.name;
  }
}

TEST(CpuBudget, ThisMachine) {
  int cpus = usableCpus();
  std::printf("usableCpus() = %d\n", cpus);
  EXPECT_GE(cpus, 1);
  EXPECT_LE(cpus, sysconf(_SC_NPROCESSORS_ONLN));
}

}  // namespace
