#include <cstdio>

#include <zorvik/container.h>
#include <zorvik/error.h>
#include <zorvik/hasher.h>
#include <zorvik/pipeline.h>

#include "node_pool.h"
#include "options.h"
#include "output.h"
#include "signals.h"
#include "run.h"

namespace {

int dispatch(int argc, char** argv, crc& crcHasher, sfv& sfvFile, md5hasher& md5Hasher,
             md5& md5File, processor& worker) {
  run_settings settings;
  int value = 0;
  if (!parseOptions(argc, argv, settings, &value)) return value;

  container* file;
  hasher* algorithm;
  switch (settings.type) {
    case type_sfv:
      file = &sfvFile;
      algorithm = &crcHasher;
      break;
    case type_md5:
      file = &md5File;
      algorithm = &md5Hasher;
      break;
    default:
      printUsage(argc > 0 ? argv[0] : "zorvik");
      return error::invalid_arguments;
  }

  run_context context(settings, *file, *algorithm, worker);
  if (settings.createName != nullptr) return createRun(context, argc, argv);
  if (settings.checksumName != nullptr) return verifyRun(context);
  printUsage(argc > 0 ? argv[0] : "zorvik");
  programPool().release_all();
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  discardWritingOnSignals();
  // All five exist in every run and go in reverse order on every path.
  crc crcHasher;
  sfv sfvFile;
  md5hasher md5Hasher;
  md5 md5File;
  processor worker;
  worker.start();
  return finishOutput(dispatch(argc, argv, crcHasher, sfvFile, md5Hasher, md5File, worker));
}
