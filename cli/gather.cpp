#include "gather.h"

#include <dirent.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <new>
#include <unordered_map>

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

// Whether an entry line of the given type can carry `path` so that it reads
// back as the same name. MD5 lists escape line feeds and carriage returns
// as md5sum does; an SFV line must be one line with no leading ";" (a
// comment), no leading quote (taken off) and no trailing white space (cut
// off).
bool listable(const char* path, int type) {
  if (type != type_sfv) return true;
  if (strchr(path, '\n') != nullptr) return false;
  size_t length = strlen(path);
  if (length == 0 || path[0] == ';' || path[0] == '"') return false;
  return strchr(" \t\v\f\r", path[length - 1]) == nullptr;
}

class gatherer {
public:
  gatherer(const run_settings& settings, const created_file& created, path_list& files,
           path_list& directories, file_sink& sink)
      : _settings(settings), _created(created), _files(files), _directories(directories),
        _sink(sink) {}

  int operand(const char* name);

private:
  int walk(path_node* from);
  int entry(const char* path, const struct stat& status);
  int addDirectory(const char* path, const struct stat& status, path_node** added);
  int addFile(const char* path, const struct stat& status);
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
  // Every directory accepted so far, to find the first path it was seen as;
  // the list itself would need a scan per directory met.
  std::unordered_map<file_key, const path_node*, file_key_hash> _seen;
  bool _haveDevice = false;
  dev_t _device = 0;
  char _buffer[longestWalkPath + 1];
};

int gatherer::operand(const char* name) {
  if (strcmp(name, _settings.createName) == 0) return 0;
  struct stat status;
  if (stat(name, &status) != 0) {
    report("Could not stat file: %s\n", name);
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
    if (!_settings.recursive) return 0;
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
    printf("%s was previously seen as %s\n", path, seen->second->path);
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
  if (!programIdentity().can_read(status)) {
    report("Access denied to %s\n", path);
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
  if (!listable(path, _settings.type)) {
    report("Cannot list %s in the checksum file\n", path);
    return error::path_error;
  }
  path_node* node = newNode(path, status);
  if (node == nullptr) return outOfMemory();
  _files.append(node);
  return _sink.listed(*node);
}

int gatherer::walk(path_node* from) {
  for (path_node* directory = from; directory != nullptr; directory = directory->next) {
    DIR* stream = opendir(directory->path);
    if (stream == nullptr) {
      if (errno == EACCES) {
        report("%s: Access denied\n", directory->path);
        continue;
      }
      const wchar_t* why = error::errno_message();
      report("Error reading directory %s: %ls", directory->path, why);
      return error::file_read_error;
    }
    size_t prefix = strlen(directory->path);
    memcpy(_buffer, directory->path, prefix);
    _buffer[prefix++] = '/';
    int result = 0;
    while (dirent* found = readdir(stream)) {
      const char* name = found->d_name;
      if (strcmp(name, ".") == 0 || strcmp(name, "..") == 0) continue;
      size_t length = strlen(name);
      if (prefix + length > longestWalkPath) {
        report("Path is too long\n");
        result = error::path_error;
        break;
      }
      memcpy(_buffer + prefix, name, length + 1);
      struct stat status;
      if (stat(_buffer, &status) != 0) {
        int failure = errno;
        report("Could not stat file %s: %ls\n", _buffer, error::message(error::from_errno(failure)));
        if (failure == ENOENT) continue;
        result = error::from_errno(failure);
        break;
      }
      result = entry(_buffer, status);
      if (result != 0) break;
    }
    closedir(stream);
    if (result != 0) return result;
  }
  return 0;
}

int gatherer::entry(const char* path, const struct stat& status) {
  if (isCreated(status)) return 0;
  if (_settings.oneFileSystem && status.st_dev != _device) return 0;
  if (S_ISDIR(status.st_mode)) {
    path_node* added = nullptr;
    return addDirectory(path, status, &added);
  }
  if (S_ISREG(status.st_mode)) return addFile(path, status);
  return 0;
}

}  // namespace

int gatherFiles(const run_settings& settings, int argc, char** argv, const created_file& created,
                path_list& files, path_list& directories, file_sink& sink) {
  gatherer walker(settings, created, files, directories, sink);
  for (int i = settings.firstOperand; i < argc; ++i) {
    int result = walker.operand(argv[i]);
    if (result != 0) return result;
  }
  return 0;
}
