// column_config: the chain of column sets, its edits and "columns.ini".
//
// File format: per set a "[name]" line, then for each column i (from 1)
// name<i>=, width<i>= (the plain width), sort<i>=ascending|descending and
// hidden<i>=true, each only when set (hidden<i>=false for a column with
// nothing set), then an empty line.
#include "services/mruservice/column_config.h"

#include <climits>
#include <cstdlib>
#include <cstring>

#include "services/mruservice/statefile_io.h"
#include "services/support/service_limits.h"
#include "shared/indgen.h"

namespace {

constexpr const char *kFileName = "columns.ini";
constexpr int kCapacityStep = 5;

ColumnConfig_Set *column_head = nullptr;
bool column_modified = false;
bool column_loaded = false;

void clear_info(ColumnConfig_Info *info) {
  gen_free(info->name);
  *info = ColumnConfig_Info{};
}

ColumnConfig_Info *zeroed_entries(int count) {
  if (count <= 0) return nullptr;
  // All-zero bytes are an unset column (null name, no width, unsorted).
  return static_cast<ColumnConfig_Info *>(gen_calloc(count, sizeof(ColumnConfig_Info)));
}

// Grows the entries of `set` to `capacity`, keeping the columns in use.
void grow(ColumnConfig_Set *set, int capacity) {
  ColumnConfig_Info *entries = zeroed_entries(capacity);
  for (int i = 0; i < set->count; ++i) entries[i] = set->entries[i];
  gen_free(set->entries);
  set->entries = entries;
  set->capacity = capacity;
}

ColumnConfig_Set *new_set(const char *name, int capacity) {
  auto *set = new ColumnConfig_Set;
  set->name = gen_copy(name ? name : "");
  set->capacity = capacity > 0 ? capacity : 0;
  set->entries = zeroed_entries(set->capacity);
  return set;
}

void free_set(ColumnConfig_Set *set) {
  for (int i = 0; i < set->count; ++i) gen_free(set->entries[i].name);
  gen_free(set->entries);
  gen_free(set->name);
  delete set;
}

// The column index a key refers to when it starts with `prefix` (-1 when
// the number is not a column's), else -2.
int key_index(const char *key, const char *prefix) {
  int n = static_cast<int>(std::strlen(prefix));
  if (!gen_strnequal(key, prefix, n)) return -2;
  long column = std::strtol(key + n, nullptr, 10);
  return column >= 1 && column <= INT_MAX ? static_cast<int>(column - 1) : -1;
}

void apply_value(ColumnConfig_Info *info, int which, const char *value) {
  switch (which) {
    case 0:
      gen_free(info->name);
      info->name = gen_copy(value);
      break;
    case 1:
      info->width = StateFile_ParseNumber(value) + 1;
      break;
    case 2:
      if (gen_strequal(value, "ascending")) info->sort = 1;
      else if (gen_strequal(value, "descending")) info->sort = -1;
      break;
    default:
      if (gen_strequal(value, "true")) info->hidden = true;
      else if (gen_strequal(value, "false")) info->hidden = false;
      break;
  }
}

void load(const char *path) {
  ColumnConfig_Set **tail = &column_head;
  while (*tail) tail = &(*tail)->next;
  ColumnConfig_Set *current = nullptr;
  StateFileReader reader;
  reader.section = [&](const char *name) {
    current = new_set(name, kCapacityStep);
    *tail = current;
    tail = &current->next;
    return true;
  };
  reader.line = [&](char *text) {
    ColumnConfig_ParseVariable(current, text);
    return true;
  };
  StateFile_Read(path, reader);
}

void write_sets(FILE *out) {
  for (ColumnConfig_Set *set = column_head; set; set = set->next) {
    std::fprintf(out, "[%s]\n", set->name);
    for (int i = 0; i < set->count; ++i) {
      const ColumnConfig_Info &c = set->entries[i];
      if (c.name) std::fprintf(out, "name%d=%s\n", i + 1, c.name);
      // A client may have stored INT_MIN: write the plain width without wrapping.
      if (c.width != 0)
        std::fprintf(out, "width%d=%lld\n", i + 1, static_cast<long long>(c.width) - 1);
      if (c.sort != 0)
        std::fprintf(out, "sort%d=%s\n", i + 1, c.sort < 1 ? "descending" : "ascending");
      // A column with nothing recorded still gets a line, or reading the
      // file back would lose it and every column after it.
      bool recorded = c.name || c.width != 0 || c.sort != 0;
      if (c.hidden || !recorded)
        std::fprintf(out, "hidden%d=%s\n", i + 1, c.hidden ? "true" : "false");
    }
    std::fputs("\n", out);
  }
}

}  // namespace

