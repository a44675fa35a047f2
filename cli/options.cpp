#include "options.h"

#include <getopt.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <zorvik/error.h>
#include <zorvik/version.h>

#include "output.h"

namespace {

// Long options without a short form.
enum { ignoreMissingOption = 256, statusOption, filesFromOption, excludeOption, sortOption,
       noProgressOption };

const option longOptions[] = {
    {"create", required_argument, nullptr, 'c'},
    {"type", required_argument, nullptr, 't'},
    {"recursive", no_argument, nullptr, 'r'},
    {"all", no_argument, nullptr, 'a'},
    {"one-file-system", no_argument, nullptr, 'x'},
    {"quiet", no_argument, nullptr, 'q'},
    {"parent", required_argument, nullptr, 'p'},
    {"help", no_argument, nullptr, 'h'},
    {"version", no_argument, nullptr, 'V'},
    {"jobs", required_argument, nullptr, 'j'},
    {"update", required_argument, nullptr, 'u'},
    {"ignore-missing", no_argument, nullptr, ignoreMissingOption},
    {"status", no_argument, nullptr, statusOption},
    {"files-from", required_argument, nullptr, filesFromOption},
    {"null", no_argument, nullptr, '0'},
    {"exclude", required_argument, nullptr, excludeOption},
    {"sort", no_argument, nullptr, sortOption},
    {"no-progress", no_argument, nullptr, noProgressOption},
    {nullptr, 0, nullptr, 0},
};

void adoptTypeOf(const char* name, run_settings& settings) {
  int type = typeFromName(name);
  if (type >= 0 && !settings.typeForced) settings.type = type;
}

// A count of files hashed at a time: 1 to 256, in decimal digits; 0 when
// the text is none.
int jobCount(const char* text) {
  int count = 0;
  for (const char* p = text; *p != '\0'; ++p) {
    if (*p < '0' || *p > '9' || count > 256) return 0;
    count = count * 10 + (*p - '0');
  }
  return count <= 256 ? count : 0;
}

const char* baseName(const char* path) {
  const char* slash = strrchr(path, '/');
  return slash == nullptr ? path : slash + 1;
}

}  // namespace

void printVersion(const char* name) {
  say("%s  version %s\n", name, g_version);
  puts("Copyright (C) 2026 The zorvik developers.");
  puts("This is free software; see the source for copying conditions.");
  puts("https://zorvik.org/");
  say("\n%s comes with ABSOLUTELY NO WARRANTY.\n", name);
}

void printUsage(const char* program) {
  const char* name = baseName(program);
  printVersion(name);
  say("\n%s is a fast file checksum creation and validation tool.\n\n", name);
  say("Usage: %s [OPTIONS] checksum_file\n", name);
  say("  or   %s [OPTIONS] -c checksum_file file1 file2 ...\n", name);
  puts("\nOptions");
  puts("-a, --all              always verify all files");
  puts("-c, --create=FILE      create the checksum file and write to FILE");
  puts("-p, --parent=DIR       assume DIR is the root directory for all files in the database");
  puts("-q, --quiet            suppress non-error messages");
  puts("-r, --recursive        recursively add sub-directories");
  puts("-t, --type=TYPE        force checksum file of type TYPE (default based on file extension)");
  puts("-V, --version          show version");
  puts("-x, --one-file-system  don't cross filesystem boundaries");
  puts("-j, --jobs=N           hash N files at a time (default: one per CPU available)");
  puts("-u, --update=FILE      add the files FILE does not list yet (creating FILE if missing)");
  puts("    --ignore-missing   verifying: pass over entries whose file does not exist");
  puts("    --status           verifying: print nothing, the exit status tells");
  puts("    --files-from=FILE  also list the files named in FILE, one a line (- for stdin)");
  puts("-0, --null             names in --files-from end with NUL, not a line feed");
  puts("    --exclude=PATTERN  leave out files and directories whose name matches PATTERN");
  puts("    --sort             take each directory's entries in byte order of their names");
  puts("    --no-progress      show no status line on a terminal");
  puts("\nTYPE: sfv, md5, sha1, sha256, sha512, blake2b, xxh64 or xxh128. Without -t, the");
  puts("extension (.sfv .md5 .sha1 .sha256 .sha512 .b2 .xxh64 .xxh128), the name");
  puts("(MD5SUMS SHA1SUMS SHA256SUMS SHA512SUMS B2SUMS) or else the lines tell it.");
  puts("\nVerifying, every operand is a checksum file, or a directory that stands for the");
  puts("checksum files in it (with -r, in its whole tree); their entries are looked up");
  puts("beside them.");
}

namespace {

// Takes option `c`, with its argument in optarg, when it only sets
// something; false for any other option.
bool takeSetting(int c, int argc, run_settings& settings) {
  switch (c) {
    case 'a': settings.all = true; break;
    case 'q': settings.quiet = true; break;
    case 'r': settings.recursive = true; break;
    case 'x': settings.oneFileSystem = true; break;
    case 'p': settings.parent = optarg; break;
    case 'c':
    case 'u':
      settings.createName = optarg;
      settings.update = c == 'u';
      adoptTypeOf(optarg, settings);
      break;
    case ignoreMissingOption: settings.ignoreMissing = true; break;
    case statusOption: settings.status = true; break;
    case filesFromOption: settings.filesFrom = optarg; break;
    case '0': settings.nullTerminated = true; break;
    case sortOption: settings.sorted = true; break;
    case noProgressOption: settings.noProgress = true; break;
    case excludeOption:
      // At most one a word of the command line: room for all of them.
      if (settings.excludes == nullptr)
        settings.excludes = static_cast<const char**>(calloc(static_cast<size_t>(argc), sizeof(char*)));
      if (settings.excludes != nullptr) settings.excludes[settings.excludeCount++] = optarg;
      break;
    default: return false;
  }
  return true;
}

// Takes option `c`, with its argument in optarg, when it may end the
// process's work: false then, with the value to exit with in `*value`.
bool takeOther(int c, const char* program, run_settings& settings, int* value) {
  switch (c) {
    case 't':
      settings.type = typeFromOption(optarg);
      if (settings.type < 0) {
        printUsage(program);
        *value = error::invalid_arguments;
        return false;
      }
      settings.typeForced = true;
      return true;
    case 'j':
      settings.jobs = jobCount(optarg);
      if (settings.jobs == 0) {
        printUsage(program);
        *value = error::invalid_arguments;
        return false;
      }
      return true;
    case 'V':
      printVersion(program);
      *value = 0;
      return false;
    case 'h':
      printUsage(program);
      *value = 0;
      return false;
    default:  // unknown options and missing arguments pass silently
      return true;
  }
}

}  // namespace

bool parseOptions(int argc, char** argv, run_settings& settings, int* value) {
  const char* program = argc > 0 ? argv[0] : "zorvik";
  opterr = 0;
  for (;;) {
    int index = 0;
    int c = getopt_long(argc, argv, "ap:qrc:t:xVj:u:0", longOptions, &index);
    if (c == -1) break;
    if (!takeSetting(c, argc, settings) && !takeOther(c, program, settings, value)) return false;
  }
  if (optind < argc && settings.createName == nullptr) {
    settings.checksumName = argv[optind++];
    adoptTypeOf(settings.checksumName, settings);
  }
  settings.firstOperand = optind;
  return true;
}
