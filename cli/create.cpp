#include <sys/stat.h>

#include <cstdio>
#include <cstring>

#include <zorvik/error.h>
#include <zorvik/text.h>

#include "gather.h"
#include "node_pool.h"
#include "output.h"
#include "run.h"

namespace {

// The regular files to hash, in the order gathering found them.
path_list fileList;

// A hashed file whose entry is still to be queued: queuing it (a stat and
// an allocation) overlaps the hashing of the next file.
struct hashed_file {
  const wchar_t* path = nullptr;
  unsigned char hash[64];

  void queue(run_context& context) {
    if (path != nullptr) context.file.addFile(path, hash);
    path = nullptr;
  }
};

// Hashes the file at `path` through `buffer`, queuing `previous` meanwhile,
// and then makes it the one to queue; a code other than 0 ends the run.
int hashOne(run_context& context, const char* path, wchar_t* buffer, hashed_file& previous) {
  if (bytesToWide(buffer, path, pathRoom) < 0) {
    previous.queue(context);
    report("Path is too long\n");
    return error::path_error;
  }
  int code = context.worker.processFile(buffer, &context.algorithm);
  previous.queue(context);
  if (code != 0) {
    printf("Error processing file %s: %ls\n", path, error::message(code));
    return code;
  }
  waitForJob(context, path, '\n');
  code = context.worker.getResult();
  if (code != 0) {
    printf("%s: File error: %ls\n", path, error::message(code));
    return code;
  }
  previous.path = buffer;
  memcpy(previous.hash, context.algorithm.hash(), context.algorithm.hash_size());
  return 0;
}

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
  int code = context.file.create(context.path);
  if (code != 0) {
    printf("Error creating sfv file: %ls\n", error::message(code));
    return code;
  }
  if (context.file.writingStatus(&status)) created_file::note(created.writing, status);

  path_list directories;
  code = gatherFiles(context.settings, argc, argv, created, fileList, directories);
  // Two path buffers in turn: the worker borrows one while the entry of
  // the file before is queued from the other.
  wchar_t otherPath[pathRoom];
  wchar_t* buffers[2] = {context.path, otherPath};
  hashed_file previous;
  int turn = 0;
  for (path_node* node = fileList.head; code == 0 && node != nullptr; node = node->next) {
    code = hashOne(context, node->path, buffers[turn], previous);
    turn ^= 1;
  }
  previous.queue(context);
  // Also on failure: the pool's release at exit would not free the heap
  // copies of long paths.
  fileList.release();
  directories.release();
  if (code != 0) return code;

  code = context.file.close();
  if (code != 0) {
    printf("Error writing checksum file: %ls\n", error::message(code));
    return code;
  }
  programPool().release_all();
  return 0;
}
