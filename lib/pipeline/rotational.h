#pragma once

#include <sys/types.h>

// Whether the files of device `device` (st_dev) lie on a disk that reports
// itself rotational. Looked up once per device and kept (thread-safe).
bool isRotational(dev_t device);

// Test seam: the root of the sysfs tree the lookup reads ("/sys" unless
// set); forgets what was looked up before.
void setSysfsRoot(const char* root);
