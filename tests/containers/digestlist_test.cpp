#include <ftw.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include "scratch.h"

using namespace std::string_literals;

namespace {

// Engine ids.
enum { crc32Id = 0, md5Id = 1, sha1Id = 2, sha256Id = 3, sha512Id = 4, blake2bId = 5, xxh64Id = 6, xxh128Id = 7 };

// Each algorithm with a list: its BSD tag, OpenSSL's names, the digest of
// no bytes as the peer tools print it, and the tool that writes its lists.
struct algorithm_case {
  int id;
  std::string tag;
  std::vector<std::string> openssl;
  std::string empty;
  std::string tool;  // a command that prints GNU lines; "" for none here
};

const algorithm_case algorithms[] = {
    {md5Id, "MD5", {}, "d41d8cd98f00b204e9800998ecf8427e", "md5sum"},
    {sha1Id, "SHA1", {"SHA1"}, "da39a3ee5e6b4b0d3255bfef95601890afd80709", "sha1sum"},
    {sha256Id, "SHA256", {"SHA256", "SHA2-256"},
     "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855", "sha256sum"},
    {sha512Id, "SHA512", {"SHA512", "SHA2-512"},
     "cf83e1357eefb8bdf1542850d66d8007d620e4050b5715dc83f4a921d36ce9ce"
     "47d0d13c5d85f2b0ff8318d2877eec2f63b931bd47417a81a538327af927da3e", "sha512sum"},
    {blake2bId, "BLAKE2b", {"BLAKE2b512", "BLAKE2B-512"},
     "786a02f742015903c6c6fd852552d272912f4740e15847618a86e217f71f5419"
     "d25e1031afee585313896444934eb04b903a685b1448b755d56f701afe9be2ce", "b2sum"},
    {xxh64Id, "XXH64", {}, "ef46db3751d8e999", "xxhsum -H64"},
    {xxh128Id, "XXH128", {}, "99aa06d3014798d86001c324468d497f", "xxhsum -H2"},
};

std::string upper(std::string text) {
  for (char& c : text) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
  return text;
}

std::string bytesOf(const std::string& hex) {
  std::string bytes;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) bytes += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
  return bytes;
}

// `pattern` with {D} as `digits` and {T} as `tag`.
std::string expand(std::string pattern, const std::string& digits, const std::string& tag) {
  for (size_t at; (at = pattern.find("{D}")) != std::string::npos;) pattern.replace(at, 3, digits);
  for (size_t at; (at = pattern.find("{T}")) != std::string::npos;) pattern.replace(at, 3, tag);
  return pattern;
}

// Standard output of `command` run by the shell; its exit status in `*status`.
std::string run(const std::string& command, int* status = nullptr) {
  std::string out;
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return out;
  char chunk[4096];
  size_t got;
  while ((got = fread(chunk, 1, sizeof chunk, pipe)) > 0) out.append(chunk, got);
  int result = pclose(pipe);
  if (status != nullptr) *status = WIFEXITED(result) ? WEXITSTATUS(result) : -1;
  return out;
}

bool have(const std::string& tool) {
  int status;
  run("command -v " + tool.substr(0, tool.find(' ')) + " >/dev/null", &status);
  return status == 0;
}

class digestList : public scratch {
protected:
  struct read_entry {
    int result;
    std::string name;
    std::string digest;  // the bytes
    bool operator==(const read_entry& other) const {
      return result == other.result && name == other.name && digest == other.digest;
    }
  };

  // Every entry of the list at `name`, read as the program reads it.
  std::vector<read_entry> entriesAt(int algorithm, const std::string& name) {
    digestlist list(algorithm);
    EXPECT_EQ(list.algorithm(), algorithm);
    EXPECT_EQ(list.open(wide(path(name)).c_str()), 0);
    std::vector<read_entry> entries;
    for (;;) {
      wchar_t entry[512];
      unsigned long long size = 0;
      unsigned char hash[64] = {};
      int result = list.getNextFile(entry, 512, &size, hash);
      if (result == 0 || (result < 0 && result != -6)) break;
      EXPECT_EQ(size, ~0ULL);
      EXPECT_EQ(list.isPreviouslyVerified(entry), 0);
      EXPECT_EQ(list.setPreviouslyVerified(true), 0);
      entries.push_back({result, result > 0 ? narrow(entry) : "",
                         result > 0 ? std::string(reinterpret_cast<char*>(hash), sizeOf(algorithm)) : ""});
    }
    EXPECT_EQ(list.close(), 0);
    return entries;
  }

