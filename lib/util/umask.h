#pragma once

#include <sys/types.h>

// The process's file mode creation mask, read without changing it where
// /proc allows, since another thread could be creating files meanwhile.
mode_t currentUmask();
