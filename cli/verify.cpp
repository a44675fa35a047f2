#include <cstdio>
#include <cstring>

#include <zorvik/error.h>
#include <zorvik/text.h>

#include "node_pool.h"
#include "output.h"
#include "run.h"
#include "status_line.h"
#include "text.h"

namespace {

// One line of the checksum file, read ahead of its verdict: the list is
// read and files are hashed while earlier verdicts are still awaited.
struct listed_entry {
  enum kind {
    unreadable,       // getNextFile() failed: `code`
    unprocessable,    // the run ends at this entry with `code`
    previously,       // previously verified
    hashed,           // a job of the engine
  };
  kind what;
  int code;
  int reason;                     // the errno behind an Unknown error `code`
  unsigned long line;             // of an unreadable entry
  unsigned long long listedSize;  // ~0ULL: the list gives none
  unsigned char expected[64];
  char shown[pathRoom];
};

// Entries read ahead and not yet reported: as many as the engine may have
// jobs pending, so a run does not grow with its list.
constexpr int aheadMost = 1024;
listed_entry aheadEntries[aheadMost];

class verifier {
public:
  verifier(run_context& context, size_t prefix, listed_entry* entries)
      : _context(context), _prefix(prefix), _entries(entries) {}

  int run();
  unsigned long read() const { return _read; }

private:
  void readNext();
  bool headReady();
  // Reports the oldest entry; a code other than 0 ends the run there.
  int report(listed_entry& entry);
  int reportHashed(listed_entry& entry);

  listed_entry& at(int i) { return _entries[(_oldest + i) % aheadMost]; }

  run_context& _context;
  size_t _prefix;
  listed_entry* _entries;
  int _oldest = 0, _count = 0;
  bool _listEnded = false;
  unsigned long _read = 0;  // entries getNextFile() gave
};

int verifier::run() {
  for (;;) {
    // Read ahead while there is room, and report what is ready meanwhile.
    while (!_listEnded && _count < aheadMost && !_context.hashing.full()) {
      readNext();
      while (_count > 0 && headReady()) {
        int code = report(at(0));
        if (code != 0) return code;
      }
    }
    if (_count == 0) return 0;
    int code = report(at(0));
    if (code != 0) return code;
  }
}

void verifier::readNext() {
  const run_settings& settings = _context.settings;
  wchar_t* path = _context.path;
  listed_entry& entry = at(_count);
  int read = _context.file.getNextFile(path + _prefix, pathRoom - static_cast<int>(_prefix),
                                       &entry.listedSize, entry.expected);
  if (read == 0) {
    _listEnded = true;
    status_line::listEnded(static_cast<long>(_read));
    return;
  }
  ++_count;
  if (read < 0) {
    // A malformed line spoils only itself; other failures end the list.
    entry.what = listed_entry::unreadable;
    entry.code = read;
    entry.reason = error::unknown_errno();
    entry.line = _context.file.lineNumber();
    _listEnded = read != error::invalid_line;
    if (_listEnded) status_line::listEnded(static_cast<long>(_read));
    return;
  }
  shownBytes(entry.shown, sizeof entry.shown, path);
  int verified = _context.record != nullptr ? _context.record->isPreviouslyVerifiedAt(_read, path)
                                            : _context.file.isPreviouslyVerified(path);
  ++_read;
  if (verified < 0) {
    entry.what = listed_entry::unprocessable;
    entry.code = verified;
  } else if (!settings.all && verified > 0) {
    entry.what = listed_entry::previously;
  } else {
    // Only regular files are hashed: opening a FIFO would wait for a writer
    // for ever, and a device would be read without end or as empty.
    entry.code = _context.hashing.submit(path, _context.engineAlgorithm(), engine::regularOnly, nullptr);
    entry.what = entry.code == 0 ? listed_entry::hashed : listed_entry::unprocessable;
    if (entry.code == 0) status_line::submitted(entry.listedSize);
  }
  entry.reason = error::unknown_errno();
}

bool verifier::headReady() {
  return at(0).what != listed_entry::hashed || _context.hashing.ready();
}

int verifier::report(listed_entry& entry) {
  --_count;
  _oldest = (_oldest + 1) % aheadMost;
  // Reported later than it was read: its reason comes back with it.
  if (entry.what != listed_entry::hashed) error::unknown_errno() = entry.reason;
  switch (entry.what) {
    case listed_entry::unreadable:
      if (entry.code == error::invalid_line)
        say("%s: line %lu: %ls\n", _context.settings.checksumName, entry.line, error::message(entry.code));
      else
        say("Error reading %s: %ls\n", _context.settings.checksumName, error::message(entry.code));
      ++_context.errorsFound;
      return 0;
    case listed_entry::unprocessable:
      ++_context.filesChecked;
      say("Error processing file %s: %ls\n", entry.shown, error::message(entry.code));
      return entry.code;
    case listed_entry::previously:
      ++_context.filesChecked;
      if (!_context.settings.quiet) say("%s: Previously verified Ok\n", entry.shown);
      _context.file.setPreviouslyVerified(true);
      status_line::passed();
      status_line::tick();
      return 0;
    case listed_entry::hashed:
      return reportHashed(entry);
  }
  return 0;
}

int verifier::reportHashed(listed_entry& entry) {
  const engine::result& result = waitForJob(_context, entry.shown, '\r');
  status_line::hashed(entry.listedSize, static_cast<unsigned long long>(result.opened.st_size));
  hasher& algorithm = _context.algorithm;
  bool verified = false;
  if (result.code == error::file_not_found && _context.settings.ignoreMissing) {
    _context.file.setPreviouslyVerified(false);
    return 0;
  }
  ++_context.filesChecked;
  if (result.code != 0) {
    ++_context.errorsFound;
    say("%s: File error: %ls\n", entry.shown, error::message(result.code));
  } else if (memcmp(result.hash, entry.expected, algorithm.hash_size()) == 0) {
    verified = true;
    if (!_context.settings.quiet) say("%s: Ok                   \n", entry.shown);
  } else {
    ++_context.errorsFound;
    say("%s: hash mismatch: %ls != %ls\n", entry.shown, algorithm.hash_string(entry.expected),
           algorithm.hash_string(result.hash));
  }
  // The record vouches for the very file that was hashed.
  if (_context.record != nullptr)
    _context.record->setHashedVerdict(verified, result.opened);
  else
    _context.file.setPreviouslyVerified(verified);
  status_line::tick();
  return 0;
}

}  // namespace

