// Lists written in place all or nothing, the kept copy, the lock on a list,
// and the question whether a file holds entries at all.
#include <sys/file.h>
#include <sys/resource.h>

#include <atomic>
#include <cwctype>
#include <csignal>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>

#include "containers/in_place.h"
#include "containers/list_lock.h"
#include "containers/signal_hold.h"
#include "scratch.h"

using namespace std::string_literals;

namespace {

// A limit on the size of files this process writes, with SIGXFSZ ignored
// as the program ignores it: writing past it fails with EFBIG.
class size_limit {
public:
  explicit size_limit(rlim_t bytes) {
    _action = signal(SIGXFSZ, SIG_IGN);
    getrlimit(RLIMIT_FSIZE, &_old);
    struct rlimit limit = _old;
    limit.rlim_cur = bytes;
    setrlimit(RLIMIT_FSIZE, &limit);
  }
  ~size_limit() {
    setrlimit(RLIMIT_FSIZE, &_old);
    signal(SIGXFSZ, _action);
  }

private:
  struct rlimit _old;
  sighandler_t _action;
};

// The lines of the list `text` that are not comments.
std::string entryLines(const std::string& text) {
  std::string lines;
  for (size_t at = 0; at < text.size();) {
    size_t end = text.find('\n', at);
    end = end == std::string::npos ? text.size() : end + 1;
    if (text[at] != ';') lines += text.substr(at, end - at);
    at = end;
  }
  return lines;
}

class listWrite : public scratch {
protected:
  // Whether another open of `name` could take the exclusive lock now.
  bool lockable(const std::string& name) const {
    int descriptor = open(path(name).c_str(), O_RDONLY | O_CLOEXEC);
    EXPECT_GE(descriptor, 0) << name;
    bool free = flock(descriptor, LOCK_EX | LOCK_NB) == 0;
    close(descriptor);
    return free;
  }

