#include <cstdio>
#include <memory>

#include <zorvik/container.h>
#include <zorvik/engine.h>
#include <zorvik/error.h>
#include <zorvik/hasher.h>

#include "list_kinds.h"
#include "node_pool.h"
#include "options.h"
#include "output.h"
#include "run.h"
#include "signals.h"
#include "status_line.h"

namespace {

// A list to update whose name says nothing takes its type from its lines.
void guessUpdatedType(run_settings& settings) {
  if (!settings.update || settings.typeForced || typeFromName(settings.createName) >= 0) return;
  bool byLength = false;
  int type = guessedType(settings.createName, &byLength);
  if (type < 0) return;  // the update reports what keeps it from the list
  settings.type = type;
  if (byLength) announceGuess(settings.createName, type);
}

int dispatch(int argc, char** argv, sfv& sfvFile, md5& md5File) {
  run_settings settings;
  int value = 0;
  if (!parseOptions(argc, argv, settings, &value)) return value;
  if (settings.createName == nullptr && settings.checksumName == nullptr) {
    printUsage(argc > 0 ? argv[0] : "zorvik");
    programPool().release_all();
    return 0;
  }

  if (settings.status && settings.createName == nullptr) {
    settings.quiet = true;
    keepStandardOutputSilent();
  }

  // A create run's list: the program's own for SFV files and MD5 lists,
  // made for the others.
  std::unique_ptr<container> other;
  container* file = &sfvFile;
  if (settings.createName != nullptr) {
    guessUpdatedType(settings);
    if (settings.type == type_md5) {
      file = &md5File;
    } else if (settings.type != type_sfv) {
      other.reset(newList(settings.type));
      file = other.get();
      if (file == nullptr) {
        report("Out of memory\n");
        return error::unknown_error;
      }
    }
  }

  // Its workers start with the first job; it ends before the containers.
  engine hashing(settings.jobs);
  status_line::begin(!settings.quiet && !settings.noProgress, hashing);
  int result;
  if (settings.createName != nullptr) {
    run_context context(settings, *file, hashing);
    result = createRun(context, argc, argv);
  } else {
    // Each list of the run gets a container of its own type.
    result = verifyRun(settings, hashing, argc, argv);
  }
  status_line::end();
  return result;
}

}  // namespace

int main(int argc, char** argv) {
  discardWritingOnSignals();
  // The containers and hashers of SFV files and MD5 lists exist in every
  // run and go in reverse order on every path, used or not.
  crc crcHasher;
  sfv sfvFile;
  md5hasher md5Hasher;
  md5 md5File;
  return finishOutput(dispatch(argc, argv, sfvFile, md5File));
}
