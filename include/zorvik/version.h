#pragma once

#include <zorvik/api.h>

// The library's version text, "3.00"; owned by the library.
extern "C" ZORVIK_API const char* const g_version;
