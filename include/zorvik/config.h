#pragma once

#include <zorvik/api.h>

// One setting of the configuration store.
class ZORVIK_API config_value {
public:
  config_value(const char* name, const char* value);
  ~config_value();
  config_value(const config_value&) = delete;
  config_value& operator=(const config_value&) = delete;

  // The value; null for a key the store does not hold.
  operator const char*() const;
  // Leading decimal digits; 0 when there are none, 0 with errno ERANGE
  // beyond 2^64 - 1.
  operator unsigned long long() const;
  // True exactly for "true" in any letter case.
  operator bool() const;

  config_value* _next;
  char* _name;
  char* _value;
};

// Settings from /etc/zorvik.conf, overridden key by key by
// $HOME/.config/zorvik/zorvik.conf; keys compare without regard to case.
// Created on first use and kept for the life of the process.
class ZORVIK_API config {
public:
  // The store, read on the first call; null only when memory is exhausted.
  static config* instance();
  // The entry for `key`, or an empty entry; never fails.
  config_value& operator[](const char* key);
  // Writes `key`=`value` into the user's file and the store; false when
  // it could not, the user's file then left as it was.
  bool set(const char* key, const char* value);

  // For tests: drops the store, so the next instance() reads the files
  // again, the system-wide one from `systemDirectory` (ending in "/").
  static void reload(const char* systemDirectory = "/etc/");

  static config* _instance;

private:
  config();
  ~config();
  config_value* _first;
};

// Splits `line` in place at its first "=": returns the key (blanks cut) and
// stores the value in `*value`; null, `*value` untouched, without "=".
extern "C" ZORVIK_API char* get_key_value(char* line, char** value);
