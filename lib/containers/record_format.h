#pragma once

#include <cstddef>

// A line of the verification record: ";R", a decimal digit (the format) and
// a hyphen.
bool isRecordLine(const char* line, size_t length);

// The "expiretime" duration in ticks: terms of a decimal number directly
// followed by d, h, m or s (either case), adding up; 0 means no expiry.
// Sums saturate instead of overflowing.
unsigned long long expiryTicks(const char* text);
