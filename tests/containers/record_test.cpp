#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include <zorvik/base64.h>

#include "containers/fingerprint.h"
#include "scratch.h"

namespace {

constexpr unsigned long long ticksPerDay = 86400ULL * 10000000ULL;

class record : public scratch {
protected:
  void SetUp() override {
    scratch::SetUp();
    write("f", "content");
    touch("f", 1000000000);  // 2001, long before any record
  }

  // A list of `count` entries, all naming the file f.
  static std::string listOf(size_t count) {
    std::string content = "; made by hand\n";
    for (size_t i = 0; i < count; ++i) content += "f 00000001\n";
    return content;
  }

  static std::string base64(const unsigned char* bytes, int length) {
    std::string text(static_cast<size_t>((length + 2) / 3 * 4), '\0');
    Base64Encode(const_cast<unsigned char*>(bytes), text.data(), length);
    return text;
  }

  static std::string timeText(unsigned long long ticks) {
    unsigned char bytes[8];
    for (int i = 0; i < 8; ++i) bytes[i] = static_cast<unsigned char>(ticks >> (8 * i));
    return base64(bytes, 8);
  }

  static unsigned long long timeOf(std::string text) {
    unsigned char bytes[8] = {};
    Base64Decode(text.data(), bytes, 8);
    unsigned long long ticks = 0;
    for (int i = 7; i >= 0; --i) ticks = ticks << 8 | bytes[i];
    return ticks;
  }

  // A format-2 record as the library writes it.
  static std::string recordOf(const std::string& signature, unsigned long long ticks,
                              const std::vector<unsigned char>& bits) {
    std::string text = ";R2-" + signature + "\n;R2-" + timeText(ticks) + "\n";
    for (size_t offset = 0; offset < bits.size(); offset += 48)
      text += ";R2-" + base64(bits.data() + offset, static_cast<int>(std::min<size_t>(48, bits.size() - offset))) + "\n";
    return text;
  }

  // The record lines of list.sfv, binding and fingerprints left out.
  std::vector<std::string> recordLines() {
    std::vector<std::string> lines;
    std::istringstream in(read("list.sfv"));
    for (std::string line; std::getline(in, line);)
      if (line.rfind(";R", 0) == 0 && line.rfind(";R3-", 0) != 0 && line.rfind(";R4-", 0) != 0)
        lines.push_back(line);
    return lines;
  }

  // The line binding the record to the entries and their directory.
  std::string bindingLine(const std::string& listName = "list.sfv") {
    std::istringstream in(read(listName));
    for (std::string line; std::getline(in, line);)
      if (line.rfind(";R3-", 0) == 0) return line;
    return "";
  }

  // The path of the next entry of `list`, as a verify run looks it up
  // (invalid lines passed over); empty at the end of the list.
  std::wstring nextPath(sfv& list) {
    wchar_t name[512];
    unsigned long long size;
    uint32_t crc;
    int result;
    while ((result = list.getNextFile(name, 512, &size, &crc)) == -6) {
    }
    return result > 0 ? wide(_dir + "/") + name : std::wstring();
  }

  // A verify run as the program makes it: the answers of isPreviouslyVerified;
  // entries not passed are "hashed" and verify when `correct` says so.
  std::vector<int> verify(const std::function<bool(size_t)>& correct = [](size_t) { return true; },
                          const std::string& listName = "list.sfv") {
    std::vector<int> answers;
    settle();  // a run of its own, after every change made before it
    sfv list;
    EXPECT_EQ(list.open(wide(path(listName)).c_str()), 0);
    for (std::wstring full; !(full = nextPath(list)).empty();) {
      int answer = list.isPreviouslyVerified(full.data());
      answers.push_back(answer);
      list.setPreviouslyVerified(answer == 1 || correct(answers.size() - 1));
    }
    EXPECT_EQ(list.close(), 0);
    return answers;
  }

  static std::vector<int> all(size_t count, int answer) { return std::vector<int>(count, answer); }

