// GroupServer: a Group as the WhiteBoard server keeps it, with whether it
// lives on disk and the file it is saved to, and the snapshots sent to
// clients. Saving (saveToFile, internalSaveToFile) is defined beside the
// group-file code. One thread.
#pragma once

#include <vector>

#include "services/whiteboard/whiteboard_group.h"
#include "shared/gen_holder.h"
#include "whiteboard_parsing.h"

class GroupServer : public Group {
 public:
  // `name` and `fileName` (may be null) are copied.
  GroupServer(const char *name, bool useDisk, const char *fileName);
  ~GroupServer() override;

  // Sets the use-disk flag.
  void useDisk(bool on) { useDisk_ = on; }
  // Replaces the group's own file name (copied; null clears it).
  void useFilename(const char *fileName);
  bool shouldSaveToFile() const { return useDisk_; }
  // The group's own file name (owned by the group) or null.
  const char *getFilename() const { return fileName_.get(); }

  // Append one newly made record per value of that type to `out`, carrying
  // the group name, the value name and the value, in value-name order. The
  // caller owns the records (WB_MoveIntoArray or WB_FreeRecords).
  void buildBoolChanges(std::vector<BoolValueInfo> &out) const;
  void buildInt32Changes(std::vector<Int32ValueInfo> &out) const;
  void buildStringChanges(std::vector<StringValueInfo> &out) const;
  void buildStringListChanges(std::vector<StringListValueInfo> &out) const;

  // Merges this group into the file `path`, else into the group's own file,
  // else into its default group file: the file is read, this group merged
  // into it, and it is rewritten only when the merge changed something.
  // Names the file holds and this group does not are kept. True when
  // nothing needed writing or the write succeeded; false when there is no
  // target or the write failed (the file is then as it was).
  bool saveToFile(const char *path);
  // Writes this group to `path` (through a temporary file renamed into
  // place). A group with no values writes nothing and succeeds; a null
  // path fails.
  bool internalSaveToFile(const char *path);

 private:
  bool useDisk_;
  GenString fileName_;  // may be null
};
