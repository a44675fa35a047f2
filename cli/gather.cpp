#include "gather.h"

#include <dirent.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <unordered_map>
#include <vector>

#include <zorvik/error.h>

#include "output.h"
#include "run.h"
#include "user_identity.h"

namespace {

struct file_key {
  dev_t device;
  ino_t inode;
  bool operator==(const file_key&) const = default;
};

struct file_key_hash {
  size_t operator()(const file_key& key) const {
    return std::hash<ino_t>()(key.inode) * 31 + std::hash<dev_t>()(key.device);
  }
};

// Splits `path` into the directory it names its last component in (into
// `directory`, of `room` bytes) and that last component.
const char* splitPath(const char* path, char* directory, size_t room) {
  const char* slash = strrchr(path, '/');
  size_t length = slash == nullptr ? 0 : slash == path ? 1 : static_cast<size_t>(slash - path);
  if (length == 0 || length >= room) {
    snprintf(directory, room, "%s", length == 0 ? "." : "");
  } else {
    memcpy(directory, path, length);
    directory[length] = '\0';
  }
  return slash == nullptr ? path : slash + 1;
}

// A file that a run killed outright left beside its list: the list's name,
// ".zorvik-partial-" and the six letters or digits that made it unique.
bool isLeftover(const char* path) {
  static const char mark[] = ".zorvik-partial-";
  const size_t markLength = sizeof mark - 1, unique = 6;
  const char* slash = strrchr(path, '/');
  const char* last = slash != nullptr ? slash + 1 : path;
  size_t length = strlen(last);
  if (length < 1 + markLength + unique) return false;
  const char* tail = last + length - unique;
  if (memcmp(tail - markLength, mark, markLength) != 0) return false;
  return std::all_of(tail, tail + unique, [](char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
  });
}

class gatherer {
public:
  gatherer(const run_settings& settings, const created_file& created, path_list& files,
           path_list& directories, file_sink& sink, list_sink* lists = nullptr)
      : _settings(settings), _created(created), _files(files), _directories(directories),
        _sink(sink), _lists(lists),
        _trustsEntryType(!settings.oneFileSystem &&
                         (lists != nullptr || (!sink.needsSizes() && (programIdentity().can_read_any() ||
                                                                      sink.checksAccess())))) {}

  int operand(const char* name);
  bool leftOut() const { return _leftOut; }

private:
  int walk(path_node* from);
  int entries(DIR* stream, size_t prefix);
  int sortedEntries(DIR* stream, size_t prefix);
  int entryNamed(const char* name, size_t prefix, unsigned char type, ino_t inode);
  int entry(const char* path, const struct stat& status);
  bool excluded(const char* path, const char* last) const;
  int excludedOperand(const char* name, bool* skip) const;
  int addDirectory(const char* path, const struct stat& status, path_node** added);
  int addFile(const char* path, const struct stat& status);
  int offer(const char* path, const struct stat& status);
  static path_node* newNode(const char* path, const struct stat& status);
  bool isCreated(const struct stat& status) const { return _created.is(status); }
  static int outOfMemory() {
    report("Out of memory\n");
    return error::unknown_error;
  }