  std::string signature() {
    const char* text = (*config::instance())["signature"];
    return text != nullptr ? text : "";
  }

  // The fingerprint lines of list.sfv.
  std::vector<std::string> fingerprintLines() {
    std::vector<std::string> lines;
    std::istringstream in(read("list.sfv"));
    for (std::string line; std::getline(in, line);)
      if (line.rfind(";R4-", 0) == 0) lines.push_back(line);
    return lines;
  }

  // The fingerprint line of the files `names`, as a record holds them.
  std::string fingerprintLine(const std::vector<std::string>& names) {
    std::vector<unsigned char> bytes;
    for (const std::string& name : names) {
      struct stat status;
      EXPECT_EQ(stat(path(name).c_str(), &status), 0) << name;
      uint32_t value = fingerprintOf(status);
      for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<unsigned char>(value >> (8 * i)));
    }
    return ";R4-" + base64(bytes.data(), static_cast<int>(bytes.size()));
  }
};

TEST_F(record, firstRunAppendsRecord) {
  write("list.sfv", listOf(10));
  unsigned long long before = settle() - 40000;  // less the coarse clock's lag
  EXPECT_EQ(verify(), all(10, 0));
  unsigned long long after = container::ticksNow();
  std::string created = signature();
  ASSERT_FALSE(created.empty());
  EXPECT_NE(userConfig().find("Signature=" + created + "\n"), std::string::npos);
  std::vector<std::string> lines = recordLines();
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0], ";R2-" + created);
  ASSERT_EQ(lines[1].size(), 16u);
  EXPECT_GE(timeOf(lines[1].substr(4)), before);
  EXPECT_LE(timeOf(lines[1].substr(4)), after);
  EXPECT_EQ(lines[2], ";R2-/8A=");  // FF C0
  struct stat directory;
  ASSERT_EQ(stat(_dir.c_str(), &directory), 0);
  std::string binding = bindingLine();
  EXPECT_EQ(digitsMasked(binding.substr(0, 4)), ";R9-");
  EXPECT_EQ(binding.substr(36), "-" + std::to_string(directory.st_dev) + "-" + std::to_string(directory.st_ino));
  EXPECT_EQ(read("list.sfv").rfind(listOf(10), 0), 0u);

  // The second entry failing leaves its bit clear: BF C0.
  write("list.sfv", listOf(10));
  EXPECT_EQ(verify([](size_t i) { return i != 1; }), all(10, 0));
  EXPECT_EQ(recordLines().back(), ";R2-v8A=");
}

TEST_F(record, bitmapLinesHold48Bytes) {
  write("list.sfv", listOf(384));
  verify();
  std::vector<std::string> lines = recordLines();
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[2], ";R2-" + std::string(64, '/'));
  write("list.sfv", listOf(385));
  verify();
  lines = recordLines();
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[3], ";R2-gA==");
  write("list.sfv", listOf(0));
  verify();
  EXPECT_EQ(recordLines().size(), 0u);  // nothing counted, nothing changed
}

TEST_F(record, unchangedSecondRunKeepsFile) {
  write("list.sfv", listOf(10));
  verify([](size_t i) { return i != 4; });
  std::string first = read("list.sfv");
  std::vector<int> expected = all(10, 1);
  expected[4] = 0;  // failed before, hashed again, fails again
  EXPECT_EQ(verify([](size_t i) { return i != 4; }), expected);
  EXPECT_EQ(read("list.sfv"), first);
}

// A file changed during a run, after it was verified, is hashed again by
// the next run; so is one whose modification time was put back.
TEST_F(record, changesDuringTheRunOrRestoredTimesAreNotTrusted) {
  write("g", "other");
  write("list.sfv", "f 00000001\ng 00000002\n");
  verify();
  settle();
  sfv list;
  ASSERT_EQ(list.open(wide(path("list.sfv")).c_str()), 0);
  for (int i = 0; i < 2; ++i) {
    std::wstring full = nextPath(list);
    ASSERT_FALSE(full.empty());
    list.isPreviouslyVerified(full.data());
    list.setPreviouslyVerified(true);  // hashed (-a), and found right
    if (i == 0) write("f", "changed after it was hashed");
  }
  ASSERT_EQ(list.close(), 0);
  touch("f", 1000000000);
  EXPECT_EQ(verify(), (std::vector<int>{0, 1}));
  write("g", "restored");
  touch("g", 1000000000);
  EXPECT_EQ(verify(), (std::vector<int>{1, 0}));
}

