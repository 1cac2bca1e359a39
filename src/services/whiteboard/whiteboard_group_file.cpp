// whiteboard_group_file: the WhiteBoard directory, group file names, and
// reading, merging and writing group files.
//
// A save never overwrites a file with the group alone: the file is read,
// the group merged into it, and the result written through a temporary
// file that is renamed over the target, so a failed write leaves the old
// file in place.
#include "services/whiteboard/whiteboard_group_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "services/whiteboard/whiteboard_group_server.h"
#include "shared/gen_holder.h"
#include "shared/indgen.h"
#include "shared/libcxxutil/ut_options_database.h"

namespace {

// Remembered for the life of the process once determined.
char *whiteboard_directory = nullptr;

// The tree names of the four value types, in file order.
const char kBoolTree[] = "Bool";
const char kInt32Tree[] = "Int32";
const char kStringTree[] = "String";
const char kStringListTree[] = "StringList";

// Calls visit(key, attribute) for every attribute of `tree` that has a key.
template <class F>
void forEachNamed(const ut_attribute_tree *tree, F visit) {
  if (!tree) return;
  for (ut_attribute_tree_attribute *a = tree->get_first_attribute(); a;
       a = tree->get_next_attribute(a)) {
    const char *key = ut_attribute_tree::get_attribute_key_name(a);
    if (key && *key) visit(key, a);
  }
}

// The string-list value of `attr` as a list (a plain string gives one
// element, other types an empty list).
ut_string_list listValue(const ut_attribute_tree_attribute *attr) {
  ut_string_list list;
  int count = 0;
  // The array is ours; its strings stay the attribute's.
  GenPtr<char *> items(ut_attribute_tree::get_attribute_strlist_value(attr, false, &count));
  for (int i = 0; i < count && items; ++i) list.push_back(items.get()[i]);
  return list;
}

void addTrees(const Group &group, ut_options_database &db, bool &any) {
  if (!group.boolValues().empty()) {
    ut_attribute_tree *t = db.add_child_tree(kBoolTree);
    for (const auto &[name, value] : group.boolValues())
      t->add_int32_attribute(name.c_str(), value ? 1 : 0);
    any = true;
  }
  if (!group.int32Values().empty()) {
    ut_attribute_tree *t = db.add_child_tree(kInt32Tree);
    for (const auto &[name, value] : group.int32Values())
      t->add_int32_attribute(name.c_str(), value);
    any = true;
  }
  if (!group.stringValues().empty()) {
    ut_attribute_tree *t = db.add_child_tree(kStringTree);
    for (const auto &[name, value] : group.stringValues())
      t->add_str_attribute(name.c_str(), value.c_str());
    any = true;
  }
  if (!group.stringListValues().empty()) {
    ut_attribute_tree *t = db.add_child_tree(kStringListTree);
    // An empty list adds no attribute: it would not read back as a list.
    for (const auto &[name, value] : group.stringListValues())
      for (const ut_string &item : value) t->append_str_list_attribute(name.c_str(), item.c_str());
    any = true;
  }
}

// The suffix of the temporary files: "_" and six characters from mkstemp.
constexpr char kTempSuffix[] = "_XXXXXX";
constexpr size_t kTempSuffixLength = sizeof kTempSuffix - 1;

// Syncs the directory holding `path`, so that a finished rename survives a
// crash. Best effort.
void syncDirectoryOf(const char *path) {
  GenString dir(gen_dirname(path));
  int fd = dir ? open(dir.get(), O_RDONLY | O_DIRECTORY | O_CLOEXEC) : -1;
  if (fd >= 0) {
    fsync(fd);
    close(fd);
  }
}

// Writes `db` to a temporary file beside `path`, syncs it to disk and
// renames it over `path`: a crash leaves the old file or the new one, never
// a part. Without a temporary file the database is written to `path`
// directly.
bool writeReplacing(ut_options_database &db, const char *path) {
  GenString temp(gen_concat(path, kTempSuffix));
  int fd = gen_mkstemp(temp.get());
  if (fd < 0) return db.write_to_file_name(path);
  // The database writes by name; the descriptor still syncs what it wrote,
  // since it names the same file.
  bool ok = db.write_to_file_name(temp.get()) && fsync(fd) == 0;
  close(fd);
  // A plain rename: on failure the target must stay untouched.
  ok = ok && rename(temp.get(), path) == 0;
  if (ok) syncDirectoryOf(path);
  else gen_unlink(temp.get());
  return ok;
}

// Whether `name` is "<something>.wbd" followed by a temporary suffix.
bool isStaleTempName(const char *name) {
  size_t length = std::strlen(name);
  size_t base = length > kTempSuffixLength ? length - kTempSuffixLength : 0;
  return base > 4 && std::strncmp(name + base - 4, ".wbd_", 5) == 0;
}

}  // namespace