  std::vector<read_entry> entriesOf(int algorithm, const std::string& content) {
    write("list", content);
    return entriesAt(algorithm, "list");
  }

  static size_t sizeOf(int algorithm) {
    for (const auto& a : algorithms)
      if (a.id == algorithm) return a.empty.size() / 2;
    return 0;
  }

  // Writes a list of `entries` (names and digest bytes) at `name`.
  void writeList(int algorithm, const std::string& name,
                 const std::vector<std::pair<std::string, std::string>>& entries) {
    digestlist list(algorithm);
    ASSERT_EQ(list.create(wide(path(name)).c_str()), 0);
    for (const auto& e : entries) ASSERT_EQ(list.addFile(wide(e.first).c_str(), e.second.data()), 0);
    ASSERT_EQ(list.close(), 0);
  }

  void removeFiles() {
    nftw(path("files").c_str(), [](const char* p, const struct stat*, int, struct FTW*) { return remove(p); },
         16, FTW_DEPTH | FTW_PHYS);
  }

  // Files in directory "files", named as given, each with content of its own;
  // their digests by `tool`, which reads each from standard input.
  std::vector<std::pair<std::string, std::string>> makeFiles(const std::vector<std::string>& names,
                                                             const std::string& tool, size_t size) {
    mkdir(path("files").c_str(), 0755);
    std::vector<std::pair<std::string, std::string>> files;
    for (size_t i = 0; i < names.size(); ++i) {
      std::string content = "content " + std::to_string(i) + "\n";
      write("files/" + names[i], content);
      write("input", content);
      std::string digits = run(tool + " < '" + path("input") + "' 2>/dev/null").substr(0, 2 * size);
      EXPECT_EQ(digits.size(), 2 * size) << tool;
      files.push_back({names[i], bytesOf(digits)});
    }
    return files;
  }
};

TEST_F(digestList, lineGrammar) {
  struct grammar_case {
    std::string line;  // {D}: the digits of the empty digest, {T}: a tag
    int result;        // 0: the length of the line as written
    std::string name;
  };
  const grammar_case cases[] = {
      {"{D}  name", 0, "name"},
      {"{D} *name", 0, "name"},
      {"{D}   spaced", 0, " spaced"},
      {"{D}  *star", 0, "*star"},
      {"{D}  crlf\r", 0, "crlf"},
      {"{D}  cr\rinside", 0, "cr\rinside"},
      {"{D}  ", 0, ""},
      {"{D}  \xc3\xa9t\xc3\xa9 \xff", 0, "\xc3\xa9t\xc3\xa9 \xff"},
      {"{D}  back\\slash", 0, "back\\slash"},
      {"\\{D}  a\\\\b\\nc\\rd", 0, "a\\b\nc\rd"},
      {"{T} (tagged name) = {D}", 0, "tagged name"},
      {"{T}   (padded) = {D}", 0, "padded"},
      {"{T}(tight) = {D}", 0, "tight"},
      {"{T} (f() = (x)) = ) = {D}", 0, "f() = (x)) = "},
      {"{T} () = {D}", 0, ""},
      {"\\{T} (x\\ny\\\\) = {D}", 0, "x\ny\\"},
      {"{T} (crlf) = {D}\r", 0, "crlf"},
      // Invalid lines.
      {"{D}0  long", -6, ""},
      {"{D}\t*tab", -6, ""},
      {"{D} -dash", -6, ""},
      {"{D}", -6, ""},
      {"{D} ", -6, ""},
      {"g{D}  bad", -6, ""},
      {"\\{D}  tab\\t", -6, ""},
      {"\\{D}  end\\", -6, ""},
      {"{D}  nul\0cut"s, -6, ""},
      {"{T} (x) = {D} ", -6, ""},
      {"{T} x) = {D}", -6, ""},
      {"{T} (x) = {D}0", -6, ""},
      {"{T} (x) = g{D}", -6, ""},
      {"{T}-1 (x) = {D}", -6, ""},
      {"MD4 (x) = {D}", -6, ""},
      {"; not a comment here", -6, ""},
      {" {D}  indented", -6, ""},
  };
  for (size_t i = 0; i < std::size(algorithms); ++i) {
    const algorithm_case& a = algorithms[i];
    std::vector<grammar_case> all(std::begin(cases), std::end(cases));
    for (const std::string& name : a.openssl) all.push_back({name + "(x y)= {D}", 0, "x y"});
    // Another algorithm's tag, with digits of this one's length.
    const algorithm_case& other = algorithms[(i + 1) % std::size(algorithms)];
    all.push_back({other.tag + " (x) = {D}", -6, ""});
    if (!other.openssl.empty()) all.push_back({other.openssl.back() + "(x)= {D}", -6, ""});
    for (const grammar_case& c : all) {
      // Each case once with the digits as printed, once in upper case.
      for (const std::string& digits : {a.empty, upper(a.empty)}) {
        std::string line = expand(c.line, digits, a.tag);
        std::vector<read_entry> entries = entriesOf(a.id, "# comment\n\n\r\n" + line + "\n" + a.empty + "  last\n");
        std::string where = a.tag + ": " + line;
        ASSERT_EQ(entries.size(), 2u) << where;
        EXPECT_EQ(entries[0].result, c.result == 0 ? static_cast<int>(line.size()) : c.result) << where;
        EXPECT_EQ(entries[0].name, c.name) << where;
        if (c.result == 0) {
          EXPECT_EQ(entries[0].digest, bytesOf(a.empty)) << where;
        }
        EXPECT_EQ(entries[1].name, "last") << where;
      }
    }
  }
}