// The bits follow entry positions: an edited list trusts none of them.
TEST_F(record, recordOfOtherEntryLinesIsNotTrusted) {
  write("list.sfv", listOf(3));
  verify();
  std::string content = read("list.sfv");
  write("list.sfv", "f 0000000F\n" + content);
  EXPECT_EQ(verify(), all(4, 0));
  EXPECT_EQ(verify(), all(4, 1));
}

TEST_F(record, touchedFileRewritesRecord) {
  write("g", "other");
  touch("g", 1000000000);
  write("list.sfv", "f 00000001\ng 00000002\nf 00000001\n");
  verify();
  std::vector<std::string> first = recordLines();
  unsigned long long written = timeOf(first[1].substr(4));
  touch("g", static_cast<long long>(container::secondsFromTicks(written)) + 60);
  EXPECT_EQ(verify(), (std::vector<int>{1, 0, 1}));
  std::vector<std::string> second = recordLines();
  ASSERT_EQ(second.size(), 3u);
  EXPECT_EQ(second[0], first[0]);
  EXPECT_GT(timeOf(second[1].substr(4)), written);
  EXPECT_EQ(second[2], ";R2-4A==");  // all three verified again
  EXPECT_EQ(read("list.sfv").rfind("f 00000001\ng 00000002\nf 00000001\n;R2-", 0), 0u);
}

TEST_F(record, foreignAndVoidRecordsAreReplaced) {
  configure("signature=mine\n");
  unsigned long long now = settle();
  const std::vector<unsigned char> bits = {0xFF, 0xC0};
  struct {
    const char* name;
    std::string before;
  } cases[] = {
      {"foreign", recordOf("theirs", now, bits)},
      {"case differs", recordOf("MINE", now, bits)},
      {"void marker", ";R0-\n" + recordOf("mine", now, bits)},
      {"carriage returns", ";R2-mine\r\n;R2-" + timeText(now) + "\r\n;R2-/8A=\r\n"},
  };
  for (const auto& c : cases) {
    write("list.sfv", listOf(10) + "\n\n" + c.before);
    EXPECT_EQ(verify(), all(10, 0)) << c.name;
    std::vector<std::string> lines = recordLines();
    ASSERT_EQ(lines.size(), 3u) << c.name;
    EXPECT_EQ(lines[0], ";R2-mine") << c.name;
    EXPECT_EQ(lines[2], ";R2-/8A=") << c.name;
    // Blank lines before the record are overwritten with it.
    EXPECT_EQ(read("list.sfv").rfind(listOf(10) + ";R2-mine\n", 0), 0u) << c.name;
  }
}

TEST_F(record, expiryAndUnknownFormats) {
  unsigned long long now = settle();
  const std::vector<unsigned char> bits = {0xFF, 0xC0};
  struct {
    const char* settings;
    std::string before;
    int answer;
  } cases[] = {
      // A record is trusted only for files older than itself, and every
      // file here is new: records not expired are as new as the files.
      {"expiretime=30d", recordOf("mine", now - 31 * ticksPerDay, bits), 0},
      {"expiretime=30d", recordOf("mine", now, bits), 1},
      {"expiretime=1 d", recordOf("mine", now, bits), 1},
      {"expiretime=720h1s", recordOf("mine", now - 31 * ticksPerDay, bits), 0},
      {"expiretime=30", recordOf("mine", now, bits), 1},
      {"", ";R7-unknown\n" + recordOf("mine", now, bits), 1},
      {"", ";R9-x\n;R1-mine\n;R1-/8A=\n", 1},
  };
  for (const auto& c : cases) {
    configure(std::string("signature=mine\n") + c.settings + "\n");
    write("list.sfv", listOf(10) + c.before);
    touch("list.sfv", container::secondsFromTicks(settle()) + 1);  // a format-1 record's time
    EXPECT_EQ(verify(), all(10, c.answer)) << c.settings << c.before;
  }
}

