#include <zorvik/config.h>

#include <dirent.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/scratch_dir.h"
#include "util/config_line.h"

namespace {

const char* lookup(const char* key) { return (*config::instance())[key]; }

// Names in `directory` other than "." and "..".
std::vector<std::string> listDirectory(const std::string& directory) {
  std::vector<std::string> names;
  if (DIR* d = opendir(directory.c_str())) {
    while (dirent* e = readdir(d))
      if (strcmp(e->d_name, ".") != 0 && strcmp(e->d_name, "..") != 0) names.push_back(e->d_name);
    closedir(d);
  }
  return names;
}

struct lineCase {
  const char* line;
  const char* key;  // null: the line carries nothing
  const char* value;
};

TEST(ConfigLine, SplitsLinesAsTheFileFormatSays) {
  const lineCase cases[] = {
      {"key = value ; comment", "key", "value"},
      {"  spaced key  =   v  ", "spaced key", "v"},
      {"name = 'a;b' ; note", "name", "a;b"},
      {"name = \"a;b\" ; note", "name", "a;b"},
      {"x='it\\'s;here'", "x", "it\\'s;here"},
      {"x=\"it\\\"s;here\"", "x", "it\\\"s;here"},
      {"a='unterminated ; still", "a", "'unterminated ; still"},
      {"k=\\'q;r", "k", "\\'q"},
      {"k='a'b'", "k", "a'b"},
      {"k=''", "k", ""},
      {"k='", "k", ""},
      {"k=\"", "k", ""},
      {"k=", "k", ""},
      {"=v", "", "v"},
      {"k==v", "k", "=v"},
      {"k = v = w", "k", "v = w"},
      {"#k=v", "#k", "v"},
      {"key=val\xC3\xA9", "key", "val"},
      {"\tk\r=\x01v\x7F\r", "k", "v\x7F"},
  };
  for (const lineCase& c : cases) {
    SCOPED_TRACE(c.line);
    std::string text = std::string(c.line) + "\n";
    FILE* file = fmemopen(text.data(), text.size(), "r");
    ASSERT_NE(file, nullptr);
    char buffer[configLineSize];
    ASSERT_EQ(get_config_line(buffer, file), buffer);
    char* value = nullptr;
    char* key = get_key_value(buffer, &value);
    ASSERT_NE(key, nullptr);
    EXPECT_STREQ(key, c.key);
    EXPECT_STREQ(value, c.value);
    EXPECT_EQ(get_config_line(buffer, file), nullptr);
    fclose(file);
  }
}

TEST(ConfigLine, SkipsLinesWithoutContentAndSplitsLongOnes) {
  std::string text = ";only a comment\n\n   \t\n  ; indented comment\nno equals sign\n" +
                     std::string(1500, 'x') + "=1\n";
  FILE* file = fmemopen(text.data(), text.size(), "r");
  ASSERT_NE(file, nullptr);
  char buffer[configLineSize];
  ASSERT_NE(get_config_line(buffer, file), nullptr);
  EXPECT_STREQ(buffer, "no equals sign");
  char* value = nullptr;
  EXPECT_EQ(get_key_value(buffer, &value), nullptr);
  EXPECT_EQ(value, nullptr);
  ASSERT_NE(get_config_line(buffer, file), nullptr);
  EXPECT_EQ(std::string(buffer), std::string(1023, 'x'));
  ASSERT_NE(get_config_line(buffer, file), nullptr);
  EXPECT_EQ(std::string(buffer), std::string(477, 'x') + "=1");
  EXPECT_EQ(get_config_line(buffer, file), nullptr);
  fclose(file);
}

TEST(Config, UserFileOverridesSystemFileKeyByKey) {
  scratchDir scratch;
  scratch.writeSystem("shared=system\nonlySystem=s\nSignature=old\n");
  scratch.writeUser("shared = user\nonlyUser=u\nsignature=one\nSIGNATURE=two\n");
  EXPECT_STREQ(lookup("shared"), "user");
  EXPECT_STREQ(lookup("onlySystem"), "s");
  EXPECT_STREQ(lookup("onlyUser"), "u");
  for (const char* key : {"signature", "Signature", "SIGNATURE"}) EXPECT_STREQ(lookup(key), "two");
  // The key keeps the letter case of the line that set it last.
  EXPECT_STREQ((*config::instance())["signature"]._name, "SIGNATURE");
  EXPECT_EQ(lookup("missing"), nullptr);
}

TEST(Config, MissingFilesGiveAnEmptyStore) {
  scratchDir scratch;
  config_value& missing = (*config::instance())["anything"];
  EXPECT_EQ(static_cast<const char*>(missing), nullptr);
  EXPECT_EQ(static_cast<unsigned long long>(missing), 0u);
  EXPECT_FALSE(static_cast<bool>(missing));
}

TEST(Config, WithoutHomeReadsOnlyTheSystemFileAndCannotSet) {
  scratchDir scratch;
  scratch.writeSystem("k=system\n");
  scratch.writeUser("k=user\n");
  for (bool unset : {true, false}) {
    SCOPED_TRACE(unset ? "HOME unset" : "HOME empty");
    if (unset) unsetenv("HOME");
    else setenv("HOME", "", 1);
    scratch.reload();
    EXPECT_STREQ(lookup("k"), "system");
    EXPECT_FALSE(config::instance()->set("k", "new"));
    EXPECT_STREQ(lookup("k"), "system");
  }
  EXPECT_EQ(scratchDir::read(scratch.userFile()), "k=user\n");
}

TEST(Config, OverlongHomeLeavesTheStoreEmpty) {
  scratchDir scratch;
  scratch.writeSystem("k=system\n");
  std::string home = "/" + std::string(989, 'h');
  setenv("HOME", home.c_str(), 1);
  scratch.reload();
  EXPECT_EQ(lookup("k"), nullptr);
  EXPECT_FALSE(config::instance()->set("k", "v"));
}

TEST(ConfigSet, CreatesTheUserFileHonouringUmask) {
  for (mode_t mask : {022, 077}) {
    scratchDir scratch;
    mode_t old = umask(mask);
    bool ok = config::instance()->set("Signature", "c2lnbmF0dXJl");
    umask(old);
    ASSERT_TRUE(ok);
    EXPECT_EQ(scratchDir::read(scratch.userFile()), "Signature=c2lnbmF0dXJl\n");
    EXPECT_STREQ(lookup("signature"), "c2lnbmF0dXJl");
    struct stat status;
    ASSERT_EQ(stat(scratch.userFile().c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0666 & ~mask);
    ASSERT_EQ(stat(scratch.userDir().c_str(), &status), 0);
    EXPECT_TRUE(S_ISDIR(status.st_mode));
    scratch.reload();
    EXPECT_STREQ(lookup("SIGNATURE"), "c2lnbmF0dXJl");
  }
}

TEST(ConfigSet, RewritesCleanedLinesKeepingEverySetting) {
  scratchDir scratch;
  scratch.writeUser(
      "; my settings\n"
      "\n"
      "  updatedb = true ; keep\n"
      "signature=first\n"
      "name='a;b'\n"
      "no equals\n"
      "SIGNATURE = second\n"
      "expiretime=30\n");
  chmod(scratch.userFile().c_str(), 0640);
  EXPECT_STREQ(lookup("signature"), "second");
  ASSERT_TRUE(config::instance()->set("Signature", "new"));
  EXPECT_EQ(scratchDir::read(scratch.userFile()),
            "updatedb = true\n"
            "Signature=new\n"
            "name='a;b'\n"
            "no equals\n"
            "expiretime=30\n");
  EXPECT_STREQ(lookup("signature"), "new");
  // The entry keeps the name it was read with.
  EXPECT_STREQ((*config::instance())["signature"]._name, "SIGNATURE");
  struct stat status;
  ASSERT_EQ(stat(scratch.userFile().c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 07777, 0640u);
  EXPECT_EQ(listDirectory(scratch.userDir()), std::vector<std::string>{"zorvik.conf"});

  scratch.reload();
  EXPECT_TRUE(static_cast<bool>((*config::instance())["updatedb"]));
  EXPECT_STREQ(lookup("name"), "a;b");
  EXPECT_EQ(static_cast<unsigned long long>((*config::instance())["expiretime"]), 30u);
}

TEST(ConfigSet, ValuesReadBackCleaned) {
  scratchDir scratch;
  ASSERT_TRUE(config::instance()->set("a", "x;y"));
  EXPECT_EQ(scratchDir::read(scratch.userFile()), "a=x;y\n");
  // The next rewrite keeps the line only in its cleaned form.
  ASSERT_TRUE(config::instance()->set("b", "z  "));
  EXPECT_EQ(scratchDir::read(scratch.userFile()), "a=x\nb=z  \n");
  scratch.reload();
  EXPECT_STREQ(lookup("a"), "x");
  EXPECT_STREQ(lookup("b"), "z");
}

TEST(ConfigSet, NewValueStandsOverTheSystemFile) {
  scratchDir scratch;
  scratch.writeSystem("signature=system\n");
  ASSERT_TRUE(config::instance()->set("Signature", "user"));
  EXPECT_STREQ(lookup("signature"), "user");
  scratch.reload();
  EXPECT_STREQ(lookup("signature"), "user");
}

// A user file linked into a dotfiles repository stays a link; the setting
// lands in the link's target, which a dangling link creates.
TEST(ConfigSet, KeepsTheUserFileALink) {
  const struct {
    const char* link;    // empty: the target's absolute path
    const char* before;  // null: no target yet
  } cases[] = {{"", "other=1\n"}, {"../../dotfiles/zorvik.conf", nullptr}};
  for (const auto& c : cases) {
    scratchDir scratch;
    const std::string dotfiles = scratch.home() + "/dotfiles/";
    const std::string target = dotfiles + "zorvik.conf";
    const std::string link = *c.link != '\0' ? c.link : target;
    SCOPED_TRACE(link);
    mkdir(dotfiles.c_str(), 0755);
    scratch.writeUser("");
    unlink(scratch.userFile().c_str());
    ASSERT_EQ(symlink(link.c_str(), scratch.userFile().c_str()), 0);
    if (c.before != nullptr) scratchDir::write(target, c.before);
    scratch.reload();

    ASSERT_TRUE(config::instance()->set("Signature", "new"));
    char text[256] = {};
    ASSERT_GT(readlink(scratch.userFile().c_str(), text, sizeof text - 1), 0);
    EXPECT_EQ(text, link);
    EXPECT_EQ(scratchDir::read(target), std::string(c.before ? c.before : "") + "Signature=new\n");
    EXPECT_EQ(listDirectory(dotfiles), std::vector<std::string>{"zorvik.conf"});
  }
  // A loop cannot be followed: nothing is written.
  scratchDir scratch;
  scratch.writeUser("");
  unlink(scratch.userFile().c_str());
  ASSERT_EQ(symlink("zorvik.conf", scratch.userFile().c_str()), 0);
  EXPECT_FALSE(config::instance()->set("Signature", "new"));
  EXPECT_EQ(listDirectory(scratch.userDir()), std::vector<std::string>{"zorvik.conf"});
}

// Reading or writing fails half way: the user's file must stay as it was and
// no temporary file may be left behind.
TEST(ConfigSet, FailureKeepsTheUserFile) {
  scratchDir scratch;
  std::string original;
  for (int i = 0; i < 40; ++i) original += "key" + std::to_string(i) + "=some value\n";
  scratch.writeUser(original);

  struct rlimit oldLimit;
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &oldLimit), 0);
  struct rlimit limit = oldLimit;
  limit.rlim_cur = 100;
  sighandler_t oldHandler = signal(SIGXFSZ, SIG_IGN);
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
  bool ok = config::instance()->set("key3", "changed");
  setrlimit(RLIMIT_FSIZE, &oldLimit);
  signal(SIGXFSZ, oldHandler);

  EXPECT_FALSE(ok);
  EXPECT_EQ(scratchDir::read(scratch.userFile()), original);
  EXPECT_EQ(listDirectory(scratch.userDir()), std::vector<std::string>{"zorvik.conf"});
  EXPECT_STREQ(lookup("key3"), "some value");

  // A user "file" that cannot be read.
  unlink(scratch.userFile().c_str());
  mkdir(scratch.userFile().c_str(), 0755);
  EXPECT_FALSE(config::instance()->set("k", "v"));
  EXPECT_EQ(listDirectory(scratch.userDir()), std::vector<std::string>{"zorvik.conf"});

  // The configuration directory cannot be created.
  scratchDir blocked;
  scratchDir::write(blocked.home() + "/.config", "a file");
  EXPECT_FALSE(config::instance()->set("k", "v"));
}

TEST(ConfigSet, FailsWithoutPermission) {
  if (geteuid() == 0) GTEST_SKIP() << "permissions do not bind root";
  scratchDir scratch;
  scratch.writeUser("a=1\n");
  chmod(scratch.userDir().c_str(), 0555);
  EXPECT_FALSE(config::instance()->set("a", "2"));
  chmod(scratch.userDir().c_str(), 0755);
  EXPECT_EQ(scratchDir::read(scratch.userFile()), "a=1\n");

  chmod(scratch.userFile().c_str(), 0200);
  EXPECT_FALSE(config::instance()->set("b", "2"));
  chmod(scratch.userFile().c_str(), 0644);
  EXPECT_EQ(scratchDir::read(scratch.userFile()), "a=1\n");
  EXPECT_EQ(listDirectory(scratch.userDir()), std::vector<std::string>{"zorvik.conf"});
}

// Two first runs at once with one HOME: one Signature line, nothing else lost.
TEST(ConfigSet, ConcurrentProcessesLeaveOneSetting) {
  scratchDir scratch;
  for (int round = 0; round < 20; ++round) {
    scratch.writeUser("updatedb=true\nexpiretime=7\n");
    pid_t children[2];
    for (int i = 0; i < 2; ++i) {
      children[i] = fork();
      ASSERT_GE(children[i], 0);
      if (children[i] == 0) {
        config::reload(scratch.system().c_str());
        _exit(config::instance()->set("Signature", i == 0 ? "AAAA" : "BBBB") ? 0 : 1);
      }
    }
    for (pid_t child : children) {
      int status = 0;
      ASSERT_EQ(waitpid(child, &status, 0), child);
      EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    std::string text = scratchDir::read(scratch.userFile());
    EXPECT_TRUE(text == "updatedb=true\nexpiretime=7\nSignature=AAAA\n" ||
                text == "updatedb=true\nexpiretime=7\nSignature=BBBB\n")
        << text;
    EXPECT_EQ(listDirectory(scratch.userDir()).size(), 1u);
  }
}

TEST(ConfigValue, ConvertsLeadingDigitsTo64Bits) {
  const struct {
    const char* text;
    unsigned long long number;
    bool range;
  } cases[] = {
      {"18446744073709551615", 18446744073709551615ull, false},
      {"18446744073709551616", 0, true},
      {"18446744073709551620", 0, true},
      {"30000000000000000000", 0, true},
      {"184467440737095516150", 0, true},
      {"0018446744073709551615", 18446744073709551615ull, false},
      {"42abc", 42, false},
      {"7 8", 7, false},
      {"abc", 0, false},
      {"", 0, false},
      {" 5", 0, false},
      {"-5", 0, false},
      {"+5", 0, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    config_value value("k", c.text);
    errno = 0;
    EXPECT_EQ(static_cast<unsigned long long>(value), c.number);
    EXPECT_EQ(errno, c.range ? ERANGE : 0);
  }
}

TEST(ConfigValue, OnlyTrueIsTrue) {
  for (const char* text : {"true", "TRUE", "True", "tRuE"})
    EXPECT_TRUE(static_cast<bool>(config_value("k", text))) << text;
  for (const char* text : {"1", "yes", "on", "", "true ", "truee", "false"})
    EXPECT_FALSE(static_cast<bool>(config_value("k", text))) << text;
  EXPECT_FALSE(static_cast<bool>(config_value("k", nullptr)));
}

}  // namespace
