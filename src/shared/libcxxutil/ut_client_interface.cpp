// ut_client_interface: forwards to the host's callbacks with the defaults
// of ut_client_interface.h when a slot is empty.
#include "shared/libcxxutil/ut_client_interface.h"

ut_client_interface::~ut_client_interface() {
  if (release_) release_(context_);
}

void ut_client_interface::set_env_callback(void *context, release_fn release, is_defined_fn is_defined,
                                           lookup_fn lookup, preprocess_file_fn preprocess_file) {
  context_ = context;
  release_ = release;
  is_defined_ = is_defined;
  lookup_ = lookup;
  preprocess_file_ = preprocess_file;
}

bool ut_client_interface::is_defined_in_env(const char *name) const {
  return is_defined_ && name && is_defined_(context_, name);
}

const char *ut_client_interface::lookup_in_env(const char *name) const {
  return lookup_ && name ? lookup_(context_, name) : nullptr;
}

bool ut_client_interface::preprocess_file(const char *file, int depth) const {
  return !preprocess_file_ || preprocess_file_(context_, file, depth);
}