TEST_F(record, rewritesStartAtFirstRecordLine) {
  configure("signature=mine\n");
  unsigned long long now = settle();
  // A format-1 record is rewritten in format 2 although no bit changes.
  write("list.sfv", listOf(10) + ";R1-mine\n;R1-/8A=\n");
  touch("list.sfv", container::secondsFromTicks(settle()) + 1);
  EXPECT_EQ(verify(), all(10, 1));
  std::vector<std::string> lines = recordLines();
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0], ";R2-mine");
  EXPECT_EQ(lines[2], ";R2-/8A=");

  // Digit 7 is passed over when reading, but the rewrite starts there.
  write("list.sfv", listOf(10) + ";R7-unknown\n" + recordOf("mine", now, {0x7F, 0xC0}));
  EXPECT_EQ(verify(), (std::vector<int>{0, 1, 1, 1, 1, 1, 1, 1, 1, 1}));
  EXPECT_EQ(read("list.sfv").rfind(listOf(10) + ";R2-mine\n", 0), 0u);
  EXPECT_EQ(recordLines().size(), 3u);
}

TEST_F(record, linesAroundRecordSurviveRewrite) {
  configure("signature=mine\n");
  unsigned long long now = settle();
  // Entries behind an old record are kept (before the new one), and a last
  // line without its line feed does not swallow the record's first line.
  write("list.sfv", listOf(2) + recordOf("theirs", now, {0xC0}) + "; note\nf 00000001\nf 00000001");
  EXPECT_EQ(verify(), all(4, 0));
  EXPECT_EQ(read("list.sfv").rfind(listOf(2) + "; note\nf 00000001\nf 00000001\n;R2-mine\n", 0), 0u);
  EXPECT_EQ(recordLines().back(), ";R2-8A==");
  EXPECT_EQ(verify(), all(4, 1));

  // A long line is one line: no piece of it passes for a record line.
  std::string tricky = listOf(2) + std::string(511, 'x') + ";R2-theirs 00000001\n";
  write("list.sfv", tricky);
  EXPECT_EQ(verify(), all(2, 0));
  EXPECT_EQ(read("list.sfv").rfind(tricky + ";R2-mine\n", 0), 0u);
  EXPECT_EQ(verify(), all(2, 1));

  write("list.sfv", "f 00000001");
  EXPECT_EQ(verify(), all(1, 0));
  EXPECT_EQ(read("list.sfv").rfind("f 00000001\n;R2-mine\n", 0), 0u);
  EXPECT_EQ(verify(), all(1, 1));
}

TEST_F(record, updatedbControlsWrites) {
  struct {
    const char* value;
    bool writes;
  } cases[] = {{"false", false}, {"yes", false}, {"1", false}, {"TRUE", true}, {"true", true}};
  for (const auto& c : cases) {
    configure(std::string("signature=mine\nupdatedb=") + c.value + "\n");
    write("list.sfv", listOf(3));
    verify();
    EXPECT_EQ(read("list.sfv") != listOf(3), c.writes) << c.value;
  }
}

TEST_F(record, entriesBeyondTheBitmapAreAlwaysHashed) {
  const size_t count = 262200;
  write("list.sfv", listOf(count));
  EXPECT_EQ(verify(), all(count, 0));
  std::vector<std::string> lines = recordLines();
  ASSERT_EQ(lines.size(), 2u + 683u);  // 32768 bytes in lines of 48
  EXPECT_EQ(lines.back(), ";R2-" + std::string(42, '/') + "8=");  // the last 32 bytes
  std::string first = read("list.sfv");
  std::vector<int> expected = all(count, 1);
  std::fill(expected.begin() + 262144, expected.end(), 0);
  EXPECT_EQ(verify(), expected);
  EXPECT_EQ(read("list.sfv"), first);
}

