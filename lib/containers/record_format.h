#pragma once

#include <cstddef>

#include <zorvik/hasher.h>

// A line of the verification record: ";R", a decimal digit (the format) and
// a hyphen.
bool isRecordLine(const char* line, size_t length);

// The "expiretime" duration in ticks: terms of a decimal number directly
// followed by d, h, m or s (either case), adding up; 0 means no expiry.
// Sums saturate instead of overflowing.
unsigned long long expiryTicks(const char* text);

// Adds one entry line (`length` bytes, no line feed) to the digest that a
// record is bound to: every line that is neither empty nor a comment, each
// followed by a line feed, in file order.
void digestEntry(MD5_CTX* digest, const char* line, size_t length);

// The binding line's payload: the entries' digest in hexadecimal, then the
// device and inode of the directory the entries are looked up in, each
// after a hyphen. `text` needs 80 bytes.
void writeBinding(char* text, const unsigned char* digest, unsigned long long device,
                  unsigned long long inode);
// Reads it back; false when `text` is not one.
bool readBinding(const char* text, unsigned char* digest, unsigned long long* device,
                 unsigned long long* inode);
