// mt_asprintf.cpp: heap strings from the formatting engine (gen_asprintf),
// float classification and GenFreer.
//
// gen_avsprintf collects the engine's pieces in a 1024-byte first chunk on
// the stack and an overflow block that grows to twice (its size + the new
// piece), then allocates the result at its exact length + 1.
#include <cmath>
#include <cstring>
#include <type_traits>

#include "shared/indgen.h"
#include "shared/mt_vsprintf.h"

namespace {

struct Collector {
  char first[1024];
  size_t used = 0;        // bytes in first
  char *overflow = nullptr;
  size_t olen = 0;        // bytes in overflow
  size_t ocap = 0;
};

int collect(void *target, const char *chars, int count) {
  auto *c = static_cast<Collector *>(target);
  size_t n = static_cast<size_t>(count);
  size_t room = sizeof c->first - c->used;
  if (c->overflow == nullptr && n <= room) {
    std::memcpy(c->first + c->used, chars, n);
    c->used += n;
    return count;
  }
  if (room > 0) {
    std::memcpy(c->first + c->used, chars, room);
    c->used += room;
    chars += room;
    n -= room;
  }
  if (c->olen + n > c->ocap) {
    c->ocap = 2 * (c->ocap + n);
    c->overflow = static_cast<char *>(gen_allocate(c->overflow, c->ocap, 1));
  }
  std::memcpy(c->overflow + c->olen, chars, n);
  c->olen += n;
  return count;
}

// A va_list can only be compared with null where it is a pointer type.
template <class T>
bool is_null_list(T list) {
  if constexpr (std::is_pointer_v<T>) {
    return list == nullptr;
  } else {
    return false;
  }
}

}  // namespace

char *gen_avsprintf(const char *format, va_list args) {
  if (!format) {
    gen_error("[gen_asprintf]: Format was NULL (illegal).");
    return nullptr;
  }
  if (is_null_list(args)) {
    gen_error("[gen_asprintf]: vlist was NULL (illegal).");
    return nullptr;
  }
  Collector c;
  int n = MT_Vsprintf(format, args, &c, collect);
  char *result = nullptr;
  if (n >= 0) {
    result = static_cast<char *>(gen_allocate(nullptr, c.used + c.olen + 1, 1));
    std::memcpy(result, c.first, c.used);
    if (c.olen) std::memcpy(result + c.used, c.overflow, c.olen);
    result[c.used + c.olen] = 0;
  }
  gen_free(c.overflow);
  return result;
}

char *gen_asprintf(const char *format, ...) {
  va_list args;
  va_start(args, format);
  char *s = gen_avsprintf(format, args);
  va_end(args);
  return s;
}

bool gen_isnan(double x) { return std::isnan(x); }
bool gen_isnanf(float x) { return std::isnan(x); }
bool gen_isnanl(long double x) { return std::isnan(x); }
bool gen_finite(double x) { return std::isfinite(x); }
bool gen_finitef(float x) { return std::isfinite(x); }
bool gen_isinf(double x) { return !std::isfinite(x); }

GenFreer::~GenFreer() {
  for (int i = 0; i < count_; ++i) gen_free(blocks_[i]);
  gen_free(blocks_);
}

void *GenFreer::mark(void *pointer) {
  if (!pointer) return pointer;
  if (count_ == capacity_) {
    capacity_ = capacity_ ? 2 * capacity_ : 8;
    blocks_ = static_cast<void **>(gen_allocate(blocks_, static_cast<size_t>(capacity_), sizeof(void *)));
  }
  blocks_[count_++] = pointer;
  return pointer;
}

char **GenFreer::markStringArray(char **array, int count) {
  if (!array) return array;
  for (int i = 0; count < 0 ? array[i] != nullptr : i < count; ++i) mark(array[i]);
  mark(static_cast<void *>(array));
  return array;
}

void GenFreer::cancel(void *pointer) {
  if (!pointer) return;
  for (int i = count_ - 1; i >= 0; --i) {
    if (blocks_[i] == pointer) {
      blocks_[i] = blocks_[--count_];
      return;
    }
  }
}

void GenFreer::cancelAll() { count_ = 0; }
