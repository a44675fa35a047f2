#include <cstdio>
#include <cstring>
#include <cwchar>
#include <new>

#include <zorvik/error.h>
#include <zorvik/text.h>

#include "list_set.h"
#include "node_pool.h"
#include "output.h"
#include "run.h"
#include "status_line.h"
#include "text.h"

namespace {

// One list of the run, from its opening to its summary.
struct list_session {
  list_ref list;
  int type = type_sfv;
  bool guessed = false;        // its type told by the length of a digest
  container* file = nullptr;   // owned; null once closed
  sfv* record = nullptr;       // the SFV file, whose record is asked entry by entry
  hasher* shown = nullptr;     // shows its digests
  int code = 0;                // what kept it from being opened
  size_t prefix = 0;           // characters put before each name
  wchar_t lead[pathRoom];      // those characters
  unsigned long read = 0;      // entries getNextFile() gave
  int filesChecked = 0;
  int errorsFound = 0;
  bool endPending = false;     // its reading failed: its end comes next
  // A guessed type stands once a hashed entry matches; three hashed
  // entries that all mismatch show it wrong.
  bool confirmed = false;
  int mismatches = 0;
};

// One line of a checksum file, read ahead of its verdict: the lists are
// read and files are hashed while earlier verdicts are still awaited. The
// opening and end of each list go through in their turn too.
struct listed_entry {
  enum kind {
    unreadable,       // getNextFile() failed: `code`
    unprocessable,    // the run ends at this entry with `code`
    previously,       // previously verified
    hashed,           // a job of the engine
    guessedList,      // a list opened whose type its digests' length told
    unopenedList,     // a list that could not be opened
    listEnd,          // the end of a list: its summary
    gathered,         // a line gathering wrote: `text`
    searchEnded,      // gathering ended the run with `code`
  };
  kind what;
  list_session* list;
  int code;
  int reason;                     // the errno behind an Unknown error `code`
  unsigned long line;             // of an unreadable entry
  unsigned long long listedSize;  // ~0ULL: the list gives none
  unsigned char expected[64];
  char shown[pathRoom];
  const char* text;               // a gathered line
  bool toError;                   // for standard error
};

// Entries read ahead and not yet reported: as many as the engine may have
// jobs pending, so a run does not grow with its list.
constexpr int aheadMost = 1024;
listed_entry aheadEntries[aheadMost];

// Lists open at once: the one being read and those whose verdicts are
// still awaited.
constexpr int openMost = 8;

// What report() returns to end the run with 1: a guessed type proved wrong.
constexpr int wrongType = 1;

class verifier {
public:
  verifier(const run_settings& settings, engine& hashing, list_set& lists, listed_entry* entries)
      : _settings(settings), _hashing(hashing), _lists(lists), _single(lists.single()), _entries(entries) {}
  ~verifier();
  verifier(const verifier&) = delete;
  verifier& operator=(const verifier&) = delete;

  int run();
  // Totals of the lists verified so far.
  int lists() const { return _listsDone; }
  int filesChecked() const { return _filesChecked; }
  int errorsFound() const { return _errorsFound; }

private:
  bool canRead() const;
  int readNext();
  int openNext();
  int openList(list_session& s, bool* noMemory);
  void readEntry(list_session& s);
  void pushEnd(list_session& s);
  bool headReady();
  // Reports the oldest entry; a value other than 0 ends the run with it.
  int report(listed_entry& entry);
  int reportHashed(listed_entry& entry);
  int reportUnopened(list_session& s);
  int finishList(list_session& s);
  void release(list_session& s);

  listed_entry& at(int i) { return _entries[(_oldest + i) % aheadMost]; }
  listed_entry& pushed(list_session& s, listed_entry::kind what) {
    listed_entry& entry = at(_count++);
    entry.what = what;
    entry.list = &s;
    entry.reason = 0;
    return entry;
  }

