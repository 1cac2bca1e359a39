// mru_lists: the chain of most-recently-used lists, its edits and its file.
//
// File format: per list a "[name]" line, one line per item from the most
// recent to the oldest, then an empty line. Items beyond the ninth are
// ignored when reading; lists keep their file order.
#include "services/mruservice/mru_lists.h"

#include <cstring>

#include "services/mruservice/statefile_io.h"
#include "services/support/service_limits.h"
#include "shared/indgen.h"

namespace {

constexpr const char *kFileName = "mrulist.ini";

MRU_List *mru_head = nullptr;
bool mru_modified = false;
bool mru_loaded = false;

// A change the exit would save; also reported for the deferred save.
void mark_modified() {
  mru_modified = true;
  StateFile_NoteChange();
}

MRU_List *new_list(const char *name) {
  auto *list = new MRU_List;
  list->name = gen_copy(name ? name : "");
  return list;
}

// Puts `item` (taken over) at `slot`, moving the items from there down one
// place within the fixed slots; a full list loses its oldest item.
void insert_at(MRU_List *list, int slot, char *item) {
  if (list->count == MRU_MAX_ITEMS) {
    gen_free(list->items[MRU_MAX_ITEMS - 1]);
    list->items[MRU_MAX_ITEMS - 1] = nullptr;
  } else {
    list->count++;
  }
  for (int i = list->count - 1; i > slot; --i) list->items[i] = list->items[i - 1];
  list->items[slot] = item;
}

// Takes the item at `slot` out of the list, closing the gap; returns it.
char *take_at(MRU_List *list, int slot) {
  char *item = list->items[slot];
  for (int i = slot; i < list->count - 1; ++i) list->items[i] = list->items[i + 1];
  list->items[--list->count] = nullptr;
  return item;
}

int index_of(const MRU_List *list, const char *item) {
  for (int i = 0; i < list->count; ++i)
    if (gen_strequal(list->items[i], item)) return i;
  return -1;
}

void unlink_list(MRU_List *list) {
  for (MRU_List **p = &mru_head; *p; p = &(*p)->next) {
    if (*p == list) {
      *p = list->next;
      list->next = nullptr;
      return;
    }
  }
}

void load(const char *path) {
  MRU_List **tail = &mru_head;
  while (*tail) tail = &(*tail)->next;
  MRU_List *current = nullptr;
  StateFileReader reader;
  reader.section = [&](const char *name) {
    current = new_list(name);
    *tail = current;
    tail = &current->next;
    return true;
  };
  reader.line = [&](char *text) {
    if (current->count < MRU_MAX_ITEMS) current->items[current->count++] = gen_copy(text);
    return true;
  };
  StateFile_Read(path, reader);
}

void write_lists(FILE *out) {
  for (MRU_List *list = mru_head; list; list = list->next) {
    std::fprintf(out, "[%s]\n", list->name);
    for (int i = 0; i < list->count; ++i) std::fprintf(out, "%s\n", list->items[i]);
    std::fputs("\n", out);
  }
}

// A gen_calloc array of copies of `count` strings (null when count is 0).
char **copy_strings(char *const *strings, int count) {
  if (count == 0) return nullptr;
  auto **out = static_cast<char **>(gen_calloc(count, sizeof(char *)));
  for (int i = 0; i < count; ++i) out[i] = gen_copy(strings[i]);
  return out;
}

}  // namespace

void MRU_Init() {
  if (mru_loaded) return;
  mru_loaded = true;
  StateFile_RemoveStaleTemp(kFileName);
  char *path = StateFile_Path(kFileName, false);
  load(path);
  gen_free(path);
}

void MRU_Exit() {
  MRU_Save();
  MRU_Free();
  mru_modified = false;
  mru_loaded = false;
}

bool MRU_Save() {
  if (!mru_modified) return true;
  char *path = StateFile_Path(kFileName, true);
  bool ok = StateFile_Write(path, write_lists);
  gen_free(path);
  if (ok) mru_modified = false;
  return ok;
}

bool MRU_IsModified() { return mru_modified; }

size_t MRU_Bytes() {
  size_t bytes = 0;
  for (MRU_List *list = mru_head; list; list = list->next) {
    bytes += ServiceLimits_Cost(list->name);
    for (int i = 0; i < list->count; ++i) bytes += ServiceLimits_Cost(list->items[i]);
  }
  return bytes;
}

MRU_List *MRU_Find(const char *name) {
  for (MRU_List *list = mru_head; list; list = list->next)
    if (gen_strequal(list->name, name)) return list;
  return nullptr;
}

void MRU_UpdateList(const char *name, const char *item, bool expand) {
  if (!item) item = "";
  char *expanded = expand && item[0] != '/' ? gen_expand_filename(item) : nullptr;
  if (expanded) item = expanded;
  MRU_List *list = MRU_Find(name);
  if (!list) {
    list = new_list(name);
    list->next = mru_head;
    mru_head = list;
  }
  int k = index_of(list, item);
  if (k < 0) {
    insert_at(list, 0, gen_copy(item));
    mark_modified();
  } else if (k > 0) {
    insert_at(list, 0, take_at(list, k));
    mark_modified();
  }
  gen_free(expanded);
}

void MRU_GetMRUList(const char *name, char ***items, int *count) {
  MRU_List *list = MRU_Find(name);
  *count = list ? list->count : 0;
  *items = list ? copy_strings(list->items, list->count) : nullptr;
}

void MRU_GetAllMRUListNames(char ***names, int *count) {
  int n = 0;
  for (MRU_List *list = mru_head; list; list = list->next) ++n;
  *count = n;
  *names = n ? static_cast<char **>(gen_calloc(n, sizeof(char *))) : nullptr;
  int i = 0;
  for (MRU_List *list = mru_head; list; list = list->next) (*names)[i++] = gen_copy(list->name);
}

bool MRU_ModifyMRUList(const char *name, int op, int slot, const char *data) {
  MRU_List *list = MRU_Find(name);
  if (!list) return false;
  if (!data) data = "";
  switch (op) {
    case MRU_Modify_Insert:
      if (slot < 0) return false;
      if (slot > list->count) slot = list->count;
      if (slot >= MRU_MAX_ITEMS) return true;  // appending to a full list
      insert_at(list, slot, gen_copy(data));
      break;
    case MRU_Modify_Delete:
      if (slot == -1) {
        unlink_list(list);
        MRU_FreeOneList(list);
      } else if (slot >= 0 && slot < list->count) {
        gen_free(take_at(list, slot));
      } else {
        return false;
      }
      break;
    case MRU_Modify_Replace:
      if (slot < 0 || slot >= list->count) return false;
      gen_free(list->items[slot]);
      list->items[slot] = gen_copy(data);
      break;
    case MRU_Modify_MoveToFront:
      MRU_UpdateList(name, data, false);
      return true;
    default:
      return false;
  }
  mark_modified();
  return true;
}

void MRU_FreeOneList(MRU_List *list) {
  if (!list) return;
  for (int i = 0; i < list->count; ++i) gen_free(list->items[i]);
  gen_free(list->name);
  delete list;
}

void MRU_Free() {
  while (mru_head) {
    MRU_List *next = mru_head->next;
    MRU_FreeOneList(mru_head);
    mru_head = next;
  }
}
