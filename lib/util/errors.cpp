#include <zorvik/error.h>

namespace error {

int& unknown_errno() {
  static thread_local int value = 0;
  return value;
}

}  // namespace error
