#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include <zorvik/error.h>
#include <zorvik/text.h>

#include "gather.h"
#include "list_kinds.h"
#include "node_pool.h"
#include "output.h"
#include "run.h"
#include "status_line.h"
#include "user_identity.h"

namespace {

// The regular files to hash, in the order gathering found them.
path_list fileList;

// A result taken from the engine while gathering still runs: nothing of a
// file is shown before gathering has ended.
struct early_result {
  int code;
  int reason;  // the errno behind an Unknown error, named when it is shown
  unsigned char hash[64];  // the digest, as lists write it
  unsigned long long size;
  struct timespec modified;
  bool leftOut;  // the user may not read the file, or it vanished
};

// Files are hashed while gathering goes on; results come back in list
// order. Those taken before gathering ends, to make room for more jobs,
// wait here in that order.
//
// A file met in a walk that gathering did not look at (half of its time
// for small files) is judged by the file as hashing opens it: whether the
// user may read it, and whether it is still there. From the first such
// file on, every line gathering writes is held until each file met before
// it is judged, so that "Access denied" and "Could not stat file" lines
// keep their place among them, all before any file is shown.
class hashing_queue : public file_sink, public line_capture {
public:
  explicit hashing_queue(run_context& context)
      : _context(context), _checksAccess(!context.settings.update && !programIdentity().can_read_any()) {}
  ~hashing_queue() { free(_early); }

  bool listable(const char* path) override { return _context.file.canList(path); }
  // Only the status line shows the bytes to hash.
  bool needsSizes() const override { return status_line::showing(); }
  // An update looks at each file: one already listed is left out unread.
  bool checksAccess() const override { return _checksAccess; }

  int found(const path_node& file, const struct stat& status) override {
    // An update leaves out what the list already holds.
    if (_context.settings.update && _context.file.listed(file.path)) return 1;
    if (status.st_size > 0) bytes += static_cast<long long>(status.st_size);
    engine& hashing = _context.hashing;
    if (hashing.full() && !keepOldest()) return outOfMemory();
    wchar_t wide[pathRoom];
    if (bytesToWide(wide, file.path, pathRoom) < 0) {
      report("Path is too long\n");
      return error::path_error;
    }
    int code = hashing.submit(wide, _context.engineAlgorithm(), 0, nullptr);
    if (code != 0) {
      say("Error processing file %s: %ls\n", file.path, error::message(code));
    } else {
      try {
        _verdicts.push_back(lookedAt(status) ? readable : unjudged);
      } catch (const std::bad_alloc&) {
        return outOfMemory();
      }
      // From the first file not looked at, gathering's lines wait their turn.
      if (!lookedAt(status) && !_holding) {
        _holding = true;
        captureLines(this);
      }
      advance();
    }
    return code;
  }

  // Judges the files hashing has not given back yet by a look of their
  // own, and writes every line held, in order.
  void endGathering() {
    if (!_holding) return;
    _holding = false;
    captureLines(nullptr);
    // Results already there tell; the other files are looked at.
    while (_judged < _verdicts.size() && _context.hashing.ready() && keepOldest()) {
    }
    for (size_t i = _judged; i < _verdicts.size(); ++i)
      if (_verdicts[i] == unjudged) judge(i, nullptr);
    advance();
  }

  void captured(bool toError, const char* line) override {
    if (_held.empty() && _judged == _verdicts.size()) {
      writeCaptured(toError, line);
      return;
    }
    try {
      _held.push_back(held_line{_verdicts.size(), toError, line});
    } catch (const std::bad_alloc&) {
      writeCaptured(toError, line);  // out of place rather than lost
    }
  }

  // Listed so far: files, and their bytes as gathering saw them.
  long files() const { return static_cast<long>(_verdicts.size()); }
  long long bytes = 0;
  // Whether a file met was left out as one the user may not read.
  bool refusedAny() const { return _refusedAny; }