TEST_F(record, noSignatureNoTrust) {
  configure("signature=mine\n");
  unsigned long long now = settle();
  std::string content = listOf(3) + recordOf("mine", now, {0xE0});
  // A HOME where no configuration can be kept: the signature cannot be made.
  write("home-file", "");
  setenv("HOME", path("home-file").c_str(), 1);
  config::reload(_etc.c_str());
  write("list.sfv", content);
  EXPECT_EQ(verify(), all(3, 0));
  EXPECT_EQ(read("list.sfv"), content);
  unsetenv("HOME");
  config::reload(_etc.c_str());
  EXPECT_EQ(verify(), all(3, 0));
  EXPECT_EQ(read("list.sfv"), content);
}

TEST_F(record, readOnlyFileIsVerifiedNotRewritten) {
  if (geteuid() == 0)
    GTEST_SKIP() << "root opens read-only files for writing; run as an ordinary user "
                    "(the containers_readonly test does so through setpriv)";
  configure("signature=mine\n");
  unsigned long long now = settle();
  std::string content = listOf(3) + recordOf("mine", now, {0xA0});
  write("list.sfv", content);
  ASSERT_EQ(chmod(path("list.sfv").c_str(), 0444), 0);
  EXPECT_EQ(verify(), (std::vector<int>{1, 0, 1}));  // the record is trusted
  EXPECT_EQ(read("list.sfv"), content);               // but never rewritten
  ASSERT_EQ(chmod(path("list.sfv").c_str(), 0), 0);
  sfv list;
  EXPECT_EQ(list.open(wide(path("list.sfv")).c_str()), -5);
  EXPECT_EQ(list.open(wide(path("missing.sfv")).c_str()), -4);
}

TEST_F(record, readOnlyMountIsVerifiedNotRewritten) {
  configure("signature=mine\n");
  unsigned long long now = settle();
  std::string content = listOf(3) + recordOf("mine", now, {0xA0});
  ASSERT_EQ(mkdir(path("ro").c_str(), 0755), 0);
  write("ro/list.sfv", content);
  std::string directory = path("ro");
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    // A mount namespace of its own, so the read-only view ends with the child.
    if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        mount(directory.c_str(), directory.c_str(), nullptr, MS_BIND, nullptr) != 0 ||
        mount(nullptr, directory.c_str(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) != 0)
      _exit(77);
    bool refused = access(path("ro/list.sfv").c_str(), W_OK) != 0 && errno == EROFS;
    std::vector<int> answers = verify([](size_t) { return true; }, "ro/list.sfv");
    bool kept = read("ro/list.sfv") == content;
    _exit(refused && kept && answers == std::vector<int>{1, 0, 1} && !HasFailure() ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  if (WEXITSTATUS(status) == 77) GTEST_SKIP() << "no read-only bind mount possible here";
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(read("ro/list.sfv"), content);
}

// The record keeps the identity of each entry's file after its binding
// line, 12 entries a line, as far as the entries went.
TEST_F(record, fingerprintsFollowTheBinding) {
  write("g", "other");
  touch("g", 1000000000);
  std::string entries;
  std::vector<std::string> names;
  for (int i = 0; i < 13; ++i) {
    names.push_back(i == 5 ? "g" : "f");
    entries += names.back() + " 00000001\n";
  }
  write("list.sfv", entries);
  verify();
  std::string content = read("list.sfv");
  std::vector<std::string> lines = fingerprintLines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], fingerprintLine(std::vector<std::string>(names.begin(), names.begin() + 12)));
  EXPECT_EQ(lines[1], fingerprintLine({"f"}));
  EXPECT_EQ(content.substr(content.find(";R3-")), bindingLine() + "\n" + lines[0] + "\n" + lines[1] + "\n");
  EXPECT_EQ(verify(), all(13, 1));
  EXPECT_EQ(read("list.sfv"), content);  // nothing changed, nothing written
}

