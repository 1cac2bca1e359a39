// twl_sort.cpp: the library sort functions. twl_sort is a quicksort with the
// pivot taken from the middle of the range (insertion sort for short
// ranges); twl_stable_sort sorts an index array and then moves the elements
// into place with the caller's swap. Both only touch elements through the
// compare and swap functions, so elements may carry outside meaning.
#include <cstdint>
#include <cstring>

#include "shared/indgen.h"

namespace {

const size_t kInsertionLimit = 8;
const size_t kStackIndexes = 64;

struct Sorter {
  void *context;
  char *base;
  size_t size;
  twl_compare_func compare;
  twl_swap_func swap;

  char *at(size_t i) const { return base + i * size; }
  int cmp(size_t a, size_t b) const { return compare(context, at(a), at(b)); }
  void exchange(size_t a, size_t b) const;
};

void swap_words(char *a, char *b, size_t size) {
  auto *wa = reinterpret_cast<uintptr_t *>(a);
  auto *wb = reinterpret_cast<uintptr_t *>(b);
  for (size_t i = 0; i < size / sizeof(uintptr_t); ++i) {
    uintptr_t t = wa[i];
    wa[i] = wb[i];
    wb[i] = t;
  }
}

void swap_bytes(char *a, char *b, size_t size) {
  for (size_t i = 0; i < size; ++i) {
    char t = a[i];
    a[i] = b[i];
    b[i] = t;
  }
}

void Sorter::exchange(size_t a, size_t b) const {
  if (a == b) return;
  if (swap) {
    swap(context, at(a), at(b));
  } else if (reinterpret_cast<uintptr_t>(base) % sizeof(uintptr_t) == 0 &&
             size % sizeof(uintptr_t) == 0) {
    swap_words(at(a), at(b), size);
  } else {
    swap_bytes(at(a), at(b), size);
  }
}

void insertion_sort(const Sorter &s, size_t lo, size_t hi) {
  for (size_t i = lo + 1; i <= hi; ++i) {
    for (size_t j = i; j > lo && s.cmp(j - 1, j) > 0; --j) s.exchange(j - 1, j);
  }
}

// Hoare partition around the middle element, whose position is followed
// through the exchanges. Returns j with [lo, j] <= pivot <= [j + 1, hi].
size_t partition(const Sorter &s, size_t lo, size_t hi) {
  size_t pivot = lo + (hi - lo) / 2;
  size_t i = lo;
  size_t j = hi;
  while (true) {
    while (s.cmp(i, pivot) < 0) ++i;
    while (s.cmp(j, pivot) > 0) --j;
    if (i >= j) return j;
    s.exchange(i, j);
    if (pivot == i) pivot = j;
    else if (pivot == j) pivot = i;
    ++i;
    --j;
  }
}

void quicksort(const Sorter &s, size_t lo, size_t hi) {
  while (hi > lo) {
    if (hi - lo < kInsertionLimit) {
      insertion_sort(s, lo, hi);
      return;
    }
    size_t mid = partition(s, lo, hi);
    // Recurse into the smaller side so the depth stays logarithmic.
    if (mid - lo < hi - mid) {
      quicksort(s, lo, mid);
      lo = mid + 1;
    } else {
      quicksort(s, mid + 1, hi);
      hi = mid;
    }
  }
}

// Orders indexes by their elements, then by input position.
struct IndexOrder {
  const Sorter *elements;
};

int compare_indexes(void *context, const void *a, const void *b) {
  const Sorter *s = static_cast<IndexOrder *>(context)->elements;
  size_t ia = *static_cast<const size_t *>(a);
  size_t ib = *static_cast<const size_t *>(b);
  int c = s->cmp(ia, ib);
  if (c != 0) return c;
  return ia < ib ? -1 : (ia > ib ? 1 : 0);
}

// Moves the element that started at order[k] to position k for every k.
void apply_order(const Sorter &s, const size_t *order, size_t *where, size_t *position, size_t n) {
  for (size_t k = 0; k < n; ++k) where[k] = position[k] = k;   // element k is at k
  for (size_t k = 0; k < n; ++k) {
    size_t from = position[order[k]];
    if (from == k) continue;
    size_t displaced = where[k];
    s.exchange(k, from);
    where[from] = displaced;
    position[displaced] = from;
    where[k] = order[k];
    position[order[k]] = k;
  }
}

}  // namespace

void twl_sort(void *context, void *base, size_t count, size_t size, twl_compare_func compare,
              twl_swap_func swap) {
  if (count < 2 || !base || !compare || size == 0) return;
  Sorter s{context, static_cast<char *>(base), size, compare, swap};
  quicksort(s, 0, count - 1);
}

void twl_stable_sort(void *context, void *base, size_t count, size_t size,
                     twl_compare_func compare, twl_swap_func swap) {
  if (count < 2 || !base || !compare || size == 0) return;
  Sorter s{context, static_cast<char *>(base), size, compare, swap};
  size_t local[3 * kStackIndexes];
  size_t *indexes = count <= kStackIndexes
                        ? local
                        : static_cast<size_t *>(gen_allocate(nullptr, 3 * count, sizeof(size_t)));
  for (size_t i = 0; i < count; ++i) indexes[i] = i;
  IndexOrder order{&s};
  twl_sort(&order, indexes, count, sizeof(size_t), compare_indexes, nullptr);
  apply_order(s, indexes, indexes + count, indexes + 2 * count, count);
  if (indexes != local) gen_free(indexes);
}