// Names that need care in a line, each once in every list.
const std::vector<std::string> awkwardNames = {
    "plain", "with blank", " lead and trail ", "*star", "#hash", "-dash", ";semicolon",
    "back\\slash", "new\nline", "cr\r", "mid\rcr", "\\n", "\xc3\xa9t\xc3\xa9", "\xff\x80\x01",
    "f() = (x)",
};

TEST_F(digestList, writesLinesAsThePeerToolsDo) {
  const std::string d64(64, 'a'), d16(16, 'a');
  const std::string digest32 = bytesOf(d64), digest8 = bytesOf(d16);
  struct {
    int algorithm;
    std::string name;
    std::string line;
  } cases[] = {
      // sha256sum escapes names with a backslash, a line feed or a carriage return.
      {sha256Id, "plain name", d64 + "  plain name\n"},
      {sha256Id, "*star", d64 + "  *star\n"},
      {sha256Id, "back\\slash", "\\" + d64 + "  back\\\\slash\n"},
      {sha256Id, "new\nline\r", "\\" + d64 + "  new\\nline\\r\n"},
      // xxhsum reads no escapes: only names that cannot stand in a line are.
      {xxh64Id, "plain name", d16 + "  plain name\n"},
      {xxh64Id, "back\\slash", d16 + "  back\\slash\n"},
      {xxh64Id, "new\nline\\", "\\" + d16 + "  new\\nline\\\\\n"},
  };
  for (const auto& c : cases) {
    writeList(c.algorithm, "list", {{c.name, c.algorithm == sha256Id ? digest32 : digest8}});
    EXPECT_EQ(read("list"), c.line);
  }
  // No header: a list of nothing is empty.
  writeList(sha1Id, "empty", {});
  EXPECT_EQ(read("empty"), "");
}

// Names with every byte that needs care, written and read back, and
// checked by the tool that writes such lists.
TEST_F(digestList, namesRoundTripAndPassThePeerCheck) {
  const std::vector<std::string> names = {
      "plain", "with blank", " lead and trail ", "*star", "#hash", "-dash", ";semicolon",
      "back\\slash", "new\nline", "cr\r", "mid\rcr", "\\n", "\xc3\xa9t\xc3\xa9", "\xff\x80\x01",
      "f() = (x)"};
  for (const auto& a : algorithms) {
    if (!have(a.tool)) {
      std::cout << "skipped: " << a.tool << " not found\n";
      continue;
    }
    bool xxhsum = a.tool.rfind("xxhsum", 0) == 0;
    std::vector<std::string> usable;
    for (const std::string& name : names)
      // xxhsum reads no escaped line, and a name with a line feed or a
      // carriage return can stand in no other.
      if (!xxhsum || name.find_first_of("\n\r") == std::string::npos) usable.push_back(name);
    auto files = makeFiles(usable, a.tool, sizeOf(a.id));
    writeList(a.id, "files/list", files);
    std::vector<read_entry> back = entriesAt(a.id, "files/list");
    ASSERT_EQ(back.size(), files.size()) << a.tag;
    for (size_t i = 0; i < files.size(); ++i) {
      EXPECT_EQ(back[i].name, files[i].first) << a.tag;
      EXPECT_EQ(back[i].digest, files[i].second) << a.tag << " " << files[i].first;
    }
    int status;
    std::string checker = xxhsum ? "xxhsum" : a.tool;
    std::string out = run("cd '" + path("files") + "' && " + checker + " -c --strict list 2>&1", &status);
    EXPECT_EQ(status, 0) << a.tool << ":\n" << out;
    size_t verdicts = 0;
    for (size_t at = 0; (at = out.find(": OK\n", at)) != std::string::npos; ++at) ++verdicts;
    EXPECT_EQ(verdicts, files.size()) << a.tool << ":\n" << out;
    removeFiles();
  }
}

