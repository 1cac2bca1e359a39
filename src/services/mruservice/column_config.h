// column_config: the saved column layouts of the IDE's list views and
// "columns.ini".
//
// A chain of named column sets; each column has an optional name, a width
// held in stored form (the width plus one, 0 when none is recorded), a sort
// direction (1 ascending, -1 descending, 0 none) and a hidden flag. Set
// names compare ignoring ASCII letter case. Loaded once at start-up, written
// at shut-down when changed. Process-wide state; one thread.
#pragma once

#include <cstddef>

// One column. `name` is owned (gen_copy / gen_free) and may be null.
struct ColumnConfig_Info {
  char *name = nullptr;
  int width = 0;     // stored form: width + 1, 0 unset
  int sort = 0;      // 1 ascending, -1 descending, 0 unsorted
  bool hidden = false;
};

// A counted array of columns. Whoever fills it owns it; release with
// ColumnConfig_FreeArray.
struct ColumnConfig_Array {
  int count = 0;
  ColumnConfig_Info *columnInfos = nullptr;
};

// One named set in the chain; owns its name and entries.
struct ColumnConfig_Set {
  ColumnConfig_Set *next = nullptr;
  char *name = nullptr;
  int count = 0;                          // columns in use
  int capacity = 0;                       // entries allocated
  ColumnConfig_Info *entries = nullptr;   // gen_calloc array
};

// Loads "columns.ini" (once; later calls do nothing until the exit).
void ColumnConfig_Init();
// Saves when changed, frees every set, clears the change flag and allows
// a later ColumnConfig_Init.
void ColumnConfig_Exit();
// Writes "columns.ini" when changed; false when a due write failed.
bool ColumnConfig_Save();
bool ColumnConfig_IsModified();
// What the sets hold, counted as service_limits.h says (set names and
// columns).
size_t ColumnConfig_Bytes();

// Replaces the columns of set `name` with copies of `in` (the width in
// stored form), creating the set at the head of the chain when missing.
// Always counts as a change.
void ColumnConfig_UpdateColumnInfo(const char *name, const ColumnConfig_Array *in);
// Copies of every column of set `name` into *out (owned by the caller);
// count 0 and a null array when the set is missing or empty.
void ColumnConfig_GetColumnInfo(const char *name, ColumnConfig_Array *out);
// Frees the names and the array of `array` and leaves it empty.
void ColumnConfig_FreeArray(ColumnConfig_Array *array);

// The first set called `name`, or null; the chain keeps ownership.
ColumnConfig_Set *ColumnConfig_Find(const char *name);
// Frees every set and empties the chain (nothing is saved).
void ColumnConfig_Free();
// Applies one "key=value" line of the file to `set` (the line may be cut
// in place). Keys are name<i>, width<i>, sort<i> and hidden<i> with i
// counted from 1; a line may refer only to the last column or add the next
// one. Anything else is ignored.
void ColumnConfig_ParseVariable(ColumnConfig_Set *set, char *line);