// Renaming a parent directory, repointing a link on the path, replacing a
// file by a link to an older one: no time of the file itself changes, but
// another file stands at the entry's path.
TEST_F(record, anotherFileAtThePathIsNotTrusted) {
  ASSERT_EQ(mkdir(path("d1").c_str(), 0755), 0);
  ASSERT_EQ(mkdir(path("d2").c_str(), 0755), 0);
  ASSERT_EQ(mkdir(path("t1").c_str(), 0755), 0);
  ASSERT_EQ(mkdir(path("t2").c_str(), 0755), 0);
  for (const char* name : {"d1/x", "d2/x", "a", "older", "t1/y", "t2/y"}) {
    write(name, name);
    touch(name, 1000000000);
  }
  ASSERT_EQ(symlink("t1", path("via").c_str()), 0);
  write("list.sfv", "d1/x 00000001\nd2/x 00000002\na 00000003\nvia/y 00000004\nf 00000005\n");
  verify();
  EXPECT_EQ(verify(), all(5, 1));
  ASSERT_EQ(rename(path("d1").c_str(), path("t").c_str()), 0);
  ASSERT_EQ(rename(path("d2").c_str(), path("d1").c_str()), 0);
  ASSERT_EQ(rename(path("t").c_str(), path("d2").c_str()), 0);
  ASSERT_EQ(unlink(path("a").c_str()), 0);
  ASSERT_EQ(symlink("older", path("a").c_str()), 0);
  ASSERT_EQ(unlink(path("via").c_str()), 0);
  ASSERT_EQ(symlink("t2", path("via").c_str()), 0);
  EXPECT_EQ(verify(), (std::vector<int>{0, 0, 0, 0, 1}));
  // Found right when hashed (say), each is trusted as the file it now is.
  EXPECT_EQ(verify(), all(5, 1));
}

// A hashed entry is vouched for as the file that was opened, not as the
// one found at its path before.
TEST_F(record, hashedVerdictVouchesForTheFileOpened) {
  write("g", "other");
  touch("g", 1000000000);
  write("list.sfv", "f 00000001\nf 00000001\n");
  struct stat other;
  ASSERT_EQ(stat(path("g").c_str(), &other), 0);
  settle();
  sfv list;
  ASSERT_EQ(list.open(wide(path("list.sfv")).c_str()), 0);
  for (int i = 0; i < 2; ++i) {
    std::wstring full = nextPath(list);
    ASSERT_FALSE(full.empty());
    EXPECT_EQ(list.isPreviouslyVerified(full.data()), 0);
    struct stat opened;
    ASSERT_EQ(stat(path("f").c_str(), &opened), 0);
    ASSERT_EQ(list.setHashedVerdict(true, i == 0 ? opened : other), 0);
  }
  ASSERT_EQ(list.close(), 0);
  EXPECT_EQ(verify(), (std::vector<int>{1, 0}));

  // A file that could not be opened (no status), failing run after run,
  // leaves the list as it was.
  std::string before;
  for (int run = 0; run < 2; ++run) {
    before = read("list.sfv");
    settle();
    ASSERT_EQ(list.open(wide(path("list.sfv")).c_str()), 0);
    for (int i = 0; i < 2; ++i) {
      std::wstring full = nextPath(list);
      ASSERT_FALSE(full.empty());
      int answer = list.isPreviouslyVerified(full.data());
      struct stat none {};
      ASSERT_EQ(i == 0 ? list.setPreviouslyVerified(answer == 1) : list.setHashedVerdict(false, none), 0);
    }
    ASSERT_EQ(list.close(), 0);
  }
  EXPECT_EQ(read("list.sfv"), before);
}

