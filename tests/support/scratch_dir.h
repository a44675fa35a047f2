#pragma once

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <sstream>
#include <string>

#include <zorvik/config.h>

// A scratch directory of the tests and fuzzers, the one of them all: made
// under /tmp (or `base`) open to every user, with a HOME ("home") and an
// empty system-wide configuration directory ("etc/"). While it lives, HOME
// points there, the time zone is UTC and the configuration store reads its
// files afresh from both, since reading a list may write the user's
// signature. Removed with everything in it, whatever the permissions inside,
// and HOME and the store put back, when it goes.
class scratchDir {
public:
  explicit scratchDir(const std::string& base = "/tmp") {
    std::string pattern = base + "/zorvik-scratch-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) {
      perror(pattern.c_str());
      abort();
    }
    _root = pattern;
    _home = _root + "/home";
    _system = _root + "/etc/";
    chmod(_root.c_str(), 0755);
    mkdir(_home.c_str(), 0755);
    mkdir(_system.c_str(), 0755);
    const char* home = getenv("HOME");
    _hadHome = home != nullptr;
    if (_hadHome) _oldHome = home;
    setenv("HOME", _home.c_str(), 1);
    setenv("TZ", "UTC", 1);
    tzset();
    reload();
  }
  ~scratchDir() {
    removeTree(_root);
    if (_hadHome)
      setenv("HOME", _oldHome.c_str(), 1);
    else
      unsetenv("HOME");
    config::reload();
  }
  scratchDir(const scratchDir&) = delete;
  scratchDir& operator=(const scratchDir&) = delete;

  const std::string& root() const { return _root; }
  std::string file(const std::string& name) const { return _root + "/" + name; }
  const std::string& home() const { return _home; }
  // The system-wide configuration directory, ending in "/".
  const std::string& system() const { return _system; }
  std::string userDir() const { return _home + "/.config/zorvik/"; }
  std::string userFile() const { return userDir() + "zorvik.conf"; }
  std::string systemFile() const { return _system + "zorvik.conf"; }

  // Replaces a configuration file; reload() then has the store read it.
  void writeUser(const std::string& text) const {
    mkdir((_home + "/.config").c_str(), 0755);
    mkdir(userDir().c_str(), 0755);
    write(userFile(), text);
  }
  void writeSystem(const std::string& text) const { write(systemFile(), text); }
  void reload() const { config::reload(_system.c_str()); }

  static void write(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
  }
  static std::string read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
  }

  // Removes `path` and, for a directory, everything in it: depth first,
  // each directory opened to its owner first, since a test may have taken
  // its read, write or search bit away.
  static void removeTree(const std::string& path) {
    struct stat status;
    if (lstat(path.c_str(), &status) != 0) return;
    if (S_ISDIR(status.st_mode)) {
      chmod(path.c_str(), 0700);
      if (DIR* stream = opendir(path.c_str())) {
        while (dirent* entry = readdir(stream)) {
          std::string name = entry->d_name;
          if (name != "." && name != "..") removeTree(path + "/" + name);
        }
        closedir(stream);
      }
      rmdir(path.c_str());
    } else {
      unlink(path.c_str());
    }
  }

private:
  std::string _root, _home, _system, _oldHome;
  bool _hadHome = false;
};