const char *getWhiteBoardDirectory() {
  if (whiteboard_directory) return whiteboard_directory;
  const char *config = gen_getuserconfigdir(true, nullptr);
  if (!config) return nullptr;
  whiteboard_directory = gen_sconcat(config, "WhiteBoard");
  gen_createdir(whiteboard_directory, 0755);  // a failure shows when a file is written
  return whiteboard_directory;
}

int WhiteBoard_RemoveStaleTempFiles() {
  // Looked up without creating anything: no directory, no temporaries.
  const char *config = gen_getuserconfigdir(false, nullptr);
  GenString dir(config ? gen_sconcat(config, "WhiteBoard") : nullptr);
  DIR *d = dir ? opendir(dir.get()) : nullptr;
  if (!d) return 0;
  int removed = 0;
  while (struct dirent *entry = readdir(d)) {
    if (!isStaleTempName(entry->d_name)) continue;
    GenString path(gen_sconcat(dir.get(), entry->d_name));
    struct stat st;
    if (path && gen_lstat(path.get(), &st) == 0 && S_ISREG(st.st_mode) && gen_unlink(path.get()) == 0)
      ++removed;
  }
  closedir(d);
  return removed;
}

char *getGroupFilenameFromGroupName(const char *groupName) {
  if (!groupName) return nullptr;
  return gen_concat(groupName, ".wbd");
}

char *getGroupPathFromGroupName(const char *groupName) {
  const char *dir = getWhiteBoardDirectory();
  GenString file(getGroupFilenameFromGroupName(groupName));
  return dir && file ? gen_sconcat(dir, file.get()) : nullptr;
}

bool Group::loadFromFile(const char *path) {
  if (!path) return false;
  ut_options_database db(groupName_);
  if (!db.read_from_file_name(path)) return true;  // unreadable counts as empty
  forEachNamed(db.find_child_tree(kBoolTree), [&](const char *key, ut_attribute_tree_attribute *a) {
    int value = ut_attribute_tree::get_attribute_int32_value(a);
    if (value == 0 || value == 1) setBoolValue(key, value == 1, false);
  });
  forEachNamed(db.find_child_tree(kInt32Tree),
               [&](const char *key, ut_attribute_tree_attribute *a) {
                 setInt32Value(key, ut_attribute_tree::get_attribute_int32_value(a), false);
               });
  forEachNamed(db.find_child_tree(kStringTree),
               [&](const char *key, ut_attribute_tree_attribute *a) {
                 setStringValue(key, ut_attribute_tree::get_attribute_str_value(a), false);
               });
  forEachNamed(db.find_child_tree(kStringListTree),
               [&](const char *key, ut_attribute_tree_attribute *a) {
                 setStringListValue(key, listValue(a), false);
               });
  return true;
}

bool GroupServer::saveToFile(const char *path) {
  GenString defaultPath;
  const char *target = path ? path : fileName_.get();
  if (!target) {
    defaultPath.reset(getGroupPathFromGroupName(groupName_));
    target = defaultPath.get();
  }
  if (!target) return false;
  GroupServer onDisk(groupName_, true, nullptr);
  onDisk.loadFromFile(target);
  return !onDisk.mergeChangesFromGroup(*this) || onDisk.internalSaveToFile(target);
}

bool GroupServer::internalSaveToFile(const char *path) {
  if (!path) return false;
  ut_options_database db(groupName_);
  bool any = false;
  addTrees(*this, db, any);
  if (!any) return true;
  return writeReplacing(db, path);
}
