#include <zorvik/config.h>

#include <sys/stat.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <strings.h>

#include "util/config_line.h"
#include "util/config_rewrite.h"

config* config::_instance = nullptr;

namespace {

// Paths are built in buffers of this size; a longer HOME cannot fit one.
constexpr size_t pathSize = 1024;
constexpr size_t homeLimit = 989;

char s_systemDirectory[pathSize] = "/etc/";

// The user's configuration directory ("<HOME>/.config/zorvik/") into `out`;
// `parent` receives "<HOME>/.config/". False without a usable HOME.
bool userDirectory(char* out, char* parent) {
  const char* home = getenv("HOME");
  if (home == nullptr || *home == '\0') return false;
  size_t length = strlen(home);
  if (length > homeLimit) return false;
  const char* slash = home[length - 1] == '/' ? "" : "/";
  snprintf(parent, pathSize, "%s%s.config/", home, slash);
  snprintf(out, pathSize, "%s%s.config/zorvik/", home, slash);
  return true;
}

config_value* findEntry(config_value* first, const char* key) {
  for (config_value* entry = first; entry != nullptr; entry = entry->_next)
    if (entry->_name != nullptr && strcasecmp(entry->_name, key) == 0) return entry;
  return nullptr;
}

// Replaces a heap string only when the copy could be made.
void replaceText(char*& target, const char* text) {
  char* copy = strdup(text);
  if (copy == nullptr) return;
  free(target);
  target = copy;
}

// A new entry holding copies of both texts; null when memory runs out.
config_value* newEntry(const char* key, const char* value) {
  config_value* entry = new (std::nothrow) config_value(key, value);
  if (entry != nullptr && (entry->_name == nullptr || entry->_value == nullptr)) {
    delete entry;
    return nullptr;
  }
  return entry;
}

bool makeDirectory(const char* path) {
  return mkdir(path, 0755) == 0 || errno == EEXIST;
}

}  // namespace

config_value::config_value(const char* name, const char* value)
    : _next(nullptr),
      _name(name != nullptr ? strdup(name) : nullptr),
      _value(value != nullptr ? strdup(value) : nullptr) {}

config_value::~config_value() {
  free(_name);
  free(_value);
}

config_value::operator const char*() const { return _value; }

config_value::operator unsigned long long() const {
  if (_value == nullptr) return 0;
  unsigned long long number = 0;
  for (const char* p = _value; *p >= '0' && *p <= '9'; ++p) {
    unsigned digit = static_cast<unsigned>(*p - '0');
    if (number > (ULLONG_MAX - digit) / 10) {
      errno = ERANGE;
      return 0;
    }
    number = number * 10 + digit;
  }
  return number;
}

config_value::operator bool() const {
  return _value != nullptr && strcasecmp(_value, "true") == 0;
}

config::config() : _first(nullptr) {
  const char* home = getenv("HOME");
  if (home != nullptr && strlen(home) > homeLimit) return;

  char userDir[pathSize];
  char parent[pathSize];
  bool haveUser = userDirectory(userDir, parent);
  const char* directories[2] = {s_systemDirectory, haveUser ? userDir : nullptr};

  config_value** tail = &_first;
  for (const char* directory : directories) {
    if (directory == nullptr) continue;
    char path[pathSize];
    if (snprintf(path, sizeof path, "%szorvik.conf", directory) >= static_cast<int>(sizeof path))
      continue;
    FILE* file = fopen(path, "rt");
    if (file == nullptr) continue;

    char line[configLineSize];
    while (get_config_line(line, file) != nullptr) {
      char* value;
      char* key = get_key_value(line, &value);
      if (key == nullptr) continue;
      if (config_value* entry = findEntry(_first, key)) {
        char* name = strdup(key);
        char* text = strdup(value);
        if (name == nullptr || text == nullptr) {
          free(name);
          free(text);
          continue;
        }
        free(entry->_name);
        free(entry->_value);
        entry->_name = name;
        entry->_value = text;
        continue;
      }
      config_value* entry = newEntry(key, value);
      if (entry == nullptr) continue;
      *tail = entry;
      tail = &entry->_next;
    }
    fclose(file);
  }
}

config::~config() {
  config_value* entry = _first;
  while (entry != nullptr) {
    config_value* next = entry->_next;
    delete entry;
    entry = next;
  }
}

config* config::instance() {
  if (_instance == nullptr) _instance = new (std::nothrow) config;
  return _instance;
}

void config::reload(const char* systemDirectory) {
  delete _instance;
  _instance = nullptr;
  snprintf(s_systemDirectory, sizeof s_systemDirectory, "%s",
           systemDirectory != nullptr ? systemDirectory : "/etc/");
}

config_value& config::operator[](const char* key) {
  static config_value empty(nullptr, nullptr);
  if (key == nullptr) return empty;
  config_value* entry = findEntry(_first, key);
  return entry != nullptr ? *entry : empty;
}

bool config::set(const char* key, const char* value) {
  if (key == nullptr || value == nullptr) return false;
  char directory[pathSize];
  char parent[pathSize];
  if (!userDirectory(directory, parent)) return false;
  if (!makeDirectory(parent) || !makeDirectory(directory)) return false;
  char path[pathSize];
  if (snprintf(path, sizeof path, "%szorvik.conf", directory) >= static_cast<int>(sizeof path))
    return false;
  if (!rewriteConfigFile(path, key, value)) return false;

  // The store follows the file: the user's value now stands for the key.
  if (config_value* entry = findEntry(_first, key)) {
    replaceText(entry->_value, value);
    return true;
  }
  config_value** tail = &_first;
  while (*tail != nullptr) tail = &(*tail)->_next;
  *tail = newEntry(key, value);
  return true;
}
