#pragma once

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <zorvik/config.h>
#include <zorvik/container.h>
#include <zorvik/text.h>

#include "support/file_clock.h"
#include "support/scratch_dir.h"

inline std::wstring wide(const std::string& bytes) {
  std::vector<wchar_t> out(bytes.size() + 1);
  EXPECT_GE(bytesToWide(out.data(), bytes.c_str(), out.size()), 0);
  return out.data();
}

inline std::string narrow(const wchar_t* text) {
  std::vector<char> out(wcslen(text) + 1);
  EXPECT_GE(wideToBytes(out.data(), text, out.size()), 0);
  return out.data();
}

// `text` with every decimal digit shown as 9, to check the shape of a time.
inline std::string digitsMasked(std::string text) {
  for (char& c : text)
    if (c >= '0' && c <= '9') c = '9';
  return text;
}

// Each test gets a scratch directory of its own (support/scratch_dir.h):
// its own HOME, an empty system configuration, UTC.
class scratch : public ::testing::Test {
protected:
  void SetUp() override {
    _scratch.emplace();
    _dir = _scratch->root();
    _home = _scratch->home();
    _etc = _scratch->system();
  }

  void TearDown() override {
    EXPECT_EQ(chdir("/"), 0);
    _scratch.reset();
  }

  std::string path(const std::string& name) const { return _dir + "/" + name; }

  void write(const std::string& name, const std::string& bytes) const { scratchDir::write(path(name), bytes); }
  std::string read(const std::string& name) const { return scratchDir::read(path(name)); }

  // The names in directory `name`, one per line.
  std::string listing(const std::string& name) const {
    std::string names;
    if (DIR* stream = opendir(path(name).c_str())) {
      while (dirent* found = readdir(stream)) names += std::string(found->d_name) + "\n";
      closedir(stream);
    }
    return names;
  }

  // Sets the modification time of `name` to `seconds` (+ `nanoseconds`) since 1970.
  void touch(const std::string& name, long long seconds, long nanoseconds = 0) const {
    struct timespec times[2] = {{static_cast<time_t>(seconds), nanoseconds},
                                {static_cast<time_t>(seconds), nanoseconds}};
    ASSERT_EQ(utimensat(AT_FDCWD, path(name).c_str(), times, 0), 0);
  }

  // passFileClock(), then the time, in ticks.
  static unsigned long long settle() {
    passFileClock();
    return container::ticksNow();
  }

  // Replaces the user's configuration file and rereads the store.
  void configure(const std::string& lines) const {
    _scratch->writeUser(lines);
    _scratch->reload();
  }

  std::string userConfig() const { return scratchDir::read(_scratch->userFile()); }

  std::optional<scratchDir> _scratch;
  std::string _dir, _home, _etc;
};

// One entry as getNextFile delivered it.
struct entry {
  int result;
  std::string name;
  uint32_t crc;
  unsigned long long size;  // from the list's size-and-time comments
};

// Reads every entry of an open container, through Invalid line (-6) as the
// program does, with the program's 512-character buffer.
inline std::vector<entry> readEntries(container& list, int room = 512) {
  std::vector<entry> entries;
  for (;;) {
    std::vector<wchar_t> name(static_cast<size_t>(room), L'\0');
    unsigned long long size = 0;
    unsigned char hash[64] = {};
    int result = list.getNextFile(name.data(), room, &size, hash);
    if (result == 0 || (result < 0 && result != -6)) break;
    uint32_t crc;
    memcpy(&crc, hash, sizeof crc);
    entry e{result, result > 0 ? narrow(name.data()) : std::string(), result > 0 ? crc : 0, size};
    entries.push_back(e);
    // Only SFV comments give sizes.
    if (result < 0 || dynamic_cast<md5*>(&list) != nullptr) {
      EXPECT_EQ(size, ~0ULL);
    }
  }
  return entries;
}
