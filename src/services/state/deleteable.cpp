// deleteable: the exit handler behind delete_at_exit. The map is created on
// first use and freed by the handler itself, so nothing of it outlives the
// exit sequence.
#include "services/state/deleteable.h"

#include <cstdlib>
#include <map>

DeleteAble::~DeleteAble() = default;

namespace {

// Key to object, in ascending key order; a multimap keeps equal keys in
// insertion order.
using ExitMap = std::multimap<float, DeleteAble *>;

ExitMap *g_exit_map = nullptr;
bool g_handler_installed = false;

// Deletes the registered objects one at a time, taking each out of the map
// before its destructor runs: a destructor may register further objects.
void deleteRegisteredObjects() {
  while (g_exit_map && !g_exit_map->empty()) {
    auto first = g_exit_map->begin();
    DeleteAble *object = first->second;
    g_exit_map->erase(first);
    delete object;
  }
  delete g_exit_map;
  g_exit_map = nullptr;
  g_handler_installed = false;
}

}  // namespace

void delete_at_exit(DeleteAble *object, float key) {
  if (!object) return;
  if (!g_handler_installed) {
    // atexit may also be called while exit handlers run; the new handler
    // then runs after the current one has finished.
    std::atexit(deleteRegisteredObjects);
    g_handler_installed = true;
  }
  if (!g_exit_map) g_exit_map = new ExitMap;
  g_exit_map->emplace(key, object);
}
