// ConfigService_ConfigArray: the store of the configuration broadcast
// service. It keeps the latest configuration line for every numeric index,
// sorted by ascending index with at most one entry per index, in an array
// that grows by 20 entries at a time. Lines are owned copies (a null line is
// kept as null). Nothing is written to disk. The array counts what it
// holds (service_limits.h) so that the server can refuse lines that would
// make ListenForConfigs too big to answer. Plain data, one thread.
#pragma once

#include <cstddef>
#include <vector>

class ConfigService_ConfigArray {
 public:
  // Entries added when the array is full.
  static constexpr int kGrowBy = 20;

  struct Entry {
    int index;
    char *configLine;  // owned (gen_free), may be null
  };

  ConfigService_ConfigArray() = default;
  // Frees every line and the array.
  ~ConfigService_ConfigArray();
  ConfigService_ConfigArray(const ConfigService_ConfigArray &) = delete;
  ConfigService_ConfigArray &operator=(const ConfigService_ConfigArray &) = delete;

  // Stores a copy of `line` under `index`: replaces the line of an existing
  // entry, or inserts a new entry at its sorted place (enlarging the array
  // by kGrowBy first when it is full). Any index is accepted.
  void addConfig(int index, const char *line);

  // Every stored line in ascending index order (null lines included),
  // still owned by the store: valid until the next change.
  std::vector<const char *> lines() const;

  // Whether storing `line` under `index` keeps the line and the whole
  // array within the service limits.
  bool fits(int index, const char *line) const;
  // What the array holds, counted as service_limits.h says.
  size_t bytes() const { return bytes_; }

  // The position of `index` in the array, or -1 when it is not stored.
  int find(int index) const;
  // Entries in use.
  int size() const { return configArraySize; }
  // Entry i (0 <= i < size()); the line stays owned by the store.
  const Entry &at(int i) const { return configArray[i]; }

  // Frees every entry and the array; the store is empty afterwards.
  void clear();

 private:
  // Position of the first entry whose index is not below `index`.
  int lowerBound(int index) const;

  Entry *configArray = nullptr;  // owned (gen_free), configArrayMax entries
  int configArraySize = 0;
  int configArrayMax = 0;
  size_t bytes_ = 0;
};
