#pragma once

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include <zorvik/config.h>

// A scratch directory holding a system configuration directory ("sys/") and
// a HOME ("home/"); HOME points there and the store is read afresh.
class scratchHome {
public:
  scratchHome() {
    char pattern[] = "/tmp/zorvik-util-XXXXXX";
    _root = mkdtemp(pattern);
    _system = _root + "/sys/";
    _home = _root + "/home";
    std::system(("mkdir -p '" + _system + "' '" + _home + "'").c_str());
    const char* old = getenv("HOME");
    _hadHome = old != nullptr;
    if (_hadHome) _oldHome = old;
    setenv("HOME", _home.c_str(), 1);
    config::reload(_system.c_str());
  }
  ~scratchHome() {
    std::system(("chmod -R u+rwx '" + _root + "'; rm -rf '" + _root + "'").c_str());
    if (_hadHome) setenv("HOME", _oldHome.c_str(), 1);
    else unsetenv("HOME");
    config::reload();
  }

  std::string userDir() const { return _home + "/.config/zorvik/"; }
  std::string userFile() const { return userDir() + "zorvik.conf"; }
  std::string systemFile() const { return _system + "zorvik.conf"; }
  const std::string& system() const { return _system; }
  const std::string& home() const { return _home; }

  void writeUser(const std::string& text) const {
    std::system(("mkdir -p '" + userDir() + "'").c_str());
    write(userFile(), text);
  }
  void writeSystem(const std::string& text) const { write(systemFile(), text); }
  // Makes the next instance() read the files again.
  void reload() const { config::reload(_system.c_str()); }

  static void write(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
  }
  static std::string read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
  }

private:
  std::string _root, _system, _home, _oldHome;
  bool _hadHome = false;
};
