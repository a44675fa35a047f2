#!/usr/bin/env python3
"""Writes crc32.txt, md5.txt and one file per further algorithm beside this
script: one "length digest" line per boundary length, over the 251-cycle
pattern (byte i is i % 251). zlib.crc32 and hashlib serve as references
independent of zorvik's code, and xxhsum (Debian package xxhash) for XXH64
and XXH128, in the canonical order it prints. The tests read the committed
files; rerun this only to add lengths:

    python3 tests/vectors/gen_vectors.py
"""
import hashlib
import os
import subprocess
import zlib

MIB = 1 << 20
LENGTHS = (list(range(0, 9)) + [55, 56, 57, 63, 64, 65, 119, 120, 127, 128, 129,
                                8191, 8192, 8193, 4 * MIB - 1, 4 * MIB, 4 * MIB + 1])
# Around SHA-512's and BLAKE2b's padding and 128-byte blocks, and XXH3's
# short-input limits (16, 128, 240 bytes), stripes (64) and blocks (1024).
MORE_LENGTHS = sorted(set(LENGTHS + [15, 16, 17, 111, 112, 113, 239, 240, 241,
                                     255, 256, 257, 1023, 1024, 1025]))


def xxhsum(option):
    def digest(data):
        out = subprocess.run(["xxhsum", option, "-"], input=data, check=True,
                             capture_output=True).stdout
        return out.split()[0].decode()
    return digest


FURTHER = {
    "sha1.txt": lambda data: hashlib.sha1(data).hexdigest(),
    "sha256.txt": lambda data: hashlib.sha256(data).hexdigest(),
    "sha512.txt": lambda data: hashlib.sha512(data).hexdigest(),
    "blake2b.txt": lambda data: hashlib.blake2b(data).hexdigest(),
    "xxh64.txt": xxhsum("-H1"),
    "xxh128.txt": xxhsum("-H2"),
}


def pattern(length):
    cycle = bytes(range(251))
    return (cycle * (length // 251 + 1))[:length]


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    with open(os.path.join(here, "crc32.txt"), "w") as crc, \
         open(os.path.join(here, "md5.txt"), "w") as md5:
        for length in LENGTHS:
            data = pattern(length)
            crc.write(f"{length} {zlib.crc32(data):08X}\n")
            md5.write(f"{length} {hashlib.md5(data).hexdigest()}\n")
    for name, digest in FURTHER.items():
        with open(os.path.join(here, name), "w") as out:
            for length in MORE_LENGTHS:
                out.write(f"{length} {digest(pattern(length))}\n")


if __name__ == "__main__":
    main()
