// statefiles: loading and saving the four small state files of the process
// (the MRU lists, the list-column layouts, the window geometry and the last
// directories of the file dialogs).
//
// main loads them before the router connection exists (MRU_Init,
// ColumnConfig_Init, WindowConfig_Init, FCDirMem_Init) and calls the _Exit
// twins in the same order after it has gone. The stores live in the
// MRUService module (library korvo_mrustate).
#pragma once

#include "services/mruservice/column_config.h"
#include "services/mruservice/fcdir_mem.h"
#include "services/mruservice/mru_lists.h"
#include "services/mruservice/window_config.h"