TEST_F(digestList, readsWhatThePeerToolsWrite) {
  struct {
    int algorithm;
    std::string command;  // run in the files' directory over all of them
    bool lineFeeds;       // whether it escapes names with a line feed
  } cases[] = {
      {sha1Id, "sha1sum", true},           {sha1Id, "sha1sum --tag", true},
      {sha256Id, "sha256sum", true},       {sha256Id, "sha256sum --tag", true},
      {sha512Id, "sha512sum", true},       {sha512Id, "sha512sum --tag", true},
      {blake2bId, "b2sum", true},          {blake2bId, "b2sum --tag", true},
      {xxh64Id, "xxhsum -H64", false},     {xxh64Id, "xxhsum -H64 --tag", false},
      {xxh128Id, "xxhsum -H2", false},     {xxh128Id, "xxhsum -H2 --tag", false},
      {sha256Id, "openssl dgst -sha256", false},
      {sha512Id, "openssl dgst -sha512", false},
      {sha1Id, "openssl dgst -sha1", false},
      {blake2bId, "openssl dgst -blake2b512", false},
  };
  // In the order of the shell's * in the C locale.
  std::vector<std::string> names = {"plain", "with blank", "back\\slash", "new\nline",
                                    "\xc3\xa9t\xc3\xa9", "f() = (x)", "*star"};
  std::sort(names.begin(), names.end());
  for (const auto& c : cases) {
    if (!have(c.command)) {
      std::cout << "skipped: " << c.command << " not found\n";
      continue;
    }
    std::vector<std::string> usable;
    for (const std::string& name : names)
      if (c.lineFeeds || name.find('\n') == std::string::npos) usable.push_back(name);
    std::string hasher = c.command.substr(0, c.command.find(" --tag"));
    auto files = makeFiles(usable, hasher.rfind("openssl", 0) == 0 ? hasher + " -r" : hasher, sizeOf(c.algorithm));
    int status;
    run("cd '" + path("files") + "' && LC_ALL=C " + c.command + " * > ../list 2>/dev/null", &status);
    ASSERT_EQ(status, 0) << c.command;
    std::vector<read_entry> entries = entriesAt(c.algorithm, "list");
    ASSERT_EQ(entries.size(), files.size()) << c.command << ":\n" << read("list");
    for (size_t i = 0; i < files.size(); ++i) {
      EXPECT_EQ(entries[i].name, files[i].first) << c.command;
      EXPECT_EQ(entries[i].digest, files[i].second) << c.command << ": " << files[i].first;
    }
    removeFiles();
  }
}

// A list signed with gpg --clearsign: the armor around it is no entry.
std::string clearSigned(const std::string& text, const std::string& eol) {
  std::string lines = "-----BEGIN PGP SIGNED MESSAGE-----\nHash: SHA256\nHash: SHA512\n\n" + text +
                      "-----BEGIN PGP SIGNATURE-----\n\niQEzBAEBCAAdFiEE0123456789abcdef\n=AbCd\n"
                      "-----END PGP SIGNATURE-----\n";
  std::string out;
  for (char c : lines) out += c == '\n' ? eol : std::string(1, c);
  return out;
}

