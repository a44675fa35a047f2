/* Stands in for libcrypto where the missing-library test points the loader:
   a library of that name without any of its functions. */
int zorvikNotLibcrypto(void) { return 0; }