  const run_settings& _settings;
  const created_file& _created;
  path_list& _files;
  path_list& _directories;
  file_sink& _sink;
  list_sink* _lists;  // searching for the lists to verify, not gathering files
  // Every directory accepted so far, to find the first path it was seen as;
  // the list itself would need a scan per directory met.
  std::unordered_map<file_key, const path_node*, file_key_hash> _seen;
  // Whether a regular file met in a walk is taken as its directory entry
  // shows it, without a stat of its own, where the entry's type and inode
  // tell all a stat would: no other file system is left out, and either a
  // search for lists (a list is judged when it is read), or a create run
  // showing no sizes by a user that may read every file, or whose sink
  // tells access itself. A stat is about half of gathering's time.
  const bool _trustsEntryType;
  // Whether the directory being read lets its entries be looked up: where
  // it does not, their stat says so, as it always did.
  bool _searchable = true;
  dev_t _walkedDevice = 0;  // of the directory being read
  // The directory being read, so that an entry is looked up by its last
  // name alone rather than down its whole path again.
  int _walkedFd = AT_FDCWD;
  bool _haveDevice = false;
  dev_t _device = 0;
  bool _leftOut = false;
  // Room for a directory's path, "/" and any name, so that an entry is
  // matched against the excludes before its length is judged.
  char _buffer[longestWalkPath + 2 + sizeof(dirent::d_name)];
};

int gatherer::operand(const char* name) {
  if (_lists == nullptr && strcmp(name, _settings.createName) == 0) return 0;
  if (_settings.excludeCount > 0) {
    bool skip = false;
    int result = excludedOperand(name, &skip);
    if (result != 0 || skip) return result;
  }
  struct stat status;
  if (stat(name, &status) != 0) {
    // The list itself, not there until the run ends, whatever the spelling.
    if (errno == ENOENT && _created.names(name)) return 0;
    report("Could not stat file: %s\n", name);
    _leftOut = true;
    return 0;
  }
  if (isCreated(status)) return 0;
  bool directory = S_ISDIR(status.st_mode);
  if (!_haveDevice && (directory || S_ISREG(status.st_mode))) {
    _haveDevice = true;
    _device = status.st_dev;
  }
  if (_settings.oneFileSystem && status.st_dev != _device) return 0;
  if (directory) {
    if (!_settings.recursive && _lists == nullptr) {
      report("Skipping directory %s: use -r to list its files\n", name);
      return 0;
    }
    path_node* added = nullptr;
    int result = addDirectory(name, status, &added);
    if (result != 0 || added == nullptr) return result;
    return walk(added);
  }
  if (S_ISREG(status.st_mode)) return addFile(name, status);
  return 0;
}

// A node for `path`, or null when memory for it or its path ran out.
path_node* gatherer::newNode(const char* path, const struct stat& status) {
  path_node* node = new path_node(path, status.st_dev, status.st_ino);
  if (node != nullptr && node->lostPath(path)) {
    delete node;
    return nullptr;
  }
  return node;
}

// Appends a directory not seen before to the directory list and hands back
// its node; one seen before is reported and left out (`*added` stays null).
int gatherer::addDirectory(const char* path, const struct stat& status, path_node** added) {
  auto seen = _seen.find(file_key{status.st_dev, status.st_ino});
  if (seen != _seen.end()) {
    say("%s was previously seen as %s\n", path, seen->second->path);
    return 0;
  }
  if (strlen(path) > longestWalkPath) {
    report("Path is too long\n");
    return error::path_error;
  }
  path_node* node = newNode(path, status);
  if (node == nullptr) return outOfMemory();
  try {
    _seen.emplace(file_key{status.st_dev, status.st_ino}, node);
  } catch (const std::bad_alloc&) {
    delete node;
    return outOfMemory();
  }
  _directories.append(node);
  *added = node;
  return 0;
}

int gatherer::addFile(const char* path, const struct stat& status) {
  if (_lists != nullptr) return _lists->wants(path) ? offer(path, status) : 0;
  if (isLeftover(path)) {
    report("Skipping leftover %s\n", path);
    return 0;
  }
  if (lookedAt(status) && !programIdentity().can_read(status)) {
    report("Access denied to %s\n", path);
    _leftOut = true;
    return 0;
  }
  // The hashing worker takes the path as wide text of limited room; a
  // longer one is refused here rather than hashed under a cut name.
  if (strlen(path) >= static_cast<size_t>(pathRoom)) {
    report("Path is too long\n");
    return error::path_error;
  }
  // A list that names a different file than the one hashed is worse than
  // no list.
  if (!_sink.listable(path)) {
    report("Cannot list %s in the checksum file\n", path);
    return error::path_error;
  }
  return offer(path, status);
}

// Tells the sink of a file taken, and keeps it when the sink lists it.
int gatherer::offer(const char* path, const struct stat& status) {
  path_node* node = newNode(path, status);
  if (node == nullptr) return outOfMemory();
  int verdict = _sink.found(*node, status);
  if (verdict == 0) {
    _files.append(node);
  } else {
    delete node;
  }
  return verdict < 0 ? verdict : 0;
}

int gatherer::walk(path_node* from) {
  for (path_node* directory = from; directory != nullptr; directory = directory->next) {
    if (_lists != nullptr && _lists->stopped()) return error::unknown_error;
    DIR* stream = opendir(directory->path);
    if (stream == nullptr) {
      if (errno == EACCES) {
        report("%s: Access denied\n", directory->path);
        _leftOut = true;
        continue;
      }
      const wchar_t* why = error::errno_message();
      report("Error reading directory %s: %ls\n", directory->path, why);
      return error::file_read_error;
    }
    _walkedDevice = directory->device;
    _walkedFd = dirfd(stream);
    _searchable = true;
    if (_trustsEntryType && _lists == nullptr && !programIdentity().can_read_any()) {
      struct stat status;
      _searchable = fstat(_walkedFd, &status) == 0 && programIdentity().can_search(status);
    }
    size_t prefix = strlen(directory->path);
    memcpy(_buffer, directory->path, prefix);
    _buffer[prefix++] = '/';
    int result = _settings.sorted ? sortedEntries(stream, prefix) : entries(stream, prefix);
    closedir(stream);
    _walkedFd = AT_FDCWD;
    if (result != 0) return result;
  }
  return 0;
}

bool isDots(const char* name) { return strcmp(name, ".") == 0 || strcmp(name, "..") == 0; }

int gatherer::entries(DIR* stream, size_t prefix) {
  while (dirent* found = readdir(stream)) {
    if (isDots(found->d_name)) continue;
    int result = entryNamed(found->d_name, prefix, found->d_type, found->d_ino);
    if (result != 0) return result;
  }
  return 0;
}

// The names of one directory are held until all are read, then taken in
// byte order, so that one tree gives one list on any file system.
int gatherer::sortedEntries(DIR* stream, size_t prefix) {
  // Each name follows its inode and type.
  constexpr size_t head = sizeof(ino_t) + 1;
  std::vector<char> names;
  std::vector<size_t> starts;
  try {
    while (dirent* found = readdir(stream)) {
      if (isDots(found->d_name)) continue;
      ino_t inode = found->d_ino;
      const char* bytes = reinterpret_cast<const char*>(&inode);
      names.insert(names.end(), bytes, bytes + sizeof inode);
      names.push_back(static_cast<char>(found->d_type));
      starts.push_back(names.size());
      names.insert(names.end(), found->d_name, found->d_name + strlen(found->d_name) + 1);
    }
  } catch (const std::bad_alloc&) {
    return outOfMemory();
  }
  const char* text = names.data();
  std::sort(starts.begin(), starts.end(),
            [text](size_t a, size_t b) { return strcmp(text + a, text + b) < 0; });
  for (size_t start : starts) {
    ino_t inode;
    memcpy(&inode, text + start - head, sizeof inode);
    int result = entryNamed(text + start, prefix, static_cast<unsigned char>(text[start - 1]), inode);
    if (result != 0) return result;
  }
  return 0;
}

// One entry of the directory whose path and "/" fill the buffer's first
// `prefix` bytes; `type` and `inode` as the directory gives them
// (DT_UNKNOWN: not given).
int gatherer::entryNamed(const char* name, size_t prefix, unsigned char type, ino_t inode) {
  size_t length = strlen(name);
  memcpy(_buffer + prefix, name, length + 1);
  if (excluded(_buffer, name)) return 0;
  // A search for lists looks only at files named as lists.
  if (_lists != nullptr && type == DT_REG && !_lists->wants(_buffer)) return 0;
  if (prefix + length > longestWalkPath) {
    report("Path is too long\n");
    return error::path_error;
  }
  struct stat status;
  if (_trustsEntryType && _searchable && type == DT_REG && !_created.mayBe(name, inode)) {
    memset(&status, 0, sizeof status);
    status.st_mode = S_IFREG;
    status.st_dev = _walkedDevice;
    status.st_ino = inode;
    status.st_size = -1;
    return addFile(_buffer, status);
  }
  if (fstatat(_walkedFd, name, &status, 0) != 0) {
    int failure = errno;
    report("Could not stat file %s: %ls\n", _buffer, error::message(error::from_errno(failure)));
    if (failure == ENOENT) return 0;
    // A search for lists goes on past what it cannot look at: the lists
    // found are still verified, and the run fails.
    if (_lists != nullptr) {
      _leftOut = true;
      return 0;
    }
    return error::from_errno(failure);
  }
  return entry(_buffer, status);
}

int gatherer::entry(const char* path, const struct stat& status) {
  if (isCreated(status)) return 0;
  if (_settings.oneFileSystem && status.st_dev != _device) return 0;
  if (S_ISDIR(status.st_mode)) {
    // A search without -r takes only what lies directly in its directory.
    if (_lists != nullptr && !_settings.recursive) return 0;
    path_node* added = nullptr;
    return addDirectory(path, status, &added);
  }
  if (S_ISREG(status.st_mode)) return addFile(path, status);
  return 0;
}

// A pattern with a "/" is matched against the whole path, one without
// against its last component.
bool gatherer::excluded(const char* path, const char* last) const {
  for (int i = 0; i < _settings.excludeCount; ++i) {
    const char* pattern = _settings.excludes[i];
    bool whole = strchr(pattern, '/') != nullptr;
    if (fnmatch(pattern, whole ? path : last, whole ? FNM_PATHNAME : 0) == 0) return true;
  }
  return false;
}

// Trailing slashes of an operand are left out of the match: "dir/" is the
// directory "dir", and "/" stays "/".
int gatherer::excludedOperand(const char* name, bool* skip) const {
  size_t end = strlen(name);
  while (end > 1 && name[end - 1] == '/') --end;
  try {
    std::string path(name, end);
    size_t slash = path.find_last_of('/');
    bool whole = slash == std::string::npos || end == 1;
    *skip = excluded(path.c_str(), path.c_str() + (whole ? 0 : slash + 1));
  } catch (const std::bad_alloc&) {
    return outOfMemory();
  }
  return 0;
}

// Reads the names of --files-from, one at a time, so that a huge list or a
// pipe is never held whole.
class name_reader {
public:
  explicit name_reader(const run_settings& settings)
      : _name(settings.filesFrom), _delimiter(settings.nullTerminated ? '\0' : '\n') {}
  ~name_reader() {
    free(_line);
    if (_stream != nullptr && _stream != stdin) fclose(_stream);
  }
  name_reader(const name_reader&) = delete;
  name_reader& operator=(const name_reader&) = delete;