  const run_settings& _settings;
  engine& _hashing;
  list_set& _lists;
  bool _listsEnded = false;  // every list has been given
  bool _single;  // one list named: its output as it always was
  listed_entry* _entries;
  int _oldest = 0, _count = 0;
  shown_digests _shown;
  list_session _sessions[openMost];
  int _firstOpen = 0, _open = 0;
  list_session* _reading = nullptr;
  unsigned long _read = 0;   // entries read of every list
  wchar_t _path[pathRoom];
  int _listsDone = 0, _filesChecked = 0, _errorsFound = 0;
};

verifier::~verifier() {
  for (list_session& s : _sessions) release(s);
}

void verifier::release(list_session& s) {
  delete s.file;
  s.file = nullptr;
  s.record = nullptr;
}

int verifier::run() {
  for (;;) {
    // Read ahead while there is room, and report what is ready meanwhile.
    while (canRead() && _count < aheadMost && !_hashing.full()) {
      int code = readNext();
      if (code != 0) return code;
      while (_count > 0 && headReady()) {
        code = report(at(0));
        if (code != 0) return code;
      }
    }
    if (_count == 0) return 0;
    int code = report(at(0));
    if (code != 0) return code;
  }
}

bool verifier::canRead() const {
  if (_reading != nullptr) return true;
  return !_listsEnded && _open < openMost;
}

int verifier::readNext() {
  if (_reading == nullptr) return openNext();
  list_session& s = *_reading;
  if (s.endPending) {
    pushEnd(s);
  } else {
    readEntry(s);
  }
  return 0;
}

// Opens the next list; one that cannot be opened is reported in its turn,
// as is a line gathering wrote before it.
int verifier::openNext() {
  list_item item;
  if (!_lists.next(&item)) {
    _listsEnded = true;
    status_line::listEnded(static_cast<long>(_read));
    if (_lists.ended() != 0) {
      listed_entry& entry = at(_count++);
      entry.what = listed_entry::searchEnded;
      entry.code = _lists.ended();
    }
    return 0;
  }
  if (item.what == list_item::line) {
    listed_entry& entry = at(_count++);
    entry.what = listed_entry::gathered;
    entry.text = item.text;
    entry.toError = item.toError;
    return 0;
  }
  list_session& s = _sessions[(_firstOpen + _open) % openMost];
  ++_open;
  // Fresh, but its lead's room is left as it is: openList() writes it.
  new (&s) list_session;
  s.list = item.ref;
  bool noMemory = false;
  s.code = openList(s, &noMemory);
  if (noMemory) {
    ::report("Out of memory\n");
    return error::unknown_error;
  }
  if (s.code != 0) {
    release(s);
    pushed(s, listed_entry::unopenedList).reason = error::unknown_errno();
    return 0;
  }
  if (s.guessed) pushed(s, listed_entry::guessedList);
  _reading = &s;
  return 0;
}

// The list's type, container and the lead of its entries' paths: 0, or the
// code that keeps it from being read.
int verifier::openList(list_session& s, bool* noMemory) {
  const char* name = s.list.name;
  if (strlen(name) >= static_cast<size_t>(pathRoom)) return error::path_error;
  int type = _settings.typeForced ? _settings.type : typeFromName(name);
  if (type < 0) {
    type = guessedType(name, &s.guessed);
    if (type < 0) return type;
  }
  s.type = type;
  s.file = newList(type);
  s.shown = _shown.of(type);
  if (s.file == nullptr || s.shown == nullptr) {
    *noMemory = true;
    return error::unknown_error;
  }
  if (type == type_sfv) s.record = static_cast<sfv*>(s.file);
  bytesToWide(_path, name, pathRoom);
  int code = s.file->open(_path);
  if (code != 0) return code;
  // Entries of a list found in a directory are looked up beside it; those
  // of a list named, from the current directory or -p.
  const char* lead = _settings.parent;
  size_t length = lead != nullptr ? strlen(lead) : 0;
  if (s.list.nearby) {
    lead = name;
    length = static_cast<size_t>(strrchr(name, '/') - name) + 1;
  }
  for (size_t i = 0; i < length; ++i) s.lead[i] = static_cast<unsigned char>(lead[i]);
  s.prefix = length;
  if (length > 0 && s.lead[length - 1] != L'/') s.lead[s.prefix++] = L'/';
  return 0;
}

void verifier::readEntry(list_session& s) {
  wchar_t* path = _path;
  wmemcpy(path, s.lead, s.prefix);
  listed_entry& entry = at(_count);
  // Sizes from the list's comments serve the status line alone.
  entry.listedSize = ~0ULL;
  int read = s.file->getNextFile(path + s.prefix, pathRoom - static_cast<int>(s.prefix),
                                 status_line::showing() ? &entry.listedSize : nullptr, entry.expected);
  if (read == 0) {
    pushEnd(s);
    return;
  }
  if (read < 0) {
    // A malformed line spoils only itself; other failures end the list.
    pushed(s, listed_entry::unreadable);
    entry.code = read;
    entry.reason = error::unknown_errno();
    entry.line = s.file->lineNumber();
    s.endPending = read != error::invalid_line;
    return;
  }
  // An absolute name beside a list found in a directory stays as it is.
  if (s.list.nearby && path[s.prefix] == L'/') wmemmove(path, path + s.prefix, wcslen(path + s.prefix) + 1);
  shownBytes(entry.shown, sizeof entry.shown, path);
  int verified = s.record != nullptr ? s.record->isPreviouslyVerifiedAt(s.read, path)
                                     : s.file->isPreviouslyVerified(path);
  ++s.read;
  ++_read;
  if (verified < 0) {
    pushed(s, listed_entry::unprocessable).code = verified;
  } else if (!_settings.all && verified > 0) {
    pushed(s, listed_entry::previously);
  } else {
    // Only regular files are hashed: opening a FIFO would wait for a writer
    // for ever, and a device would be read without end or as empty.
    int code = _hashing.submit(path, s.type, engine::regularOnly, nullptr);
    pushed(s, code == 0 ? listed_entry::hashed : listed_entry::unprocessable).code = code;
    if (code == 0) status_line::submitted(entry.listedSize);
  }
  entry.reason = error::unknown_errno();
}

void verifier::pushEnd(list_session& s) {
  pushed(s, listed_entry::listEnd);
  _reading = nullptr;
}

bool verifier::headReady() {
  return at(0).what != listed_entry::hashed || _hashing.ready();
}

int verifier::report(listed_entry& entry) {
  --_count;
  _oldest = (_oldest + 1) % aheadMost;
  if (entry.what == listed_entry::gathered) {
    writeCaptured(entry.toError, entry.text);
    return 0;
  }
  if (entry.what == listed_entry::searchEnded) return entry.code;
  list_session& s = *entry.list;
  // Reported later than it was read: its reason comes back with it.
  if (entry.what != listed_entry::hashed) error::unknown_errno() = entry.reason;
  switch (entry.what) {
    case listed_entry::unreadable:
      if (entry.code == error::invalid_line)
        say("%s: line %lu: %ls\n", s.list.name, entry.line, error::message(entry.code));
      else
        say("Error reading %s: %ls\n", s.list.name, error::message(entry.code));
      ++s.errorsFound;
      return 0;
    case listed_entry::unprocessable:
      ++s.filesChecked;
      say("Error processing file %s: %ls\n", entry.shown, error::message(entry.code));
      return entry.code;
    case listed_entry::previously:
      ++s.filesChecked;
      if (!_settings.quiet) say("%s: Previously verified Ok\n", entry.shown);
      s.file->setPreviouslyVerified(true);
      status_line::passed();
      status_line::tick();
      return 0;
    case listed_entry::hashed:
      return reportHashed(entry);
    case listed_entry::guessedList:
      announceGuess(s.list.name, s.type);
      return 0;
    case listed_entry::unopenedList:
      return reportUnopened(s);
    case listed_entry::listEnd:
      return finishList(s);
    case listed_entry::gathered:
    case listed_entry::searchEnded:
      break;
  }
  return 0;
}

int verifier::reportHashed(listed_entry& entry) {
  list_session& s = *entry.list;
  const engine::result& result = waitForJob(_settings, _hashing, entry.shown, '\r');
  status_line::hashed(entry.listedSize, static_cast<unsigned long long>(result.opened.st_size));
  hasher& algorithm = *s.shown;
  bool verified = false;
  if (result.code == error::file_not_found && _settings.ignoreMissing) {
    s.file->setPreviouslyVerified(false);
    return 0;
  }
  ++s.filesChecked;
  if (result.code != 0) {
    ++s.errorsFound;
    say("%s: File error: %ls\n", entry.shown, error::message(result.code));
  } else if (memcmp(result.digest, entry.expected, static_cast<size_t>(algorithm.hash_size())) == 0) {
    verified = true;
    s.confirmed = true;
    if (!_settings.quiet) say("%s: Ok                   \n", entry.shown);
  } else {
    ++s.errorsFound;
    say("%s: hash mismatch: %ls != %ls\n", entry.shown, algorithm.hash_string(entry.expected),
        algorithm.hash_string(result.digest));
    if (s.guessed && !s.confirmed && ++s.mismatches == 3) {
      ::report("%s: its lines do not match their files as %s; -t chooses another type\n", s.list.name,
               typeName(s.type));
      return wrongType;
    }
  }
  // The record vouches for the very file that was hashed.
  if (s.record != nullptr)
    s.record->setHashedVerdict(verified, result.opened);
  else
    s.file->setPreviouslyVerified(verified);
  status_line::tick();
  return 0;
}

// One list named, as it always was: the run ends with the reason. Among
// many, the reason is told and counted, and the others are still verified.
int verifier::reportUnopened(list_session& s) {
  if (_single && s.code == error::path_error) {
    ::report("Path is too long\n");
  } else {
    ::report("%s: %ls\n", s.list.name, error::message(s.code));
  }
  if (_single) return s.code;
  ++_listsDone;
  ++_errorsFound;
  _firstOpen = (_firstOpen + 1) % openMost;
  --_open;
  return 0;
}

int verifier::finishList(list_session& s) {
  const char* name = s.list.name;
  // A record that could not be saved is no file's error: the verdicts stand.
  int code = s.file->close();
  warnUnlocked(*s.file, name);
  if (code != 0)
    ::report("Warning: could not save the verification record of %s: %ls\n", name, error::message(code));
  release(s);
  _firstOpen = (_firstOpen + 1) % openMost;
  --_open;
  // As md5sum does: a list whose every file is missing verified nothing,
  // which is no success.
  bool nothingVerified = _settings.ignoreMissing && s.read > 0 && s.filesChecked == 0;
  if (_single) {
    say("%d files checked\n", s.filesChecked);
    if (s.errorsFound != 0)
      say("%d errors detected\n", s.errorsFound);
    else if (!nothingVerified)
      say("All files Ok\n");
  }
  if (nothingVerified) {
    ::report("%s: no file was verified\n", name);
    ++s.errorsFound;
  }
  if (!_single) {
    if (s.errorsFound != 0)
      say("%s: %d files checked, %d errors\n", name, s.filesChecked, s.errorsFound);
    else
      say("%s: %d files checked, all Ok\n", name, s.filesChecked);
  }
  ++_listsDone;
  _filesChecked += s.filesChecked;
  _errorsFound += s.errorsFound;
  return 0;
}

}  // namespace