int verifyRun(run_context& context) {
  const run_settings& settings = context.settings;
  const char* name = settings.checksumName;
  // Both must fit the path buffer whole: nothing is checked under a cut name.
  size_t prefix = settings.parent != nullptr ? strlen(settings.parent) : 0;
  if (prefix > 0 && settings.parent[prefix - 1] != '/') ++prefix;
  if (strlen(name) >= static_cast<size_t>(pathRoom) || prefix >= static_cast<size_t>(pathRoom)) {
    report("Path is too long\n");
    return error::path_error;
  }
  bytesToWide(context.path, name, pathRoom);
  int code = context.file.open(context.path);
  if (code != 0) {
    report("%s: %ls\n", name, error::message(code));
    return code;
  }
  if (prefix > 0) {
    bytesToWide(context.path, settings.parent, pathRoom);
    context.path[prefix - 1] = L'/';
  }

  verifier entries(context, prefix, aheadEntries);
  code = entries.run();
  if (code != 0) return code;

  // A record that could not be saved is no file's error: the verdicts stand.
  code = context.file.close();
  warnUnlocked(context.file, name);
  if (code != 0)
    report("Warning: could not save the verification record of %s: %ls\n", name, error::message(code));
  // As md5sum does: a list whose every file is missing verified nothing,
  // which is no success.
  bool nothingVerified = settings.ignoreMissing && entries.read() > 0 && context.filesChecked == 0;
  say("%d files checked\n", context.filesChecked);
  if (context.errorsFound != 0)
    say("%d errors detected\n", context.errorsFound);
  else if (!nothingVerified)
    say("All files Ok\n");
  if (nothingVerified) {
    report("%s: no file was verified\n", name);
    return 1;
  }
  if (context.errorsFound != 0) return 1;
  programPool().release_all();
  return 0;
}
