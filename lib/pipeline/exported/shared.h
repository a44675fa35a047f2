#pragma once

#include <atomic>

// Kept only for the library's exported interface. The fields its classes
// share between threads are plain in their exported layout; they are only
// ever accessed through this, with the orders given at their declarations.
template <class T>
std::atomic_ref<T> shared(T& field) {
  return std::atomic_ref<T>(field);
}
