#pragma once

// Marks what the shared library exports; everything else stays hidden.
#define ZORVIK_API __attribute__((visibility("default")))
