// ut_client_interface: host callbacks for reading options-database files:
// an environment the preprocessor may consult for macros, and a veto on
// which files are read (main files at depth 0, includes deeper).
//
// All five slots are set together; with a slot null the defaults apply:
// nothing is defined in the environment and every file is read. One thread.
#pragma once

class ut_client_interface {
 public:
  using release_fn = void (*)(void *context);
  using is_defined_fn = bool (*)(void *context, const char *name);
  // Returns the value (owned by the host, valid until the next call into
  // the host) or null.
  using lookup_fn = const char *(*)(void *context, const char *name);
  // Answers whether `file` should be read; `depth` is 0 for the main file
  // and the number of files open around an included one.
  using preprocess_file_fn = bool (*)(void *context, const char *file, int depth);

  ut_client_interface() = default;
  // Calls the release function with the context, when one is set.
  ~ut_client_interface();
  ut_client_interface(const ut_client_interface &) = delete;
  ut_client_interface &operator=(const ut_client_interface &) = delete;

  // Replaces all slots. The previous context is not released: the host
  // decides about it.
  void set_env_callback(void *context, release_fn release, is_defined_fn is_defined, lookup_fn lookup,
                        preprocess_file_fn preprocess_file);

  // False when no callback is set or the name is null.
  bool is_defined_in_env(const char *name) const;
  // Null when no callback is set or the name is null.
  const char *lookup_in_env(const char *name) const;
  // True when no callback is set.
  bool preprocess_file(const char *file, int depth) const;

  void *get_context() const { return context_; }

 private:
  void *context_ = nullptr;
  release_fn release_ = nullptr;
  is_defined_fn is_defined_ = nullptr;
  lookup_fn lookup_ = nullptr;
  preprocess_file_fn preprocess_file_ = nullptr;
};
