#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <zorvik/error.h>
#include <zorvik/text.h>

#include "gather.h"
#include "node_pool.h"
#include "output.h"
#include "run.h"
#include "status_line.h"

namespace {

// The regular files to hash, in the order gathering found them.
path_list fileList;

// A result taken from the engine while gathering still runs: nothing of a
// file is shown before gathering has ended.
struct early_result {
  int code;
  int reason;  // the errno behind an Unknown error, named when it is shown
  unsigned char hash[16];
  unsigned long long size;
  struct timespec modified;
};

// Files are hashed while gathering goes on; results come back in list
// order. Those taken before gathering ends, to make room for more jobs,
// wait here in that order.
class hashing_queue : public file_sink {
public:
  explicit hashing_queue(run_context& context) : _context(context) {}
  ~hashing_queue() { free(_early); }

  int found(const path_node& file, const struct stat& status) override {
    // An update leaves out what the list already holds.
    if (_context.settings.update && _context.file.listed(file.path)) return 1;
    ++files;
    bytes += static_cast<long long>(status.st_size);
    engine& hashing = _context.hashing;
    if (hashing.full() && !keepOldest()) return outOfMemory();
    wchar_t wide[pathRoom];
    if (bytesToWide(wide, file.path, pathRoom) < 0) {
      report("Path is too long\n");
      return error::path_error;
    }
    int code = hashing.submit(wide, _context.engineAlgorithm(), 0, nullptr);
    if (code != 0) say("Error processing file %s: %ls\n", file.path, error::message(code));
    return code;
  }

  // Listed so far: files, and their bytes as gathering saw them.
  long files = 0;
  long long bytes = 0;

  // The result for the next file of the list, shown as `shown`.
  early_result next(const char* shown) {
    if (_taken < _count) {
      if (!_context.settings.quiet) say("%s: 100%% complete\n", shown);
      return _early[_taken++];
    }
    const engine::result& result = waitForJob(_context, shown, '\n');
    return keep(result);
  }

private:
  bool keepOldest() {
    if (_count == _room) {
      size_t room = _room == 0 ? 1024 : _room * 2;
      auto* bigger = static_cast<early_result*>(realloc(_early, room * sizeof(early_result)));
      if (bigger == nullptr) return false;
      _early = bigger;
      _room = room;
    }
    _early[_count++] = keep(*_context.hashing.take(-1));
    return true;
  }

  static early_result keep(const engine::result& result) {
    early_result kept{result.code, error::unknown_errno(), {}, result.size, {}};
    memcpy(kept.hash, result.hash, sizeof kept.hash);
    kept.modified.tv_sec = static_cast<time_t>(result.modifiedSeconds);
    kept.modified.tv_nsec = result.modifiedNanoseconds;
    return kept;
  }

  static int outOfMemory() {
    report("Out of memory\n");
    return error::unknown_error;
  }

  run_context& _context;
  early_result* _early = nullptr;
  size_t _count = 0, _room = 0, _taken = 0;
};

}  // namespace

int createRun(run_context& context, int argc, char** argv) {
  const char* name = context.settings.createName;
  if (bytesToWide(context.path, name, pathRoom) < 0) {
    report("Path is too long\n");
    return error::path_error;
  }
  created_file created;
  struct stat status;
  if (stat(name, &status) == 0) created_file::note(created.replaced, status);
  int code = context.settings.update ? context.file.update(context.path) : error::file_not_found;
  if (code == error::file_not_found) code = context.file.create(context.path);
  if (code != 0) {
    say(context.settings.type == type_md5 ? "Error creating md5 file: %ls\n" : "Error creating sfv file: %ls\n",
        error::message(code));
    return code;
  }
  if (context.file.writingStatus(&status)) created_file::note(created.writing, status);

  path_list directories;
  hashing_queue queue(context);
  code = gatherFiles(context.settings, argc, argv, created, fileList, directories, queue);
  if (code == 0) status_line::totals(queue.files, queue.bytes);
  int added = 0;
  for (path_node* node = fileList.head; code == 0 && node != nullptr; node = node->next, ++added) {
    early_result result = queue.next(node->path);
    code = result.code;
    if (code != 0) {
      if (code == error::unknown_error) error::unknown_errno() = result.reason;
      say("%s: File error: %ls\n", node->path, error::message(code));
      break;
    }
    status_line::fileDone();
    status_line::tick();
    bytesToWide(context.path, node->path, pathRoom);
    context.file.addSeenFile(context.path, result.hash, result.size, result.modified);
  }
  // Also on failure: the pool's release at exit would not free the heap
  // copies of long paths.
  fileList.release();
  directories.release();
  if (code != 0) return code;

  code = context.file.close();
  if (code != 0) {
    say("Error writing checksum file: %ls\n", error::message(code));
    return code;
  }
  if (context.settings.update && !context.settings.quiet) say("%d files added\n", added);
  programPool().release_all();
  return 0;
}