  // The result for the next file of the list, shown as `shown`.
  early_result next(const char* shown) {
    bool leftOut = _verdicts[_shown++] != readable;
    if (_taken < _count) {
      early_result& kept = _early[_taken++];
      if (!leftOut && !_context.settings.quiet) say("%s: 100%% complete\n", shown);
      kept.leftOut = leftOut;
      return kept;
    }
    if (leftOut) {
      early_result kept = keep(*_context.hashing.take(-1));
      kept.leftOut = true;
      return kept;
    }
    return keep(waitForJob(_context, shown, '\n'));
  }

private:
  enum verdict : unsigned char { readable, unjudged, unreadable, vanished };
  struct held_line {
    size_t position;  // files met before it
    bool toError;
    std::string text;
  };

  bool keepOldest() {
    if (_count == _room) {
      size_t room = _room == 0 ? 1024 : _room * 2;
      auto* bigger = static_cast<early_result*>(realloc(_early, room * sizeof(early_result)));
      if (bigger == nullptr) return false;
      _early = bigger;
      _room = room;
    }
    const engine::result& result = *_context.hashing.take(-1);
    size_t index = _count;
    _early[_count++] = keep(result);
    if (_verdicts[index] == unjudged) judge(index, &result);
    return true;
  }

  // Whether file `index` is still there and the user may read it: by the
  // file hashing opened, or by a look of its own when there is none. A
  // look that fails otherwise is left to hashing, which tells why.
  void judge(size_t index, const engine::result* result) {
    while (_cursorIndex < index) {
      _cursor = &(*_cursor)->next;
      ++_cursorIndex;
    }
    const char* path = (*_cursor)->path;
    struct stat status;
    const struct stat* seen = &status;
    int failure = 0;
    if (result != nullptr && result->code == 0) {
      seen = &result->opened;
    } else if (stat(path, &status) != 0) {
      seen = nullptr;
      failure = errno;
    }
    verdict judged = readable;
    if (seen != nullptr && !programIdentity().can_read(*seen))
      judged = unreadable;
    else if (failure == ENOENT)
      judged = vanished;
    _verdicts[index] = judged;
    if (judged != readable) {
      // In its place: every line held comes after it.
      if (_holding) captureLines(nullptr);
      if (judged == unreadable) {
        _refusedAny = true;
        report("Access denied to %s\n", path);
      } else {
        report("Could not stat file %s: %ls\n", path, error::message(error::from_errno(failure)));
      }
      if (_holding) captureLines(this);
    }
    advance();
  }

  // Moves past the files judged, writing the lines now in their turn.
  void advance() {
    while (_judged < _verdicts.size() && _verdicts[_judged] != unjudged) ++_judged;
    while (!_held.empty() && _held.front().position <= _judged) {
      writeCaptured(_held.front().toError, _held.front().text.c_str());
      _held.pop_front();
    }
  }

  static early_result keep(const engine::result& result) {
    early_result kept{result.code, error::unknown_errno(), {}, result.size, {}, false};
    memcpy(kept.hash, result.digest, sizeof kept.hash);
    kept.modified.tv_sec = static_cast<time_t>(result.modifiedSeconds);
    kept.modified.tv_nsec = result.modifiedNanoseconds;
    return kept;
  }

  static int outOfMemory() {
    report("Out of memory\n");
    return error::unknown_error;
  }

