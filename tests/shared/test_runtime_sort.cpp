// twl_sort and twl_stable_sort against std::sort and std::stable_sort on
// random data, with and without a swap function, for word-sized and odd
// element sizes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <vector>

#include "shared/indgen.h"

namespace {

int compare_ints(void *context, const void *a, const void *b) {
  if (context) ++*static_cast<int *>(context);
  int x = *static_cast<const int *>(a);
  int y = *static_cast<const int *>(b);
  return x < y ? -1 : (x > y ? 1 : 0);
}

struct Record {
  int key;
  int sequence;
};

int compare_keys(void *, const void *a, const void *b) {
  int x = static_cast<const Record *>(a)->key;
  int y = static_cast<const Record *>(b)->key;
  return x < y ? -1 : (x > y ? 1 : 0);
}

void swap_records(void *context, void *a, void *b) {
  ++*static_cast<int *>(context);
  std::swap(*static_cast<Record *>(a), *static_cast<Record *>(b));
}

// Three-byte elements: exchanged byte by byte.
struct Odd {
  unsigned char b[3];
};

int compare_odd(void *, const void *a, const void *b) {
  return std::memcmp(a, b, 3);
}

TEST(TwlSort, MatchesStdSortOnRandomSortedReversedAndEqualData) {
  std::mt19937 rng(7);
  for (int n : {0, 1, 2, 3, 7, 8, 9, 64, 65, 1000, 5000}) {
    for (int range : {3, 1000000}) {
      std::vector<int> data(static_cast<size_t>(n));
      for (int &v : data) v = static_cast<int>(rng() % range) - range / 2;
      std::vector<int> expect = data;
      std::sort(expect.begin(), expect.end());
      int calls = 0;
      twl_sort(&calls, data.data(), data.size(), sizeof(int), compare_ints, nullptr);
      EXPECT_EQ(data, expect) << "n=" << n << " range=" << range;
      if (n < 2) {
        EXPECT_EQ(calls, 0);
      }
    }
  }
  // Sorted, reversed and all-equal inputs.
  std::vector<int> up(3000), down(3000), same(3000, 5);
  for (int i = 0; i < 3000; ++i) {
    up[static_cast<size_t>(i)] = i;
    down[static_cast<size_t>(i)] = 3000 - i;
  }
  for (std::vector<int> *v : {&up, &down, &same}) {
    std::vector<int> expect = *v;
    std::sort(expect.begin(), expect.end());
    twl_sort(nullptr, v->data(), v->size(), sizeof(int), compare_ints, nullptr);
    EXPECT_EQ(*v, expect);
  }
}

TEST(TwlSort, OddElementSizeAndCallerSwap) {
  std::mt19937 rng(11);
  std::vector<Odd> odd(500);
  for (Odd &o : odd) {
    for (unsigned char &c : o.b) c = static_cast<unsigned char>(rng() % 4);
  }
  twl_sort(nullptr, odd.data(), odd.size(), sizeof(Odd), compare_odd, nullptr);
  for (size_t i = 1; i < odd.size(); ++i) ASSERT_LE(std::memcmp(&odd[i - 1], &odd[i], 3), 0);

  std::vector<Record> records(300);
  for (Record &r : records) r = {static_cast<int>(rng() % 50), 0};
  int swaps = 0;
  twl_sort(&swaps, records.data(), records.size(), sizeof(Record), compare_keys, swap_records);
  EXPECT_GT(swaps, 0);
  EXPECT_TRUE(std::is_sorted(records.begin(), records.end(),
                             [](const Record &a, const Record &b) { return a.key < b.key; }));
}

TEST(TwlStableSort, KeepsEqualElementsInInputOrder) {
  std::mt19937 rng(3);
  for (int n : {0, 1, 2, 10, 64, 65, 2000}) {
    for (bool callerSwap : {false, true}) {
      std::vector<Record> data(static_cast<size_t>(n));
      for (int i = 0; i < n; ++i) data[static_cast<size_t>(i)] = {static_cast<int>(rng() % 7), i};
      std::vector<Record> expect = data;
      std::stable_sort(expect.begin(), expect.end(),
                       [](const Record &a, const Record &b) { return a.key < b.key; });
      int swaps = 0;
      twl_stable_sort(&swaps, data.data(), data.size(), sizeof(Record), compare_keys,
                      callerSwap ? swap_records : nullptr);
      for (size_t i = 0; i < data.size(); ++i) {
        ASSERT_EQ(data[i].key, expect[i].key) << "n=" << n << " at " << i;
        ASSERT_EQ(data[i].sequence, expect[i].sequence) << "n=" << n << " at " << i;
      }
    }
  }
}

}  // namespace
