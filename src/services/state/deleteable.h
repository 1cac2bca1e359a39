// deleteable: objects that the process deletes when it exits, in a fixed
// order chosen by a key, independent of the order of static destruction.
//
// Process-wide singletons (the idle notifier among them) register here so
// that everything that may still use them during exit runs first. Assumes
// one thread.
#pragma once

// Base of every object that can be handed to delete_at_exit: it only makes
// the destructor virtual, so the exit handler deletes the real object.
class DeleteAble {
 public:
  DeleteAble() = default;
  DeleteAble(const DeleteAble &) = delete;
  DeleteAble &operator=(const DeleteAble &) = delete;
  virtual ~DeleteAble();
};

// Hands `object` (allocated with new) to the exit handler, which deletes it
// at process exit: lower keys first, equal keys in the order of
// registration. The first call installs the handler with atexit. Ownership
// passes to the handler; the caller must not delete the object itself. An
// object registered while the handler runs (from a destructor) is deleted by
// the same run. A null object is ignored.
void delete_at_exit(DeleteAble *object, float key);
