// A small libzorvik user: hashes standard input with CRC-32 and MD5 and,
// given an SFV file, lists its entries, marking those whose stored CRC-32
// is the one of standard input.
//
//   printf 123456789 | hash_stdin list.sfv
//
// Reading an SFV file may store a signature setting in
// $HOME/.config/zorvik/zorvik.conf, as the zorvik program does.

#include <cstdint>
#include <cstdio>
#include <cstring>

#include <zorvik/container.h>
#include <zorvik/hasher.h>
#include <zorvik/text.h>

namespace {

constexpr int pathRoom = 4096;

int listEntries(const char* file, uint32_t inputCrc) {
  wchar_t path[pathRoom];
  if (bytesToWide(path, file, pathRoom) < 0) {
    fprintf(stderr, "%s: name too long\n", file);
    return 2;
  }
  sfv list;
  int code = list.open(path);
  if (code != 0) {
    fprintf(stderr, "%s: cannot open (error %d)\n", file, code);
    return 2;
  }
  wchar_t name[pathRoom];
  char bytes[pathRoom];
  unsigned long long size;
  unsigned char expected[64];
  while ((code = list.getNextFile(name, pathRoom, &size, expected)) > 0) {
    uint32_t stored;
    memcpy(&stored, expected, sizeof stored);
    // Names are bytes: narrow them back rather than printing wide text,
    // which the C locale cannot show beyond ASCII.
    if (wideToBytes(bytes, name, sizeof bytes) < 0) strcpy(bytes, "?");
    printf("%s %08X%s\n", bytes, stored, stored == inputCrc ? " matches" : "");
  }
  list.close();
  if (code < 0) {
    fprintf(stderr, "%s: unreadable entry (error %d)\n", file, code);
    return 1;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  crc crc32;
  md5hasher digest;
  crc32.init();
  digest.init();

  static unsigned char buffer[1 << 16];
  size_t length;
  while ((length = fread(buffer, 1, sizeof buffer, stdin)) > 0) {
    crc32.update(buffer, static_cast<unsigned int>(length));
    digest.update(buffer, static_cast<unsigned int>(length));
  }
  if (ferror(stdin)) {
    perror("standard input");
    return 2;
  }
  crc32.finalize();
  digest.finalize();

  // The CRC-32 bytes are the register in native order, as SFV files
  // show it in eight hexadecimal digits.
  uint32_t value;
  memcpy(&value, crc32.hash(), sizeof value);
  printf("CRC-32 %08X\n", value);
  printf("MD5 %ls\n", digest.hash_string());

  return argc > 1 ? listEntries(argv[1], value) : 0;
}
