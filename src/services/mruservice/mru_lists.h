// mru_lists: the process's most-recently-used lists and "mrulist.ini".
//
// A chain of named lists of at most MRU_MAX_ITEMS strings, the most recent
// first. Names and items are compared ignoring the case of ASCII letters.
// Loaded once at start-up (MRU_Init), written back by MRU_Save whenever a
// change is pending (from MRU_Exit and when an MRUService connection
// closes). Process-wide state; one thread.
#pragma once

#include <cstddef>

constexpr int MRU_MAX_ITEMS = 9;

// One named list. Everything in it is owned (gen_copy / gen_free).
struct MRU_List {
  MRU_List *next = nullptr;
  int count = 0;                          // items in use, 0..MRU_MAX_ITEMS
  char *items[MRU_MAX_ITEMS] = {};        // index 0 is the most recent
  char *name = nullptr;
};

// The operations of MRU_ModifyMRUList.
enum MRU_Modify_Operation {
  MRU_Modify_Insert = 0,
  MRU_Modify_Delete = 1,
  MRU_Modify_Replace = 2,
  MRU_Modify_MoveToFront = 3
};

// Loads "mrulist.ini" from the user configuration directory (once; later
// calls do nothing until MRU_Exit). A missing file gives no lists.
void MRU_Init();
// Saves when modified, frees every list and allows a later MRU_Init.
void MRU_Exit();
// Writes "mrulist.ini" when a change is pending and clears the pending
// flag once the file was written. False when a write was due and failed
// (the change stays pending, so the next save tries again).
bool MRU_Save();
// Whether a change is waiting for MRU_Save.
bool MRU_IsModified();
// What the lists hold, counted as service_limits.h says (names and items).
size_t MRU_Bytes();

// Makes `item` the most recent entry of list `name`, creating the list at
// the head of the chain when missing. An item already present (in any
// letter case) moves to the front keeping its stored spelling; a new item
// pushes out the oldest of a full list. With `expand`, a relative item is
// first expanded by gen_expand_filename. A null item counts as "".
void MRU_UpdateList(const char *name, const char *item, bool expand);

// Fresh copies of the items of list `name`, most recent first: *items is a
// gen_calloc array of *count gen_copy strings, both freed by the caller
// with gen_free. Null and 0 when the list is missing or empty.
void MRU_GetMRUList(const char *name, char ***items, int *count);
// Fresh copies of every list name in chain order, owned as above.
void MRU_GetAllMRUListNames(char ***names, int *count);

// Edits list `name` (never creates it): insert `data` at `slot`, delete
// the item at `slot` (slot -1: the whole list), replace the item at `slot`
// with `data`, or move `data` to the front (as MRU_UpdateList). False when
// the list is missing, `op` is unknown or the slot does not fit. `data` is
// copied.
bool MRU_ModifyMRUList(const char *name, int op, int slot, const char *data);

// The first list called `name`, or null. The chain keeps ownership.
MRU_List *MRU_Find(const char *name);
// Frees one list that is no longer in the chain.
void MRU_FreeOneList(MRU_List *list);
// Frees every list (nothing is saved) and empties the chain.
void MRU_Free();