  int open() {
    _stream = strcmp(_name, "-") == 0 ? stdin : fopen(_name, "r");
    return _stream == nullptr ? failed(errno) : 0;
  }

  // The next name in `*name`, or null at the end of the list.
  int next(const char** name) {
    *name = nullptr;
    errno = 0;
    ssize_t length = getdelim(&_line, &_room, _delimiter, _stream);
    // Only the end of the list ends it quietly; running out of memory sets
    // no error flag. A list opened but not read (a directory, a failing
    // disk) is a read error, whatever the system calls it.
    if (length < 0) return feof(_stream) && !ferror(_stream) ? 0 : failed(errno == ENOMEM ? ENOMEM : EIO);
    if (_line[length - 1] == _delimiter) _line[--length] = '\0';
    // A NUL inside a line would cut the name short: most likely a list
    // meant for -0.
    if (strlen(_line) != static_cast<size_t>(length)) {
      report("Error reading %s: %ls\n", _name, error::message(error::invalid_line));
      return error::invalid_line;
    }
    *name = _line;
    return 0;
  }

private:
  int failed(int failure) {
    int code = error::from_errno(failure);
    if (code == error::ok) code = error::file_read_error;
    report("Error reading %s: %ls\n", _name, error::message(code));
    return code;
  }

  const char* _name;
  int _delimiter;
  FILE* _stream = nullptr;
  char* _line = nullptr;
  size_t _room = 0;
};

}  // namespace