TEST_F(digestList, clearSignedLists) {
  const auto& a = algorithms[2];  // SHA-256
  const std::string d = a.empty;
  const std::string inner = d + "  first\n- " + d + "  dashed\n- # dashed comment\n# comment\n- -dash\n" + d +
                            " *second\n";
  for (const std::string eol : {"\n", "\r\n"}) {
    std::vector<read_entry> entries = entriesOf(a.id, clearSigned(inner, eol) + d + "  appended" + eol);
    std::vector<std::string> names;
    for (const auto& e : entries) names.push_back(e.result > 0 ? e.name : std::to_string(e.result));
    // "- -dash" is the line "-dash": an invalid line.
    EXPECT_EQ(names, (std::vector<std::string>{"first", "dashed", "-6", "second", "appended"}))
        << (eol == "\n" ? "LF" : "CR LF");
  }
  // The header counts only before everything else; later it is an invalid
  // line, and so is its Hash: line.
  std::vector<read_entry> late = entriesOf(a.id, "# c\n" + clearSigned(d + "  x\n", "\n"));
  ASSERT_GE(late.size(), 3u);
  EXPECT_EQ(late[0].result, -6);
  EXPECT_EQ(late[1].result, -6);
  EXPECT_EQ(late[3].name, "x");

  digestlist probe(a.id);
  write("signed", clearSigned("- " + d + "  x\n", "\n"));
  EXPECT_TRUE(probe.holdsEntries(wide(path("signed")).c_str()));
  write("signed", clearSigned("# only a comment\n", "\n"));
  EXPECT_FALSE(probe.holdsEntries(wide(path("signed")).c_str()));

  // MD5 lists alike, with their ";" comments.
  write("list.md5", clearSigned("; header\n" + algorithms[0].empty + " *in md5\n", "\n"));
  md5 list;
  ASSERT_EQ(list.open(wide(path("list.md5")).c_str()), 0);
  std::vector<entry> md5Entries = readEntries(list);
  ASSERT_EQ(md5Entries.size(), 1u);
  EXPECT_EQ(md5Entries[0].name, "in md5");
  EXPECT_EQ(list.close(), 0);
}

TEST_F(digestList, guessesTheTypeFromTheFirstEntry) {
  const std::string sha1 = algorithms[1].empty, sha256 = algorithms[2].empty,
                    sha512 = algorithms[3].empty, md5 = algorithms[0].empty,
                    xxh64 = algorithms[5].empty;
  struct {
    std::string content;
    int algorithm;
    bool byLength;
  } cases[] = {
      {sha1 + "  a\n", sha1Id, true},
      {sha256 + " *a\n", sha256Id, true},
      {upper(sha512) + "  a\n", sha512Id, true},
      {md5 + "  a\n", md5Id, true},
      {xxh64 + "  a\n", xxh64Id, true},
      {"\\" + sha256 + "  a\\nb\n", sha256Id, true},
      {"SHA1 (a) = " + sha1 + "\n", sha1Id, false},
      {"SHA256 (a) = " + sha256 + "\n", sha256Id, false},
      {"SHA512 (a) = " + sha512 + "\n", sha512Id, false},
      {"BLAKE2b (a) = " + sha512 + "\n", blake2bId, false},
      {"XXH64 (a) = " + xxh64 + "\n", xxh64Id, false},
      {"XXH128 (a) = " + md5 + "\n", xxh128Id, false},
      {"MD5   (a) = " + md5 + "\n", md5Id, false},
      {"\\XXH128 (a\\\\) = " + md5 + "\n", xxh128Id, false},
      {"SHA2-256(a)= " + sha256 + "\n", sha256Id, false},
      {"SHA256(a)= " + sha256 + "\n", sha256Id, false},
      {"BLAKE2B-512(a)= " + sha512 + "\n", blake2bId, false},
      {"BLAKE2b512(a)= " + sha512 + "\n", blake2bId, false},
      {"SHA1(a)= " + sha1 + "\r\n", sha1Id, false},
      // Comments, empty lines and a clear-signed header come first.
      {"# comment\n; comment\n\n\r\n" + sha1 + "  a\n", sha1Id, true},
      {clearSigned("XXH64 (a) = " + xxh64 + "\n", "\r\n"), xxh64Id, false},
      {clearSigned("- " + sha1 + "  a\n", "\n"), sha1Id, true},
      // The first entry decides.
      {sha1 + "  a\n" + sha256 + "  b\n", sha1Id, true},
      // SFV, and whatever has another shape.
      {"; Generated\nfile.txt CBF43926\n", -1, false},
      {"", -1, false},
      {"# nothing but comments\n", -1, false},
      {std::string(56, 'a') + "  sha224\n", -1, false},
      {"SHA256 (a) = " + sha1 + "\n", -1, false},
      {"SHA256 (a) = " + sha1.substr(1) + "g\n", -1, false},
      {"SHA224 (a) = " + std::string(56, 'a') + "\n", -1, false},
      {sha1 + "\t*a\n", -1, false},
      {sha1 + " a\n", -1, false},
      {"-----BEGIN PGP SIGNATURE-----\n" + sha1 + "  a\n", -1, false},
  };
  for (const auto& c : cases) {
    write("checksums.txt", c.content);
    int algorithm = 99;
    bool byLength = !c.byLength;
    EXPECT_EQ(container::guessType(wide(path("checksums.txt")).c_str(), &algorithm, &byLength), 0) << c.content;
    EXPECT_EQ(algorithm, c.algorithm) << c.content;
    EXPECT_EQ(byLength, c.byLength) << c.content;
  }
  int algorithm;
  bool byLength;
  EXPECT_EQ(container::guessType(wide(path("missing")).c_str(), &algorithm, &byLength), -4);
  // Nothing that is no regular file is read: it would be gone for the run.
  EXPECT_EQ(container::guessType(wide(_dir).c_str(), &algorithm, &byLength), 0);
  EXPECT_EQ(algorithm, -1);
  EXPECT_EQ(container::guessType(L"/dev/null", &algorithm, &byLength), 0);
  EXPECT_EQ(algorithm, -1);
}

