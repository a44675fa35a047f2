#include "pipeline/rotational.h"

#include <linux/magic.h>
#include <sys/sysmacros.h>
#include <sys/vfs.h>

#include "pipeline_support.h"

namespace {

// Under `root`, with its parent directories: "path=text" makes a file,
// "path>target" a symbolic link.
void place(const std::string& root, const std::string& spec) {
  size_t split = spec.find_first_of("=>");
  std::string path = root + "/" + spec.substr(0, split), rest = spec.substr(split + 1);
  for (size_t slash = root.size() + 1; (slash = path.find('/', slash + 1)) != std::string::npos;)
    mkdir(path.substr(0, slash).c_str(), 0755);
  if (spec[split] == '>') {
    ASSERT_EQ(symlink(rest.c_str(), path.c_str()), 0) << path;
  } else {
    FILE* f = fopen(path.c_str(), "w");
    ASSERT_NE(f, nullptr) << path;
    fputs(rest.c_str(), f);
    fclose(f);
  }
}

const char* const b = "devices/virtual/block/";

class Rotational : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_EQ(mkdir(_root.c_str(), 0755), 0);
    for (const char* spec : {"hdd/queue/rotational=1", "hdd/hdd1/partition=1", "ssd/queue/rotational=0",
                             "ssd/ssd1/partition=1", "ssd2/queue/rotational=0",
                             "dm-0/queue/rotational=0", "dm-0/slaves/ssd>../../ssd",
                             "dm-0/slaves/hdd>../../hdd", "dm-0/slaves/ssd2>../../ssd2",
                             "dm-1/queue/rotational=0", "dm-1/slaves/ssd>../../ssd",
                             "dm-1/slaves/ssd2>../../ssd2", "md0/queue/rotational=0",
                             "md0/slaves/ssd1>../../ssd/ssd1", "md0/slaves/hdd1>../../hdd/hdd1",
                             "loop/queue/rotational=1", "loop/slaves/loop>../../loop"})
      place(_root, std::string(b) + spec);
    for (const char* spec : {"8:0>hdd", "8:1>hdd/hdd1", "8:16>ssd", "253:0>dm-0", "253:1>dm-1",
                             "9:0>md0", "253:9>loop"}) {
      std::string s = spec;
      place(_root, "dev/block/" + s.replace(s.find('>') + 1, 0, std::string("../../") + b));
    }
    setSysfsRoot(_root.c_str());
  }
  void TearDown() override { setSysfsRoot("/sys"); }

  scratchDir _dir;
  std::string _root = _dir.file("sys");
};

TEST_F(Rotational, FollowsPartitionsAndMembers) {
  struct {
    const char* name;
    unsigned major, minor;
    bool rotational;
  } cases[] = {
      {"rotational disk", 8, 0, true},       {"solid-state disk", 8, 16, false},
      {"partition of a rotational disk", 8, 1, true},
      {"dm over SSDs and an HDD", 253, 0, true},
      {"dm over two SSDs", 253, 1, false},   {"md over partitions", 9, 0, true},
      {"member of itself", 253, 9, false},   {"no dev/block entry", 0, 42, false},
  };
  for (const auto& c : cases) EXPECT_EQ(isRotational(makedev(c.major, c.minor)), c.rotational) << c.name;
}

TEST_F(Rotational, KeepsAnswerUntilRootIsSet) {
  ASSERT_FALSE(isRotational(makedev(8, 16)));
  place(_root, std::string(b) + "ssd/queue/rotational=1");
  EXPECT_FALSE(isRotational(makedev(8, 16)));
  setSysfsRoot(_root.c_str());
  EXPECT_TRUE(isRotational(makedev(8, 16)));
}

TEST(RotationalSystem, RealSysfs) {
  setSysfsRoot("/sys");
  struct stat about;
  ASSERT_EQ(stat("/", &about), 0);
  std::printf("/ is on a %s disk\n", isRotational(about.st_dev) ? "rotational" : "non-rotational");
  struct statfs fs;
  if (statfs("/dev/shm", &fs) != 0 || fs.f_type != TMPFS_MAGIC) GTEST_SKIP() << "/dev/shm is not tmpfs";
  ASSERT_EQ(stat("/dev/shm", &about), 0);
  EXPECT_FALSE(isRotational(about.st_dev));
}

}  // namespace
