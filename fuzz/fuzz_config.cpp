// Arbitrary bytes as the user's configuration file: every key found must
// look up to its last value; after set() rewrites the file, every other key
// must still hold the value it had.
#include <strings.h>
#include <sys/stat.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include <zorvik/config.h>

#include "fuzz_support.h"
#include "util/config_line.h"

namespace {

struct setting {
  std::string key;
  std::string value;
};

// What the store should hold: keys in order of first sight, the last value
// of each, keys compared without regard to case.
std::vector<setting> expectedSettings(const std::string& path) {
  std::vector<setting> settings;
  FILE* file = fopen(path.c_str(), "r");
  FUZZ_CHECK(file != nullptr);
  char line[configLineSize];
  while (get_config_line(line, file) != nullptr) {
    char* value;
    char* key = get_key_value(line, &value);
    if (key == nullptr) continue;
    bool found = false;
    for (setting& s : settings) {
      if (strcasecmp(s.key.c_str(), key) == 0) {
        s = {key, value};
        found = true;
        break;
      }
    }
    if (!found) settings.push_back({key, value});
  }
  fclose(file);
  return settings;
}

void checkStore(const std::vector<setting>& settings, const std::string& skip) {
  config& store = *config::instance();
  for (const setting& s : settings) {
    if (strcasecmp(s.key.c_str(), skip.c_str()) == 0) continue;
    const char* value = store[s.key.c_str()];
    FUZZ_CHECK(value != nullptr);
    FUZZ_CHECK(s.value == value);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string path = [] {
    scratchDirectory().writeUser("");
    return scratchDirectory().userFile();
  }();
  static const std::string system = scratchDirectory().system();

  writeFile(path, data, size);
  std::vector<setting> before = expectedSettings(path);
  config::reload(system.c_str());
  checkStore(before, std::string("\n"));

  // Set a key the file holds (the last one) or a new one; the input decides.
  std::string key = "Signature";
  if (!before.empty() && size > 0 && (data[size - 1] & 1) != 0) key = before.back().key;
  const char* value = "fuzz value";
  FUZZ_CHECK(config::instance()->set(key.c_str(), value));
  const char* now = (*config::instance())[key.c_str()];
  FUZZ_CHECK(now != nullptr && std::string(now) == value);
  checkStore(before, key);

  config::reload(system.c_str());
  checkStore(before, key);
  now = (*config::instance())[key.c_str()];
  FUZZ_CHECK(now != nullptr && std::string(now) == value);
  return 0;
}