TEST_F(digestList, updateAddsLinesAsTheListEnds) {
  const std::string d = algorithms[2].empty, n(64, '1');
  // The new name needs an escape, whatever the old lines are.
  const std::string added = "\\" + n + "  new\\\\x";
  const std::string signedList = clearSigned(d + "  old\n", "\n");
  struct {
    std::string old;
    std::string updated;
  } cases[] = {
      {"# by hand\r\n" + d + "  old\r\n", "# by hand\r\n" + d + "  old\r\n" + added + "\r\n"},
      {d + "  old", d + "  old\n" + added + "\n"},
      // Read again, lines after the signature are entries too.
      {signedList, signedList + added + "\n"},
  };
  for (const auto& c : cases) {
    write("SHA256SUMS", c.old);
    digestlist list(sha256Id);
    ASSERT_EQ(list.update(wide(path("SHA256SUMS")).c_str()), 0);
    EXPECT_TRUE(list.listed("old"));
    EXPECT_FALSE(list.listed("new\\x"));
    ASSERT_EQ(list.addFile(L"new\\x", bytesOf(n).data()), 0);
    ASSERT_EQ(list.close(), 0);
    EXPECT_EQ(read("SHA256SUMS"), c.updated);
    std::vector<read_entry> entries = entriesAt(sha256Id, "SHA256SUMS");
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[1].name, "new\\x");
    EXPECT_EQ(entries[1].digest, bytesOf(n));
  }
  // Without a list, update() says so and create() makes one.
  digestlist list(sha256Id);
  EXPECT_EQ(list.update(wide(path("none")).c_str()), -4);
  ASSERT_EQ(list.create(wide(path("none")).c_str()), 0);
  ASSERT_EQ(list.addFile(L"x", bytesOf(n).data()), 0);
  ASSERT_EQ(list.close(), 0);
  EXPECT_EQ(read("none"), n + "  x\n");
}

TEST_F(digestList, unknownAlgorithms) {
  for (int id : {static_cast<int>(crc32Id), -1, 8, 99}) {
    digestlist list(id);
    EXPECT_EQ(list.algorithm(), id);
    EXPECT_EQ(list.create(wide(path("l")).c_str()), -8);
    EXPECT_EQ(list.addFile(L"x", "0123456789abcdef"), -8);
    write("l", algorithms[0].empty + "  x\n");
    EXPECT_EQ(list.open(wide(path("l")).c_str()), -8);
    wchar_t name[64];
    unsigned long long size;
    unsigned char hash[64];
    EXPECT_EQ(list.getNextFile(name, 64, &size, hash), -8);
  }
  digestlist list(sha1Id);
  EXPECT_EQ(list.open(wide(path("missing")).c_str()), -4);
  EXPECT_EQ(list.close(), -2);
}

}  // namespace
