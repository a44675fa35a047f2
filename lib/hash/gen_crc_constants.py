#!/usr/bin/env python3
"""Derives the carry-less multiply folding constants in crc_fold.h (used by
crc_clmul.cpp and crc_vpclmul.cpp) for the reflected CRC-32 polynomial
0xEDB88320 (the one SFV files and Zip use), and checks the folding scheme
against zlib.crc32.

    python3 lib/hash/gen_crc_constants.py           # print the constants
    python3 lib/hash/gen_crc_constants.py --check   # also simulate the scheme,
                                                    # compare with zlib and with
                                                    # the lines in crc_fold.h

Bit layout. In a reflected 64-bit lane, bit i holds the coefficient of
x^(63-i); PCLMULQDQ of two such lanes yields x * A * B in the 128-bit
reflected layout. So a constant that must multiply by x^e mod P holds
x^(e-1) mod P, placed in bits 32..63 (see `fold_constant`).
"""
import os
import random
import sys
import zlib

# P(x) = x^32 + ... in normal (non-reflected) bit order: 0x104C11DB7.
P = 0x104C11DB7


def reflect(value, bits):
    out = 0
    for i in range(bits):
        if value >> i & 1:
            out |= 1 << (bits - 1 - i)
    return out


def polymod(a, m):
    dm = m.bit_length() - 1
    while a and a.bit_length() - 1 >= dm:
        a ^= m << (a.bit_length() - 1 - dm)
    return a


def polydiv(a, m):
    q = 0
    dm = m.bit_length() - 1
    while a and a.bit_length() - 1 >= dm:
        s = a.bit_length() - 1 - dm
        q |= 1 << s
        a ^= m << s
    return q


def xpow_mod(e):
    return polymod(1 << e, P)


def fold_constant(e):
    """Lane value that a reflected carry-less multiply turns into x^e mod P."""
    r = xpow_mod(e - 1)  # degree <= 31
    out = 0
    for d in range(32):
        if r >> d & 1:
            out |= 1 << (63 - d)
    return out


def fold_pair(distance):
    """(low lane, high lane) constants that move a 128-bit block `distance` bits on."""
    return fold_constant(distance + 64), fold_constant(distance)


# Final reduction: 128 -> 96 -> 64 bits, then Barrett to 32.
K96 = fold_constant(96)
K64 = fold_constant(64)
MU = reflect(polydiv(1 << 64, P), 33)  # floor(x^64 / P), 33 bits reflected
POLY = reflect(P, 33)                  # P itself, 33 bits reflected


def constants():
    """(name, low lane, high lane) in the order the C++ files list them."""
    out = []
    for distance in (128, 256, 384, 512, 640, 768, 896, 1024, 1536, 2048):
        out.append((f"fold{distance}", *fold_pair(distance)))
    out.append(("reduce", K96, K64))
    out.append(("barrett", MU, POLY))
    return out


# ---- simulation of the scheme the C++ code uses --------------------------

M64 = (1 << 64) - 1
M128 = (1 << 128) - 1


def clmul(a, b):
    r = 0
    while b:
        if b & 1:
            r ^= a
        a <<= 1
        b >>= 1
    return r


def lo(v):
    return v & M64


def hi(v):
    return v >> 64 & M64


def fold(acc, pair):
    return clmul(lo(acc), pair[0]) ^ clmul(hi(acc), pair[1])


def load(data, pos):
    return int.from_bytes(data[pos:pos + 16], "little")


def table_update(reg, data):
    for byte in data:
        reg ^= byte
        for _ in range(8):
            reg = (reg >> 1) ^ (0xEDB88320 if reg & 1 else 0)
    return reg


def reduce128(acc):
    t = clmul(lo(acc), K96) ^ (acc >> 64 << 32)  # x^32 * acc, folded to 96 bits
    # 96 -> 64: fold the upper 32 coefficients (bits 32..63) onto the rest.
    w = hi(clmul(lo(t), K64) ^ t)
    q = clmul(w & 0xFFFFFFFF, MU) & 0xFFFFFFFF
    return (clmul(q, POLY) ^ w) >> 32 & 0xFFFFFFFF


def clmul_update(reg, data, lanes=1):
    """Folds `lanes` parallel 128-bit accumulators, then one, then the tail."""
    n = len(data)
    if n < 16:
        return table_update(reg, data)
    pos = 0
    pairs = {1: fold_pair(128), 4: fold_pair(512), 16: fold_pair(2048)}
    if n >= 32 * lanes and lanes > 1:
        accs = [load(data, 16 * i) for i in range(lanes)]
        accs[0] ^= reg
        pos = 16 * lanes
        while n - pos >= 16 * lanes:
            accs = [fold(accs[i], pairs[lanes]) ^ load(data, pos + 16 * i) for i in range(lanes)]
            pos += 16 * lanes
        acc = 0
        for i, a in enumerate(accs):
            acc ^= fold(a, fold_pair(128 * (lanes - 1 - i))) if i < lanes - 1 else a
    else:
        acc = load(data, 0) ^ reg
        pos = 16
    while n - pos >= 16:
        acc = fold(acc, pairs[1]) ^ load(data, pos)
        pos += 16
    r = n - pos
    if r:
        head = (acc << (8 * (16 - r))) & M128           # first r bytes of acc
        rest = (acc >> (8 * r)) | (load(data, n - 16) >> (8 * (16 - r)) << (8 * (16 - r)))
        acc = fold(head, pairs[1]) ^ rest
    return reduce128(acc)


def check():
    rng = random.Random(1)
    lengths = list(range(0, 300)) + [rng.randrange(300, 5000) for _ in range(200)]
    for lanes in (1, 4, 16):
        for n in lengths:
            data = bytes(rng.randrange(256) for _ in range(n))
            reg = rng.randrange(1 << 32)
            want = zlib.crc32(data, reg ^ 0xFFFFFFFF) ^ 0xFFFFFFFF
            got = clmul_update(reg, data, lanes)
            if got != want:
                sys.exit(f"mismatch lanes={lanes} n={n}: {got:08x} != {want:08x}")
    print("folding scheme matches zlib.crc32", file=sys.stderr)


def lines():
    yield "// Generated by lib/hash/gen_crc_constants.py: {low lane, high lane}."
    for name, low, high in constants():
        yield f"constexpr crcPair {name}{{0x{low:016x}, 0x{high:016x}}};"


def main():
    if "--check" in sys.argv:
        check()
        header = os.path.join(os.path.dirname(os.path.abspath(__file__)), "crc_fold.h")
        with open(header) as f:
            text = f.read()
        missing = [line for line in lines() if line not in text]
        if missing:
            sys.exit("crc_fold.h differs from the derived constants:\n" + "\n".join(missing))
        print("crc_fold.h holds the derived constants", file=sys.stderr)
    for line in lines():
        print(line)


if __name__ == "__main__":
    main()
