// statefile_saver: writes the state files soon after they change, so that a
// process killed without any chance to save (SIGKILL, a crash, power loss)
// loses at most the last moments.
//
// The stores report their changes through StateFile_NoteChange. The first
// change arms a one-shot timer on the idle notifier; when it fires, every
// store with a pending change is written at once, so a burst of changes
// costs one write per file. What is written early is exactly what an
// orderly exit writes: "mrulist.ini", "columns.ini" and "windowpos.ini",
// never "fcdir.ini", which only a client's SaveFCDir writes. A write that
// fails is tried again one delay later. One thread.
#pragma once

// The delay between a change and its save, in milliseconds.
constexpr int StateFileSaver_kDelayMs = 1500;

// Routes the stores' change reports to the saver, with `delayMs` between a
// first change and the save. Calling it again changes the delay for the
// next arming.
void StateFileSaver_Enable(int delayMs);
// Stops reporting and cancels a pending timer (the orderly exit saves
// itself).
void StateFileSaver_Disable();
// Writes every store with a pending change now; false when a write failed.
bool StateFileSaver_SaveChanged();
// Whether the timer is armed.
bool StateFileSaver_IsArmed();
