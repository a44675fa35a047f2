#include <cstdio>

#include <zorvik/version.h>

int main() {
  printf("zorvik %s: not built yet\n", g_version);
  return 0;
}