// A record without fingerprints (as 3.00 writes it, or by hand) is trusted
// as it stands and gets them; fingerprints missing for some entries of a
// record that has them vouch for none of those.
TEST_F(record, recordsWithoutFingerprintsGetThem) {
  configure("signature=mine\n");
  unsigned long long now = settle();
  std::string entries = listOf(3);
  write("list.sfv", entries + recordOf("mine", now, {0xA0}));
  EXPECT_EQ(verify(), (std::vector<int>{1, 0, 1}));
  EXPECT_EQ(fingerprintLines(), std::vector<std::string>{fingerprintLine({"f", "f", "f"})});
  EXPECT_EQ(verify(), all(3, 1));

  write("list.sfv", entries + recordOf("mine", now, {0xE0}) + ";R4-" + fingerprintLine({"f"}).substr(4) + "\n");
  EXPECT_EQ(verify(), all(3, 1));  // not bound: no fingerprint line read
  std::string bound = read("list.sfv");
  std::string cut = bound.substr(0, bound.find(";R4-")) + fingerprintLine({"f"}) + "\n";
  write("list.sfv", cut);
  EXPECT_EQ(verify(), (std::vector<int>{1, 0, 0}));
  EXPECT_EQ(fingerprintLines(), std::vector<std::string>{fingerprintLine({"f", "f", "f"})});
}

// 3.00 read some lines as entries that are now invalid, or other entries:
// the bits of a record it wrote would fall on other entries, so such a
// record vouches for none. One written since (with fingerprints) was
// counted as entries are now, and is trusted.
TEST_F(record, recordCountedOtherwiseIsVoided) {
  configure("signature=mine\n");
  struct {
    const char* line;
    std::vector<int> answers, afterwards;
  } cases[] = {
      {"x zzzzzzzz", {0, 0}, {1, 1}},  // read as 0 before
      {"x 0x98DD4ACC", {0, 0}, {1, 1}},
      {"x 1234567890", {0, 0}, {1, 1}},
      {"Hello world!", {0, 0}, {1, 1}},  // an entry named Hello before
      {"x 1A2B3C4D ", {0, 0, 0}, {1, 0, 1}},  // named "x 1A2B3C4D" before
      {"x 1a2b3c4d\r", {1, 0, 1}, {1, 0, 1}},  // read alike; x is missing
      {"x 1A2B3C4D\t", {1, 0, 1}, {1, 0, 1}},
  };
  for (const auto& c : cases) {
    unsigned long long now = settle();
    std::string entries = std::string("f 00000001\n") + c.line + "\nf 00000001\n";
    write("list.sfv", entries + recordOf("mine", now, {0xE0}));
    EXPECT_EQ(verify(), c.answers) << c.line;
    EXPECT_EQ(verify(), c.afterwards) << c.line;
  }
}

// One object verifying one list after another: each record is bound to
// the directory its own entries were looked up in, and trusted there.
TEST_F(record, anObjectOpenedAgainBindsEachListToItsOwnDirectory) {
  const std::string folders[] = {"a", "b"};
  for (const std::string& folder : folders) {
    ASSERT_EQ(mkdir(path(folder).c_str(), 0755), 0);
    write(folder + "/f", "content");
    touch(folder + "/f", 1000000000);
    write(folder + "/list.sfv", listOf(1));
  }
  settle();
  auto run = [this](sfv& list, const std::string& folder) {
    EXPECT_EQ(list.open(wide(path(folder + "/list.sfv")).c_str()), 0);
    std::wstring entry = wide(path(folder + "/f"));
    wchar_t name[64];
    uint32_t crc;
    EXPECT_GT(list.getNextFile(name, 64, nullptr, &crc), 0);
    int answer = list.isPreviouslyVerified(entry.data());
    list.setPreviouslyVerified(true);
    EXPECT_EQ(list.close(), 0);
    return answer;
  };
  sfv reused;
  for (const std::string& folder : folders) EXPECT_EQ(run(reused, folder), 0) << folder;
  struct stat directory;
  ASSERT_EQ(stat(path("b").c_str(), &directory), 0);
  EXPECT_EQ(bindingLine("b/list.sfv").substr(36),
            "-" + std::to_string(directory.st_dev) + "-" + std::to_string(directory.st_ino));
  settle();
  sfv fresh;
  EXPECT_EQ(run(fresh, "b"), 1);
}

}  // namespace
