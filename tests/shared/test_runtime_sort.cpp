// twl_sort and twl_stable_sort against std::stable_sort on random, sorted,
// reversed and all-equal data, with and without a swap function, for
// word-sized and odd element sizes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <vector>

#include "shared/indgen.h"

namespace {

// Three-byte records: a key and the input position (exchanged byte by byte
// unless the caller's swap is used).
struct Record {
  unsigned char key, seqHigh, seqLow;
};

int compare_keys(void *calls, const void *a, const void *b) {
  if (calls) ++*static_cast<int *>(calls);
  return static_cast<const Record *>(a)->key - static_cast<const Record *>(b)->key;
}

void swap_records(void *, void *a, void *b) { std::swap(*static_cast<Record *>(a), *static_cast<Record *>(b)); }

// Every size around the sorts' thresholds in five patterns: few keys,
// random, sorted, reversed, all equal.
std::vector<std::vector<Record>> inputs(std::mt19937 &rng) {
  std::vector<std::vector<Record>> out;
  for (int n : {0, 1, 2, 3, 7, 8, 9, 64, 65, 1000, 3000}) {
    for (int pattern = 0; pattern < 5; ++pattern) {
      std::vector<Record> v;
      for (int i = 0; i < n; ++i) {
        int ramp = i * 255 / n, keys[] = {static_cast<int>(rng() % 3), static_cast<int>(rng() % 256), ramp, 255 - ramp, 5};
        v.push_back({static_cast<unsigned char>(keys[pattern]), static_cast<unsigned char>(i >> 8), static_cast<unsigned char>(i)});
      }
      out.push_back(v);
    }
  }
  return out;
}

bool same_keys(const std::vector<Record> &a, const std::vector<Record> &b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](const Record &x, const Record &y) { return x.key == y.key; });
}

TEST(TwlSort, BothSortsOrderAndTheStableOneKeepsEqualElementsInInputOrder) {
  std::mt19937 rng(7);
  for (const std::vector<Record> &input : inputs(rng)) {
    std::vector<Record> expect = input;
    std::stable_sort(expect.begin(), expect.end(), [](const Record &a, const Record &b) { return a.key < b.key; });
    for (bool callerSwap : {false, true}) {
      SCOPED_TRACE(testing::Message() << "n=" << input.size() << " swap=" << callerSwap);
      std::vector<Record> quick = input, stable = input;
      int calls = 0;
      twl_sort(&calls, quick.data(), quick.size(), sizeof(Record), compare_keys, callerSwap ? swap_records : nullptr);
      EXPECT_TRUE(same_keys(quick, expect));
      EXPECT_TRUE(input.size() >= 2 || calls == 0);
      twl_stable_sort(nullptr, stable.data(), stable.size(), sizeof(Record), compare_keys,
                      callerSwap ? swap_records : nullptr);
      EXPECT_TRUE(std::equal(stable.begin(), stable.end(), expect.begin(), expect.end(),
                             [](const Record &x, const Record &y) { return !std::memcmp(&x, &y, sizeof x); }));
    }
  }
  // Word-sized elements are exchanged a word at a time.
  std::vector<long long> words(5000);
  for (long long &w : words) w = static_cast<long long>(rng()) - (1LL << 31);
  std::vector<long long> want = words;
  std::sort(want.begin(), want.end());
  twl_sort(nullptr, words.data(), words.size(), sizeof(long long), [](void *, const void *a, const void *b) {
    long long x = *static_cast<const long long *>(a), y = *static_cast<const long long *>(b);
    return x < y ? -1 : x > y ? 1 : 0;
  }, nullptr);
  EXPECT_EQ(words, want);
}

}  // namespace
