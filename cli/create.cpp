#include <sys/stat.h>

#include <cstdio>

#include <zorvik/error.h>
#include <zorvik/text.h>

#include "gather.h"
#include "node_pool.h"
#include "output.h"
#include "run.h"

namespace {

// The regular files to hash, in the order gathering found them.
path_list fileList;

// Hashes the file at `path` and queues its entry; a code other than 0 ends
// the run.
int hashOne(run_context& context, const char* path) {
  if (bytesToWide(context.path, path, pathRoom) < 0) {
    report("Path is too long\n");
    return error::path_error;
  }
  int code = context.worker.processFile(context.path, &context.algorithm);
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
  context.file.addFile(context.path, context.algorithm.hash());
  return 0;
}

}  // namespace

int createRun(run_context& context, int argc, char** argv) {
  const char* name = context.settings.createName;
  if (bytesToWide(context.path, name, pathRoom) < 0) {
    report("Path is too long\n");
    return error::path_error;
  }
  int code = context.file.create(context.path);
  if (code != 0) {
    printf("Error creating sfv file: %ls\n", error::message(code));
    return code;
  }
  created_file created;
  struct stat status;
  if (stat(name, &status) == 0) {
    created.known = true;
    created.device = status.st_dev;
    created.inode = status.st_ino;
  }

  path_list directories;
  code = gatherFiles(context.settings, argc, argv, created, fileList, directories);
  for (path_node* node = fileList.head; code == 0 && node != nullptr; node = node->next) {
    code = hashOne(context, node->path);
  }
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
