// whiteboard_group_file: where WhiteBoard group files lie and their names.
//
// A group that lives on disk is kept in "<group>.wbd" in the "WhiteBoard"
// directory of the user configuration directory, as an options database
// named after the group with up to four child blocks, "Bool", "Int32",
// "String" and "StringList" (see docs/whiteboard_files.md). Reading and
// writing are Group::loadFromFile, GroupServer::saveToFile and
// GroupServer::internalSaveToFile. One thread.
#pragma once

// The WhiteBoard directory, created (mode 0755) on the first request when
// missing and then remembered; null while the user configuration directory
// cannot be determined (the next request tries again). The string belongs
// to this module.
const char *getWhiteBoardDirectory();

// Removes the temporary files ("<group>.wbd_" and six characters) that a
// save interrupted by a crash left in the WhiteBoard directory; only plain
// files are removed. Returns how many. Call at start-up, before any save.
int WhiteBoard_RemoveStaleTempFiles();

// "<group>.wbd" (the group name is not transformed); null for a null name.
// A new string the caller frees with gen_free.
char *getGroupFilenameFromGroupName(const char *groupName);

// The default group file: the WhiteBoard directory joined with the group
// file name; null when there is no WhiteBoard directory or no name. A new
// string the caller frees with gen_free.
char *getGroupPathFromGroupName(const char *groupName);