void ColumnConfig_Init() {
  if (column_loaded) return;
  column_loaded = true;
  StateFile_RemoveStaleTemp(kFileName);
  char *path = StateFile_Path(kFileName, false);
  load(path);
  gen_free(path);
}

void ColumnConfig_Exit() {
  ColumnConfig_Save();
  ColumnConfig_Free();
  column_modified = false;
  column_loaded = false;
}

bool ColumnConfig_Save() {
  if (!column_modified) return true;
  char *path = StateFile_Path(kFileName, true);
  bool ok = StateFile_Write(path, write_sets);
  gen_free(path);
  if (ok) column_modified = false;
  return ok;
}

bool ColumnConfig_IsModified() { return column_modified; }

size_t ColumnConfig_Bytes() {
  size_t bytes = 0;
  for (ColumnConfig_Set *set = column_head; set; set = set->next) {
    bytes += ServiceLimits_Cost(set->name);
    for (int i = 0; i < set->count; ++i) bytes += ServiceLimits_Cost(set->entries[i].name);
  }
  return bytes;
}

ColumnConfig_Set *ColumnConfig_Find(const char *name) {
  for (ColumnConfig_Set *set = column_head; set; set = set->next)
    if (gen_strequal(set->name, name)) return set;
  return nullptr;
}

void ColumnConfig_UpdateColumnInfo(const char *name, const ColumnConfig_Array *in) {
  int count = in && in->count > 0 ? in->count : 0;
  ColumnConfig_Set *set = ColumnConfig_Find(name);
  if (set) {
    for (int i = 0; i < set->count; ++i) clear_info(&set->entries[i]);
    if (set->capacity < count) {
      gen_free(set->entries);
      set->entries = zeroed_entries(count);
      set->capacity = count;
    }
  } else {
    set = new_set(name, count);
    set->next = column_head;
    column_head = set;
  }
  set->count = count;
  for (int i = 0; i < count && in->columnInfos; ++i) {
    const ColumnConfig_Info &from = in->columnInfos[i];
    ColumnConfig_Info &to = set->entries[i];
    to.name = gen_copy(from.name);
    to.width = from.width;
    to.sort = from.sort;
    to.hidden = from.hidden;
  }
  column_modified = true;
  StateFile_NoteChange();
}

void ColumnConfig_GetColumnInfo(const char *name, ColumnConfig_Array *out) {
  ColumnConfig_Set *set = ColumnConfig_Find(name);
  out->count = set ? set->count : 0;
  out->columnInfos = zeroed_entries(out->count);
  for (int i = 0; i < out->count; ++i) {
    out->columnInfos[i] = set->entries[i];
    out->columnInfos[i].name = gen_copy(set->entries[i].name);
  }
}

void ColumnConfig_FreeArray(ColumnConfig_Array *array) {
  for (int i = 0; i < array->count && array->columnInfos; ++i)
    gen_free(array->columnInfos[i].name);
  gen_free(array->columnInfos);
  *array = ColumnConfig_Array{};
}

void ColumnConfig_Free() {
  while (column_head) {
    ColumnConfig_Set *next = column_head->next;
    free_set(column_head);
    column_head = next;
  }
}

void ColumnConfig_ParseVariable(ColumnConfig_Set *set, char *line) {
  char *value = StateFile_SplitAssignment(line);
  if (!value) return;
  static const char *const kPrefixes[] = {"name", "width", "sort", "hidden"};
  for (int which = 0; which < 4; ++which) {
    int i = key_index(line, kPrefixes[which]);
    if (i == -2) continue;
    // Columns come in ascending order: a key names the last column or adds
    // the next one.
    if (i < 0 || i < set->count - 1 || i > set->count) return;
    if (i == set->count) {
      if (set->count == set->capacity) grow(set, set->count + kCapacityStep);
      set->count++;
    }
    apply_value(&set->entries[i], which, value);
    return;
  }
}
