// whiteboard_records: small helpers over the generated WhiteBoard value
// records (BoolValueInfo ... StringListValueInfoArray), which are plain
// structs whose strings are heap copies released by their generated _free
// functions, and whose arrays are new[] blocks.
//
// The fill helpers copy group and name (and a string value) into a record
// that holds nothing yet; the array helper moves a list of such records
// into a newly made array. Whoever ends up with a record or array releases
// it with the matching WhiteBoard_..._free. One thread.
#pragma once

#include <cstddef>
#include <vector>

#include "whiteboard_parsing.h"

// Fill `rec` (empty: no strings held) with copies of `group` and `name`
// and the value. Null strings stay null.
void WB_FillRecord(BoolValueInfo &rec, const char *group, const char *name, bool value);
void WB_FillRecord(Int32ValueInfo &rec, const char *group, const char *name, int value);
void WB_FillRecord(StringValueInfo &rec, const char *group, const char *name, const char *value);
void WB_FillRecord(StringListValueInfo &rec, const char *group, const char *name,
                   const ut_string_list &value);

// Moves every record of `records` into the array `out` (which must hold
// nothing: count 0, no elements) and empties `records`. An empty list gives
// count 0 and no element block. `out` owns the records afterwards.
template <class Array, class Record>
void WB_MoveIntoArray(std::vector<Record> &records, Array &out) {
  out._count = static_cast<int>(records.size());
  out._info = nullptr;
  if (!records.empty()) {
    out._info = STPArray_new<Record>(static_cast<int>(records.size()));
    // A record's strings are plain pointers: the copy hands them over, and
    // the vector entries are dropped without being freed.
    for (std::size_t i = 0; i < records.size(); ++i) out._info[i] = records[i];
  }
  records.clear();
}

// Release the strings of every record of `records` and empty it (for lists
// that never reached an array).
void WB_FreeRecords(std::vector<BoolValueInfo> &records);
void WB_FreeRecords(std::vector<Int32ValueInfo> &records);
void WB_FreeRecords(std::vector<StringValueInfo> &records);
void WB_FreeRecords(std::vector<StringListValueInfo> &records);