namespace {

int verifyLists(const run_settings& settings, engine& hashing, int argc, char** argv) {
  list_set lists;
  int code = lists.gather(settings, argc, argv);
  if (code != 0) return code;
  verifier entries(settings, hashing, lists, aheadEntries);
  code = entries.run();
  if (code != 0) return code;
  if (lists.single()) return entries.errorsFound() != 0 ? 1 : 0;
  int errors = entries.errorsFound() + (lists.leftOut() ? 1 : 0);
  say("%d lists, %d files checked\n", entries.lists(), entries.filesChecked());
  if (lists.count() == 0) {
    report("No checksum lists found\n");
    return 1;
  }
  if (errors != 0) {
    say("%d errors detected\n", errors);
    return 1;
  }
  say("All files Ok\n");
  return 0;
}

}  // namespace

int verifyRun(const run_settings& settings, engine& hashing, int argc, char** argv) {
  // The lead must fit the path buffer whole: nothing is checked under a cut
  // name.
  size_t lead = settings.parent != nullptr ? strlen(settings.parent) : 0;
  if (lead > 0 && settings.parent[lead - 1] != '/') ++lead;
  if (lead >= static_cast<size_t>(pathRoom)) {
    report("Path is too long\n");
    return error::path_error;
  }
  int result = verifyLists(settings, hashing, argc, argv);
  // Once the lists found are given back.
  if (result == 0) programPool().release_all();
  return result;
}
