#include <zorvik/version.h>

const char* const g_version = ZORVIK_VERSION_TEXT;
