#include <zorvik/config.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <strings.h>

#include "util/config_line.h"

config* config::_instance = nullptr;

namespace {

// Paths are built in buffers of this size; a longer HOME cannot fit one.
constexpr size_t pathSize = 1024;
constexpr size_t homeLimit = 989;

char s_systemDirectory[pathSize] = "/etc/";

// Bytes 0x80-0xFF count as blanks too: they are negative as signed chars.
bool isBlank(char c) { return static_cast<signed char>(c) <= 32; }

bool isQuote(char c) { return c == '"' || c == '\''; }

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

// The process's umask, read without changing it where /proc allows, since
// another thread could be creating files meanwhile.
mode_t currentUmask() {
  if (FILE* status = fopen("/proc/self/status", "r")) {
    char line[256];
    unsigned int mask;
    while (fgets(line, sizeof line, status) != nullptr) {
      if (sscanf(line, "Umask: %o", &mask) == 1) {
        fclose(status);
        return static_cast<mode_t>(mask);
      }
    }
    fclose(status);
  }
  mode_t mask = umask(022);
  umask(mask);
  return mask;
}

bool makeDirectory(const char* path) {
  return mkdir(path, 0755) == 0 || errno == EEXIST;
}

// Copies `in` (may be null) into `out`, replacing or appending `key`. False
// on any read or write error.
bool rewrite(FILE* in, FILE* out, const char* key, const char* value) {
  char line[configLineSize];
  char copy[configLineSize];
  bool found = false;
  if (in != nullptr) {
    while (get_config_line(line, in) != nullptr) {
      strcpy(copy, line);
      char* lineValue;
      char* lineKey = get_key_value(copy, &lineValue);
      if (lineKey == nullptr || strcasecmp(lineKey, key) != 0) {
        if (fprintf(out, "%s\n", line) < 0) return false;
      } else if (!found) {
        found = true;
        if (fprintf(out, "%s=%s\n", key, value) < 0) return false;
      }
    }
    // A read error would otherwise cut the user's settings short.
    if (ferror(in)) return false;
  }
  if (!found && fprintf(out, "%s=%s\n", key, value) < 0) return false;
  return true;
}

// Flushes and closes `out`, making its data durable; false if anything
// failed (the stream is closed either way).
bool finish(FILE* out) {
  bool ok = fflush(out) == 0;
  if (ok && fsync(fileno(out)) != 0 && errno != EINVAL && errno != ENOTSUP) ok = false;
  if (fclose(out) != 0) ok = false;
  return ok;
}

}  // namespace

char* get_config_line(char* buffer, FILE* file) {
  for (;;) {
    if (fgets(buffer, configLineSize, file) == nullptr) return nullptr;

    // Find where the content ends: at the end, or at a ";" outside quotes.
    char* p = buffer;
    for (;;) {
      char c = *p;
      if (c == '\0') break;
      if (c == ';') {
        *p = '\0';
        break;
      }
      if (isQuote(c) && !(p != buffer && p[-1] == '\\')) {
        char* q = p + 1;
        while (*q != '\0' && !(*q == c && q[-1] != '\\')) ++q;
        p = q;
        if (*p == '\0') break;
      }
      ++p;
    }

    while (p != buffer && isBlank(p[-1])) *--p = '\0';
    if (buffer[0] == '\0') continue;

    char* start = buffer;
    while (*start != '\0' && isBlank(*start)) ++start;
    if (*start == '\0') continue;
    if (start != buffer) memmove(buffer, start, strlen(start) + 1);
    return buffer;
  }
}

char* get_key_value(char* line, char** value) {
  char* equals = strchr(line, '=');
  if (equals == nullptr) return nullptr;
  *equals = '\0';
  for (char* p = equals; p != line && isBlank(p[-1]); --p) p[-1] = '\0';

  char* text = equals + 1;
  while (*text != '\0' && isBlank(*text)) ++text;
  if (isQuote(*text)) {
    size_t length = strlen(text);
    if (text[length - 1] == *text) {
      // A lone quote leaves an empty value.
      text[length - 1] = '\0';
      if (length > 1) ++text;
    }
  }
  *value = text;
  return line;
}

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
      config_value* entry = new (std::nothrow) config_value(key, value);
      if (entry == nullptr) continue;
      if (entry->_name == nullptr || entry->_value == nullptr) {
        delete entry;
        continue;
      }
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
  char directory[pathSize];
  char parent[pathSize];
  if (key == nullptr || value == nullptr) return false;
  if (!userDirectory(directory, parent)) return false;
  if (!makeDirectory(parent) || !makeDirectory(directory)) return false;

  char path[pathSize];
  char temporary[pathSize];
  if (snprintf(path, sizeof path, "%szorvik.conf", directory) >= static_cast<int>(sizeof path) ||
      snprintf(temporary, sizeof temporary, "%szorvik.conf.XXXXXX", directory) >=
          static_cast<int>(sizeof temporary))
    return false;

  // A name of our own, so that two processes never write into one file.
  int descriptor = mkstemp(temporary);
  if (descriptor < 0) return false;

  FILE* in = fopen(path, "rt");
  if (in == nullptr && errno != ENOENT) {
    // A file we cannot read must not be replaced by one without its settings.
    close(descriptor);
    unlink(temporary);
    return false;
  }
  struct stat status;
  mode_t mode = (in != nullptr && fstat(fileno(in), &status) == 0)
                    ? (status.st_mode & 07777)
                    : (0666 & ~currentUmask());
  FILE* out = nullptr;
  if (fchmod(descriptor, mode) == 0) out = fdopen(descriptor, "w");
  if (out == nullptr) {
    close(descriptor);
    if (in != nullptr) fclose(in);
    unlink(temporary);
    return false;
  }

  bool ok = rewrite(in, out, key, value);
  if (in != nullptr) fclose(in);
  if (!finish(out)) ok = false;
  // rename alone replaces the file, so the old one stays until the new one
  // is complete.
  if (!ok || rename(temporary, path) != 0) {
    unlink(temporary);
    return false;
  }

  // The store follows the file: the user's value now stands for the key.
  if (config_value* entry = findEntry(_first, key)) {
    replaceText(entry->_value, value);
    return true;
  }
  config_value* entry = new (std::nothrow) config_value(key, value);
  if (entry == nullptr || entry->_name == nullptr || entry->_value == nullptr) {
    delete entry;
    return true;
  }
  config_value** tail = &_first;
  while (*tail != nullptr) tail = &(*tail)->_next;
  *tail = entry;
  return true;
}
