#!/usr/bin/env python3
"""Writes crc32.txt and md5.txt beside this script: one "length digest" line
per boundary length, over the 251-cycle pattern (byte i is i % 251).
zlib.crc32 and hashlib.md5 serve as references independent of zorvik's code.
The tests read the committed files; rerun this only to add lengths:

    python3 tests/vectors/gen_vectors.py
"""
import hashlib
import os
import zlib

MIB = 1 << 20
LENGTHS = (list(range(0, 9)) + [55, 56, 57, 63, 64, 65, 119, 120, 127, 128, 129,
                                8191, 8192, 8193, 4 * MIB - 1, 4 * MIB, 4 * MIB + 1])


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


if __name__ == "__main__":
    main()
