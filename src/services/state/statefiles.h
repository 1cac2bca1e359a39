// statefiles: loading and saving the four small state files of the process
// (the MRU lists, the list-column layouts, the window geometry and the last
// directories of the file dialogs).
//
// main loads them before the router connection exists and saves them after
// it has gone. The MRU module fills these in; until it does they are empty,
// so the program's start-up and shut-down order is already in place.
#pragma once

inline void MRU_Init() {}
inline void ColumnConfig_Init() {}
inline void WindowConfig_Init() {}
inline void FCDirMem_Init() {}

inline void MRU_Exit() {}
inline void ColumnConfig_Exit() {}
inline void WindowConfig_Exit() {}
inline void FCDirMem_Exit() {}
