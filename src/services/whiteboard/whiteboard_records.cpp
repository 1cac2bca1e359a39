// whiteboard_records: filling and releasing the generated value records.
#include "services/whiteboard/whiteboard_records.h"

#include "shared/indgen.h"

namespace {

template <class Record>
void fillNames(Record &rec, const char *group, const char *name) {
  rec._group = gen_copy(group);
  rec._name = gen_copy(name);
}

template <class Record, class FreeFn>
void freeAll(std::vector<Record> &records, FreeFn freeRecord) {
  for (Record &rec : records) freeRecord(&rec);
  records.clear();
}

}  // namespace

void WB_FillRecord(BoolValueInfo &rec, const char *group, const char *name, bool value) {
  fillNames(rec, group, name);
  rec._value = value;
}

void WB_FillRecord(Int32ValueInfo &rec, const char *group, const char *name, int value) {
  fillNames(rec, group, name);
  rec._value = value;
}

void WB_FillRecord(StringValueInfo &rec, const char *group, const char *name, const char *value) {
  fillNames(rec, group, name);
  rec._value = gen_copy(value);
}

void WB_FillRecord(StringListValueInfo &rec, const char *group, const char *name,
                   const ut_string_list &value) {
  fillNames(rec, group, name);
  rec._value = value;
}

void WB_FreeRecords(std::vector<BoolValueInfo> &records) {
  freeAll(records, WhiteBoard_BoolValueInfo_free);
}

void WB_FreeRecords(std::vector<Int32ValueInfo> &records) {
  freeAll(records, WhiteBoard_Int32ValueInfo_free);
}

void WB_FreeRecords(std::vector<StringValueInfo> &records) {
  freeAll(records, WhiteBoard_StringValueInfo_free);
}

void WB_FreeRecords(std::vector<StringListValueInfo> &records) {
  freeAll(records, WhiteBoard_StringListValueInfo_free);
}
