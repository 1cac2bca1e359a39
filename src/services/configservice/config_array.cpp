// ConfigService_ConfigArray: binary search over a sorted array of
// (index, line) entries; insertion moves the later entries up one place.
#include "services/configservice/config_array.h"

#include <cstring>

#include "services/support/service_limits.h"
#include "shared/indgen.h"

ConfigService_ConfigArray::~ConfigService_ConfigArray() { clear(); }

int ConfigService_ConfigArray::lowerBound(int index) const {
  int lo = 0;
  int hi = configArraySize;
  while (lo < hi) {
    int mid = lo + (hi - lo) / 2;
    if (configArray[mid].index < index)
      lo = mid + 1;
    else
      hi = mid;
  }
  return lo;
}

int ConfigService_ConfigArray::find(int index) const {
  int pos = lowerBound(index);
  return pos < configArraySize && configArray[pos].index == index ? pos : -1;
}

void ConfigService_ConfigArray::addConfig(int index, const char *line) {
  int pos = lowerBound(index);
  if (pos < configArraySize && configArray[pos].index == index) {
    // Copy before freeing: `line` may be the stored string itself.
    char *copy = gen_copy(line);
    bytes_ -= ServiceLimits_Cost(configArray[pos].configLine);
    bytes_ += ServiceLimits_Cost(copy);
    gen_free(configArray[pos].configLine);
    configArray[pos].configLine = copy;
    return;
  }
  if (configArraySize == configArrayMax) {
    configArray = static_cast<Entry *>(
        gen_allocate(configArray, static_cast<size_t>(configArrayMax) + kGrowBy, sizeof(Entry)));
    configArrayMax += kGrowBy;
  }
  std::memmove(&configArray[pos + 1], &configArray[pos],
               static_cast<size_t>(configArraySize - pos) * sizeof(Entry));
  configArray[pos].index = index;
  configArray[pos].configLine = gen_copy(line);
  bytes_ += ServiceLimits_Cost(line);
  ++configArraySize;
}

bool ConfigService_ConfigArray::fits(int index, const char *line) const {
  if (!ServiceLimits_StringFits(line)) return false;
  int pos = find(index);
  size_t old = pos >= 0 ? ServiceLimits_Cost(configArray[pos].configLine) : 0;
  return bytes_ - old + ServiceLimits_Cost(line) <= kServiceMaxStoreBytes;
}

std::vector<const char *> ConfigService_ConfigArray::lines() const {
  std::vector<const char *> out;
  out.reserve(static_cast<size_t>(configArraySize));
  for (int i = 0; i < configArraySize; ++i) out.push_back(configArray[i].configLine);
  return out;
}

void ConfigService_ConfigArray::clear() {
  for (int i = 0; i < configArraySize; ++i) gen_free(configArray[i].configLine);
  gen_free(configArray);
  configArray = nullptr;
  configArraySize = 0;
  configArrayMax = 0;
  bytes_ = 0;
}