  static ino_t inodeOf(const std::string& file) {
    struct stat status {};
    stat(file.c_str(), &status);
    return status.st_ino;
  }
};

TEST_F(listWrite, overwriteTailIsAllOrNothing) {
  const std::string old = "0123456789";
  struct {
    off_t at;
    std::string fresh;
    rlim_t limit;  // on the file's size; 0: none
    bool fails;    // and leaves the old content
  } cases[] = {
      {0, "abc", 0, false},
      {4, "abcdefghijkl", 0, false},
      {4, "xy", 0, false},
      {10, "tail", 0, false},
      {0, "abcdefghij", 10, false},
      {2, "ab", 10, false},
      {4, "abcdefghijkl", 12, true},
      {0, "abcdefghijk", 10, true},
      {10, "t", 10, true},
  };
  // The old and the new tail in memory, then each in a scratch file.
  for (bool inFiles : {false, true}) {
    for (const auto& c : cases) {
      write("list", old);
      int descriptor = open(path("list").c_str(), O_RDWR | O_CLOEXEC);
      ASSERT_GE(descriptor, 0);
      tail_source before, after;
      if (inFiles) {
        ASSERT_EQ(saveTail(descriptor, c.at, &before), 0);
        ASSERT_NE(before.file, nullptr);
        FILE* fresh = scratchFile();
        ASSERT_NE(fresh, nullptr);
        fwrite(c.fresh.data(), 1, c.fresh.size(), fresh);
        ASSERT_EQ(tailFromFile(fresh, &after), 0);
      } else {
        char* tail = nullptr;
        ASSERT_EQ(readTail(descriptor, c.at, &tail, &before.length), 0);
        before.bytes = tail;
        after.bytes = c.fresh.data();
        after.length = c.fresh.size();
      }
      EXPECT_EQ(before.length, old.size() - static_cast<size_t>(c.at));
      bool restored = false;
      int code;
      {
        size_limit limit(c.limit != 0 ? c.limit : RLIM_INFINITY);
        code = overwriteTail(descriptor, c.at, before, after, &restored);
      }
      releaseTail(&before);
      if (inFiles) releaseTail(&after);
      close(descriptor);
      EXPECT_EQ(code != 0, c.fails) << c.at << " " << c.fresh << " " << inFiles;
      EXPECT_TRUE(restored) << c.fresh;
      EXPECT_EQ(read("list"), c.fails ? old : old.substr(0, static_cast<size_t>(c.at)) + c.fresh)
          << c.at << " " << c.fresh << " " << inFiles;
    }
  }
}

// The copy of the old list goes under $XDG_STATE_HOME/zorvik, or
// ~/.local/state/zorvik when that is unset or relative; with neither,
// nothing is written. A rewrite that succeeds leaves no copy.
TEST_F(listWrite, rewriteInPlaceKeepsItsCopyInTheStateDirectory) {
  const std::string state = path("state"), home = _home + "/.local/state/zorvik";
  struct {
    const char* stateHome;  // null: unset
    bool hasHome;
    std::string directory;  // made for the copy; empty: the rewrite fails
  } cases[] = {
      {nullptr, true, home},
      {"relative/state", true, home},
      {state.c_str(), true, state + "/zorvik"},
      {nullptr, false, ""},
  };
  for (const auto& c : cases) {
    scratchDir::removeTree(path("state"));
    scratchDir::removeTree(_home + "/.local");
    if (c.stateHome != nullptr) setenv("XDG_STATE_HOME", c.stateHome, 1); else unsetenv("XDG_STATE_HOME");
    if (!c.hasHome) unsetenv("HOME");
    write("l.md5", "old list\n");
    int descriptor = open(path("l.md5").c_str(), O_RDWR | O_CLOEXEC);
    ASSERT_GE(descriptor, 0);
    char kept[PATH_MAX] = "unset";
    int code = rewriteInPlace(descriptor, path("l.md5").c_str(), "new\n", 4, kept, sizeof kept);
    close(descriptor);
    setenv("HOME", _home.c_str(), 1);
    unsetenv("XDG_STATE_HOME");
    EXPECT_STREQ(kept, "");
    struct stat status;
    if (c.directory.empty()) {
      EXPECT_NE(code, 0);
      EXPECT_EQ(read("l.md5"), "old list\n");
      continue;
    }
    EXPECT_EQ(code, 0) << c.directory;
    EXPECT_EQ(read("l.md5"), "new\n");
    ASSERT_EQ(stat(c.directory.c_str(), &status), 0) << c.directory;
    EXPECT_EQ(status.st_mode & 0777, 0700u);
    EXPECT_EQ(listing(c.directory.substr(_dir.size() + 1)), ".\n..\n");
  }
}

// The list, or for a list not there yet its directory, stays locked until
// it is unlocked; a pipe takes no lock.
TEST_F(listWrite, lockListHoldsTheListOrItsDirectory) {
  ASSERT_EQ(mkdir(path("d").c_str(), 0755), 0);
  write("d/there.sfv", "x 00000000\n");
  ASSERT_EQ(mkfifo(path("d/pipe").c_str(), 0644), 0);
  struct {
    std::string list, locked;  // locked empty: nothing is
  } cases[] = {{"d/there.sfv", "d/there.sfv"}, {"d/absent.sfv", "d"}, {"d/pipe", ""}};
  for (const auto& c : cases) {
    list_guard* guard = newGuard();
    ASSERT_NE(guard, nullptr);
    EXPECT_EQ(lockList(guard, path(c.list).c_str()), 0) << c.list;
    EXPECT_EQ(guard->refused, 0);
    if (!c.locked.empty()) {
      EXPECT_FALSE(lockable(c.locked)) << c.list;
    }
    EXPECT_EQ(guard->file >= 0, c.list == "d/there.sfv");
    unlockList(guard);
    if (!c.locked.empty()) {
      EXPECT_TRUE(lockable(c.locked)) << c.list;
    }
    deleteGuard(guard);
  }
}

// A run that waited for the lock while the holder replaced the list ends
// up holding the new list, not the old file it first opened.
TEST_F(listWrite, lockListFollowsAListReplacedWhileWaiting) {
  write("l.sfv", "old 00000000\n");
  int holder = open(path("l.sfv").c_str(), O_RDWR | O_CLOEXEC);
  ASSERT_EQ(flock(holder, LOCK_EX), 0);
  list_guard* guard = newGuard();
  ASSERT_NE(guard, nullptr);
  int code = -100;
  std::thread waiter([&] { code = lockList(guard, path("l.sfv").c_str()); });
  // Waits until the kernel shows a second lock on the list: the one asked for.
  std::string inode = ":" + std::to_string(inodeOf(path("l.sfv"))) + " ";
  for (int i = 0; i < 2000; ++i) {
    std::ifstream locks("/proc/locks");
    std::string all((std::istreambuf_iterator<char>(locks)), std::istreambuf_iterator<char>());
    size_t first = all.find(inode);
    if (first != std::string::npos && all.find(inode, first + 1) != std::string::npos) break;
    usleep(1000);
  }
  write("l.sfv.new", "new 00000000\n");
  ASSERT_EQ(rename(path("l.sfv.new").c_str(), path("l.sfv").c_str()), 0);
  close(holder);
  waiter.join();
  EXPECT_EQ(code, 0);
  struct stat locked;
  ASSERT_EQ(fstat(guard->file, &locked), 0);
  EXPECT_EQ(locked.st_ino, inodeOf(path("l.sfv")));
  EXPECT_FALSE(lockable("l.sfv"));
  deleteGuard(guard);
  EXPECT_TRUE(lockable("l.sfv"));
}

TEST_F(listWrite, holdsEntriesOfItsOwnFormat) {
  enum { sfvType, md5Type };
  struct {
    int type;
    std::string content;
    bool expected;
  } cases[] = {
      {sfvType, "", false},
      {sfvType, "; comments only\n;\n", false},
      {sfvType, "hello\nworld\n", false},
      {sfvType, "; Generated\n;\nfile.txt CBF43926\n", true},
      {sfvType, "garbage\nfile.txt CBF43926\n", true},
      {md5Type, "c 00000000\n", false},
      {md5Type, "; x\nd41d8cd98f00b204e9800998ecf8427e *empty\n", true},
      {md5Type, "MD5 (empty) = d41d8cd98f00b204e9800998ecf8427e\n", true},
      // No text: NUL bytes at its start.
      {sfvType, "x CBF43926\n"s + std::string(10, '\0'), false},
      {md5Type, std::string(100, '\0') + "\nd41d8cd98f00b204e9800998ecf8427e *empty\n", false},
  };
  for (const auto& c : cases) {
    write("file", c.content);
    sfv sfvList;
    md5 md5List;
    container& list = c.type == sfvType ? static_cast<container&>(sfvList) : md5List;
    EXPECT_EQ(list.holdsEntries(wide(path("file")).c_str()), c.expected) << c.content;
  }
  sfv list;
  EXPECT_FALSE(list.holdsEntries(wide(path("missing")).c_str()));
}

TEST_F(listWrite, canListTheNamesItsLinesReadBackAsTheyAre) {
  struct {
    std::string name;
    bool sfvCarries, md5Carries;
  } cases[] = {
      {"plain", true, true},
      {"dir/sub dir/with blanks.txt", true, true},
      {" begins with blank", true, true},
      {"x 12345678", true, true},
      {"back\\slash", true, true},
      {"cr\rinside", true, true},
      {"caf\xe9 \xff", true, true},
      {"a\"", true, true},
      {"new\nline", false, true},
      {"ends in lf\n", false, true},
      {"ends in cr\r", false, true},
      {"ends in blank ", false, true},
      {"ends in tab\t", false, true},
      {"ends in vt\v", false, true},
      {"ends in ff\f", false, true},
      {";begins with semicolon", false, true},
      {"\"quoted\"", false, true},
      {"\"begins with quote", false, true},
      {" ", false, true},
      {"", false, false},
  };
  for (const auto& c : cases) {
    sfv sfvList;
    md5 md5List;
    EXPECT_EQ(sfvList.canList(c.name.c_str()), c.sfvCarries) << c.name;
    EXPECT_EQ(md5List.canList(c.name.c_str()), c.md5Carries) << c.name;
  }
  // Asked while a list is written, it changes nothing of that list.
  sfv list;
  ASSERT_EQ(list.create(wide(path("l.sfv")).c_str()), 0);
  const uint32_t crc = 0xCBF43926;
  EXPECT_EQ(list.addFile(L"one", &crc), 0);
  EXPECT_FALSE(list.canList(";two"));
  EXPECT_TRUE(list.canList("two"));
  EXPECT_EQ(list.addFile(L"two", &crc), 0);
  EXPECT_EQ(list.close(), 0);
  EXPECT_EQ(entryLines(read("l.sfv")), "one CBF43926\ntwo CBF43926\n");
}

TEST_F(listWrite, entriesAddedAsBytesAreThoseAddedAsWideText) {
  const std::string names[] = {"plain", "dir/with blank", "caf\xe9\xff", "new\nline", "back\\slash"};
  const unsigned char hash[16] = {0x26, 0x39, 0xf4, 0xcb, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 0xfe, 0xff};
  const struct timespec modified = {1275309005, 123456789};
  for (std::string type : {"sfv", "md5"}) {
    // One list at a time: a new list locks its directory until it is closed.
    auto made = [&](bool asBytes) {
      sfv sfvList;
      md5 md5List;
      container& list = type == "sfv" ? static_cast<container&>(sfvList) : md5List;
      std::string name = (asBytes ? "bytes." : "wide.") + type;
      EXPECT_EQ(list.create(wide(path(name)).c_str()), 0);
      for (const std::string& entry : names) {
        int added = asBytes ? list.addSeenFile(entry.c_str(), hash, 1234567, modified)
                            : list.addSeenFile(wide(entry).c_str(), hash, 1234567, modified);
        EXPECT_EQ(added, 0) << entry;
      }
      EXPECT_EQ(list.close(), 0);
      // Without the generator line, whose time may differ by a second.
      std::string text = read(name);
      return text.substr(text.find('\n'));
    };
    std::string bytes = made(true);
    EXPECT_EQ(bytes, made(false)) << type;
    EXPECT_NE(bytes.find(type == "sfv" ? "caf\xe9\xff CBF43926\n" : "2639f4cb0102030405060708090afeff *plain\n"),
              std::string::npos)
        << bytes;
  }
}

// A class of its own adds its entries its own way, by bytes as by wide text.
TEST_F(listWrite, aDerivedListAddsEntriesThroughItsOwnAddFile) {
  struct upperCase : md5 {
    int addFile(const wchar_t* path, const void* hash) override {
      std::wstring shown(path);
      for (wchar_t& c : shown) c = static_cast<wchar_t>(towupper(static_cast<wint_t>(c)));
      return md5::addFile(shown.c_str(), hash);
    }
  } list;
  const unsigned char hash[16] = {};
  ASSERT_EQ(list.create(wide(path("l.md5")).c_str()), 0);
  EXPECT_EQ(list.addSeenFile("name", hash, 1, {}), 0);
  EXPECT_TRUE(list.canList(";anything\n"));
  EXPECT_EQ(list.close(), 0);
  EXPECT_EQ(entryLines(read("l.md5")), "00000000000000000000000000000000 *NAME\n");
}

// The record of a verify run is written only into the list the run read,
// and all or nothing.
class recordWrite : public listWrite {
protected:
  // Opens `name` and passes every entry as verified, so that close()
  // has a record to write.
  void verifyAll(sfv& list, const std::string& name) {
    settle();
    ASSERT_EQ(list.open(wide(path(name)).c_str()), 0);
    for (;;) {
      wchar_t entry[512];
      unsigned long long size;
      unsigned char hash[64];
      int read = list.getNextFile(entry, 512, &size, hash);
      if (read <= 0) break;
      std::wstring full = wide(_dir + "/") + entry;
      list.isPreviouslyVerified(full.data());
      list.setPreviouslyVerified(true);
    }
  }
};

TEST_F(recordWrite, notIntoAListReplacedOrRewrittenMeanwhile) {
  write("f", "content");
  struct {
    const char* what;
    std::function<void()> meanwhile;
    std::string expected;  // the list afterwards
  } cases[] = {
      {"replaced", [this] { write("new", "f 11111111\n"); rename(path("new").c_str(), path("l.sfv").c_str()); },
       "f 11111111\n"},
      {"rewritten in place", [this] { std::ofstream(path("l.sfv"), std::ios::app) << "g 22222222\n"; },
       "f 00000000\ng 22222222\n"},
  };
  for (const auto& c : cases) {
    write("l.sfv", "f 00000000\n");
    sfv list;
    verifyAll(list, "l.sfv");
    c.meanwhile();
    EXPECT_EQ(list.close(), 0) << c.what;
    EXPECT_EQ(read("l.sfv"), c.expected) << c.what;
  }
  // Left alone, the list gets its record.
  write("l.sfv", "f 00000000\n");
  sfv list;
  verifyAll(list, "l.sfv");
  EXPECT_EQ(list.close(), 0);
  EXPECT_NE(read("l.sfv").find("\n;R2-"), std::string::npos);
}

TEST_F(recordWrite, failedRewriteLeavesTheListAsItWas) {
  write("f", "content");
  // With an old record and a line behind it, and without: appended.
  for (std::string old : {"f 00000000\n;R2-stale\n;R2-AAAAAAAAAAA=\nf 00000000\n"s, "f 00000000\nf 00000000\n"s}) {
    write("l.sfv", old);
    sfv list;
    verifyAll(list, "l.sfv");
    int code;
    {
      size_limit limit(old.size() + 8);
      code = list.close();
    }
    EXPECT_NE(code, 0) << old;
    EXPECT_EQ(read("l.sfv"), old);
  }
}

int handled = 0;

// A signal sent to the process during a hold, taken by another thread,
// takes its course only when the hold ends.
TEST(signalHold, signalsWaitForTheEndOfTheHold) {
  struct sigaction act {}, old;
  act.sa_handler = [](int) { __atomic_add_fetch(&handled, 1, __ATOMIC_SEQ_CST); };
  sigemptyset(&act.sa_mask);
  ASSERT_EQ(sigaction(SIGUSR1, &act, &old), 0);
  std::atomic<int> step{0};
  // Made before the hold, so that it does not block the signal.
  std::thread sender([&] {
    while (step.load() != 1) usleep(100);
    kill(getpid(), SIGUSR1);
    step = 2;
  });
  {
    signal_hold held;
    step = 1;
    while (step.load() != 2) usleep(100);
    usleep(10000);
    EXPECT_EQ(__atomic_load_n(&handled, __ATOMIC_SEQ_CST), 0);
  }
  sender.join();
  for (int i = 0; i < 1000 && __atomic_load_n(&handled, __ATOMIC_SEQ_CST) == 0; ++i) usleep(1000);
  EXPECT_EQ(__atomic_load_n(&handled, __ATOMIC_SEQ_CST), 1);
  sigaction(SIGUSR1, &old, nullptr);
}

}  // namespace
