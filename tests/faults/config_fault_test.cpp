// config::set against a user configuration that cannot be written: it must
// answer false and leave the old file byte for byte, with no temporary file
// left behind. Each case runs in a child process, since some change the
// process itself (identity, file-size limit, mount namespace).
#include <dirent.h>
#include <grp.h>
#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <set>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include <zorvik/config.h>

#include "support/scratch_dir.h"

namespace {

constexpr uid_t nobody = 65534;

std::string readAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

bool writeAll(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
  out.close();
  return out.good();
}

std::set<std::string> entriesOf(const std::string& directory) {
  std::set<std::string> names;
  if (DIR* d = opendir(directory.c_str())) {
    while (dirent* e = readdir(d)) {
      if (strcmp(e->d_name, ".") != 0 && strcmp(e->d_name, "..") != 0) names.insert(e->d_name);
    }
    closedir(d);
  }
  return names;
}

// Settings, a comment and a blank line: a rewrite would drop the last two,
// so any rewrite shows.
std::string oldSettings(size_t atLeast) {
  std::string text = "expiretime=30d\n; keep me\n\nfoo = bar\n";
  for (int i = 0; text.size() < atLeast; ++i) text += "key" + std::to_string(i) + "=value\n";
  return text;
}

// A scratch HOME whose ".config" exists; where the user's configuration
// directory goes is up to each case.
struct scratch : scratchDir {
  scratch() { mkdir((home() + "/.config").c_str(), 0755); }
  std::string configDir() const { return home() + "/.config/zorvik"; }
  std::string configFile() const { return configDir() + "/zorvik.conf"; }
};

// Runs `body` in a child; its exit status is the test's verdict (0 passes,
// anything else names the failed check on standard error).
int inChild(const std::function<int()>& body) {
  fflush(nullptr);
  pid_t pid = fork();
  if (pid == 0) _exit(body());
  int status = 0;
  waitpid(pid, &status, 0);
  if (WIFSIGNALED(status)) return 1000 + WTERMSIG(status);
  return WEXITSTATUS(status);
}

// The part every case shares, run in the child once the fault is in place.
int setMustFail(const scratch& s, const std::string& fileBefore, const std::string& path,
                const std::set<std::string>& entriesBefore) {
  config::reload(s.system().c_str());
  if (config::instance()->set("Signature", "1234567890")) {
    fprintf(stderr, "config::set reported success\n");
    return 2;
  }
  if (readAll(path) != fileBefore) {
    fprintf(stderr, "%s changed:\n%s\n", path.c_str(), readAll(path).c_str());
    return 3;
  }
  if (entriesOf(s.configDir()) != entriesBefore) {
    for (const auto& name : entriesOf(s.configDir())) fprintf(stderr, "left: %s\n", name.c_str());
    return 4;
  }
  return 0;
}

// The same set-up without a fault: set succeeds, so the cases below fail
// because of their fault alone.
TEST(ConfigSetFault, SucceedsWithoutAFault) {
  scratch s;
  mkdir(s.configDir().c_str(), 0755);
  ASSERT_TRUE(writeAll(s.configFile(), oldSettings(6000)));
  EXPECT_EQ(inChild([&] {
              config::reload(s.system().c_str());
              return config::instance()->set("Signature", "1234567890") ? 0 : 2;
            }),
            0);
  const std::string after = readAll(s.configFile());
  EXPECT_NE(after.find("expiretime=30d\nfoo = bar\n"), std::string::npos) << after;
  EXPECT_NE(after.find("\nSignature=1234567890\n"), std::string::npos) << after;
  EXPECT_EQ(entriesOf(s.configDir()), std::set<std::string>{"zorvik.conf"});
}

TEST(ConfigSetFault, UnwritableDirectoryAsOrdinaryUser) {
  scratch s;
  mkdir(s.configDir().c_str(), 0755);
  const std::string before = oldSettings(200);
  ASSERT_TRUE(writeAll(s.configFile(), before));
  if (geteuid() == 0) {
    // Permissions do not stop root: the case runs as nobody, who owns
    // the tree and has taken the write bit off its own directory.
    std::string command = "chown -R 65534:65534 '" + s.home() + "'";
    ASSERT_EQ(system(command.c_str()), 0);
  }
  ASSERT_EQ(chmod(s.configDir().c_str(), 0555), 0);
  const auto entries = entriesOf(s.configDir());
  EXPECT_EQ(inChild([&] {
              if (geteuid() == 0 && (setgroups(0, nullptr) != 0 || setgid(nobody) != 0 ||
                                     setuid(nobody) != 0)) {
                perror("dropping to nobody");
                return 10;
              }
              return setMustFail(s, before, s.configFile(), entries);
            }),
            0);
  EXPECT_EQ(readAll(s.configFile()), before);
}

TEST(ConfigSetFault, FileSizeLimit) {
  scratch s;
  mkdir(s.configDir().c_str(), 0755);
  const std::string before = oldSettings(6000);
  ASSERT_TRUE(writeAll(s.configFile(), before));
  const auto entries = entriesOf(s.configDir());
  EXPECT_EQ(inChild([&] {
              // Writes past the limit fail with EFBIG instead of a signal.
              signal(SIGXFSZ, SIG_IGN);
              rlimit limit{1024, 1024};
              if (setrlimit(RLIMIT_FSIZE, &limit) != 0) return 10;
              return setMustFail(s, before, s.configFile(), entries);
            }),
            0);
  EXPECT_EQ(readAll(s.configFile()), before);
}

TEST(ConfigSetFault, FullFileSystem) {
  if (geteuid() != 0) GTEST_SKIP() << "mounting a tmpfs needs root";
  scratch s;
  mkdir(s.configDir().c_str(), 0755);
  const std::string before = oldSettings(3000);
  int verdict = inChild([&] {
    // A private mount namespace, so the tiny tmpfs is seen by this child
    // alone and vanishes with it.
    if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
      perror("unshare");
      return 77;
    }
    if (mount("tmpfs", s.configDir().c_str(), "tmpfs", 0, "size=16k,mode=0755") != 0) {
      perror("mount");
      return 77;
    }
    if (!writeAll(s.configFile(), before)) return 11;
    int filler = open((s.configDir() + "/filler").c_str(), O_WRONLY | O_CREAT, 0644);
    char block[512] = {};
    while (write(filler, block, sizeof block) > 0) {
    }
    if (errno != ENOSPC) return 12;
    close(filler);
    return setMustFail(s, before, s.configFile(), entriesOf(s.configDir()));
  });
  if (verdict == 77) GTEST_SKIP() << "no tmpfs mount possible here";
  EXPECT_EQ(verdict, 0);
}

TEST(ConfigSetFault, ConfigDirectoryIsAFile) {
  scratch s;
  const std::string before = "not a directory\n";
  ASSERT_TRUE(writeAll(s.configDir(), before));
  EXPECT_EQ(inChild([&] {
              config::reload(s.system().c_str());
              if (config::instance()->set("Signature", "1234567890")) return 2;
              return readAll(s.configDir()) == before ? 0 : 3;
            }),
            0);
  EXPECT_EQ(readAll(s.configDir()), before);
  EXPECT_EQ(entriesOf(s.home() + "/.config"), std::set<std::string>{"zorvik"});
}

}  // namespace