  run_context& _context;
  const bool _checksAccess;
  early_result* _early = nullptr;
  size_t _count = 0, _room = 0, _taken = 0, _shown = 0;
  // Of each file submitted, whether it may be read, in list order.
  std::vector<verdict> _verdicts;
  size_t _judged = 0;  // the files before it are judged
  path_node** _cursor = &fileList.head;  // the link to file _cursorIndex
  size_t _cursorIndex = 0;
  std::deque<held_line> _held;
  bool _holding = false;  // gathering's lines come here
  bool _refusedAny = false;
};

// Whether the file at `path` holds a line that reads as an entry of the
// run's type, asked of a container of that type not otherwise in use.
bool listsEntries(const run_context& context, const wchar_t* path) {
  std::unique_ptr<container> probe(newList(context.settings.type));
  return probe != nullptr && probe->holdsEntries(path);
}

// A create run does not replace a file that is plainly no checksum file
// (a disk image named by a stray glob): one that holds something, whose
// name gives no type, and in which no line reads as an entry.
bool isNoList(const run_context& context, const char* name, const struct stat& status) {
  return status.st_size > 0 && typeFromName(name) < 0 &&
         !listsEntries(context, context.path);
}

// Opens the list for writing: the existing one updated, or a new one.
int openList(run_context& context, const char* name, bool replacing, const struct stat& status) {
  if (!context.settings.update && replacing && isNoList(context, name, status))
    return error::file_already_exists;
  int code = context.settings.update ? context.file.update(context.path) : error::file_not_found;
  if (code == error::file_not_found) code = context.file.create(context.path);
  return code;
}

// Opens the list `name` for the run, noting in `created` the file it
// replaces and the one written; says why when it cannot.
int startList(run_context& context, const char* name, created_file& created, bool* replacing) {
  if (bytesToWide(context.path, name, pathRoom) < 0) {
    report("Path is too long\n");
    return error::path_error;
  }
  created.noteName(name);
  struct stat status;
  bool existed = stat(name, &status) == 0;
  if (existed) created_file::note(created.replaced, status);
  *replacing = existed && S_ISREG(status.st_mode);
  int code = openList(context, name, *replacing, status);
  if (code != 0) {
    say("Error creating %s file: %ls\n", typeName(context.settings.type), error::message(code));
    return code;
  }
  warnUnlocked(context.file, name);
  if (context.file.writingStatus(&status)) created_file::note(created.writing, status);
  return 0;
}

// Adds the gathered files to the list as their results come, in list
// order, counting them in `*added`: 0, or the code of the first that failed.
int addGathered(run_context& context, hashing_queue& queue, int* added) {
  for (path_node* node = fileList.head; node != nullptr; node = node->next) {
    early_result result = queue.next(node->path);
    if (result.leftOut) continue;
    if (result.code != 0) {
      if (result.code == error::unknown_error) error::unknown_errno() = result.reason;
      say("%s: File error: %ls\n", node->path, error::message(result.code));
      return result.code;
    }
    status_line::fileDone();
    status_line::tick();
    context.file.addSeenFile(node->path, result.hash, result.size, result.modified);
    ++*added;
  }
  return 0;
}

// Writes the list, `added` files added: 0, or the value the run ends with.
int finishList(run_context& context, const char* name, bool replacing, int added) {
  // An empty list over one with entries is most likely a mistake (a
  // directory without -r, a mistyped name): the old one stays.
  bytesToWide(context.path, name, pathRoom);
  if (added == 0 && !context.settings.update && replacing && listsEntries(context, context.path)) {
    report("No files to list: %s left as it was\n", name);
    return 1;
  }
  int code = context.file.close();
  if (code != 0) {
    say("Error writing checksum file: %ls\n", error::message(code));
    if (const char* copy = context.file.keptCopy())
      report("%s may be damaged: its old content is kept in %s\n", name, copy);
    return code;
  }
  if (context.settings.update && !context.settings.quiet) say("%d files added\n", added);
  return 0;
}

}  // namespace

void warnUnlocked(const container& file, const char* name) {
  int code = file.lockFailure();
  if (code != 0) report("Warning: could not lock %s: %ls\n", name, error::message(code));
}

int createRun(run_context& context, int argc, char** argv) {
  const char* name = context.settings.createName;
  created_file created;
  bool replacing = false;
  int code = startList(context, name, created, &replacing);
  if (code != 0) return code;

  path_list directories;
  hashing_queue queue(context);
  bool leftOut = false;
  code = gatherFiles(context.settings, argc, argv, created, fileList, directories, queue, &leftOut);
  queue.endGathering();
  if (code == 0) status_line::totals(queue.files(), queue.bytes);
  int added = 0;
  if (code == 0) code = addGathered(context, queue, &added);
  // Also on failure: the pool's release at exit would not free the heap
  // copies of long paths.
  fileList.release();
  directories.release();
  if (code == 0) code = finishList(context, name, replacing, added);
  if (code != 0) return code;
  programPool().release_all();
  // Written, but without files the user named: as md5sum and cksfv do.
  return leftOut || queue.refusedAny() ? 1 : 0;
}