void created_file::noteName(const char* name) {
  char parent[PATH_MAX];
  const char* base = splitPath(name, parent, sizeof parent);
  struct stat status;
  if (strlen(base) >= sizeof last || stat(parent, &status) != 0) return;
  note(directory, status);
  strcpy(last, base);
}

bool created_file::mayBe(const char* name, ino_t inode) const {
  return (writing.known && inode == writing.inode) || (replaced.known && inode == replaced.inode) ||
         strcmp(name, last) == 0 || isLeftover(name);
}

bool created_file::names(const char* path) const {
  char parent[PATH_MAX];
  const char* base = splitPath(path, parent, sizeof parent);
  struct stat status;
  return directory.known && strcmp(base, last) == 0 && stat(parent, &status) == 0 &&
         status.st_dev == directory.device && status.st_ino == directory.inode;
}

namespace {

int gatherAll(const run_settings& settings, int argc, char** argv, gatherer& walker) {
  // The list is opened first, so that a list that cannot be had ends the
  // run before anything is hashed.
  name_reader list(settings);
  if (settings.filesFrom != nullptr) {
    int result = list.open();
    if (result != 0) return result;
  }
  for (int i = settings.firstOperand; i < argc; ++i) {
    int result = walker.operand(argv[i]);
    if (result != 0) return result;
  }
  if (settings.filesFrom == nullptr) return 0;
  for (;;) {
    const char* name = nullptr;
    int result = list.next(&name);
    if (result != 0 || name == nullptr) return result;
    // An empty name is taken like any operand: it is reported, not lost.
    result = walker.operand(name);
    if (result != 0) return result;
  }
}

}  // namespace

int gatherFiles(const run_settings& settings, int argc, char** argv, const created_file& created,
                path_list& files, path_list& directories, file_sink& sink, bool* leftOut) {
  gatherer walker(settings, created, files, directories, sink);
  int result = gatherAll(settings, argc, argv, walker);
  *leftOut = walker.leftOut();
  return result;
}

int gatherLists(const run_settings& settings, int first, int argc, char** argv, list_sink& sink,
                path_list& lists, path_list& directories, bool* leftOut) {
  created_file none;
  gatherer walker(settings, none, lists, directories, sink, &sink);
  int result = 0;
  for (int i = first; result == 0 && i < argc; ++i) {
    struct stat status;
    bool directory = stat(argv[i], &status) == 0 && S_ISDIR(status.st_mode);
    result = directory ? walker.operand(argv[i]) : sink.named(argv[i]);
  }
  *leftOut = walker.leftOut();
  return result;
}
