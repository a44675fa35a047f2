#include <cstdio>

#include <zorvik/container.h>
#include <zorvik/engine.h>
#include <zorvik/error.h>
#include <zorvik/hasher.h>

#include "node_pool.h"
#include "options.h"
#include "output.h"
#include "run.h"
#include "signals.h"
#include "status_line.h"

namespace {

int dispatch(int argc, char** argv, crc& crcHasher, sfv& sfvFile, md5hasher& md5Hasher,
             md5& md5File) {
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
  if (settings.createName == nullptr && settings.checksumName == nullptr) {
    printUsage(argc > 0 ? argv[0] : "zorvik");
    programPool().release_all();
    return 0;
  }

  if (settings.status && settings.createName == nullptr) {
    settings.quiet = true;
    keepStandardOutputSilent();
  }

  // Its workers start with the first job; it ends before the containers.
  engine hashing(settings.jobs);
  run_context context(settings, *file, *algorithm, hashing,
                      settings.type == type_sfv ? &sfvFile : nullptr);
  status_line::begin(!settings.quiet && !settings.noProgress, hashing);
  int result = settings.createName != nullptr ? createRun(context, argc, argv) : verifyRun(context);
  status_line::end();
  return result;
}

}  // namespace

int main(int argc, char** argv) {
  discardWritingOnSignals();
  // The containers and hashers of both types exist in every run and go in
  // reverse order on every path.
  crc crcHasher;
  sfv sfvFile;
  md5hasher md5Hasher;
  md5 md5File;
  return finishOutput(dispatch(argc, argv, crcHasher, sfvFile, md5Hasher, md5File));
}
