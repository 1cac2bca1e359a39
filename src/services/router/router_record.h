// Router_Record: this router's entry in the active-services file, through
// which later processes of the same user, host and display (or zone) find
// it instead of starting another router.
//
// Started by hand, the router takes the file's lock (waiting up to 20 s),
// refuses to replace the record of another router that is still running,
// writes its own and unlocks. Launched by a client, it writes the record
// straight away: that client holds the lock while it waits for the new
// router, so that concurrent clients find the one router it started.
// At the end the record is removed, if it still names this router.
//
// One thread.
#pragma once

#include <string>

class ActiveServices_Manager;

class Router_Record {
 public:
  Router_Record() = default;
  ~Router_Record();
  Router_Record(const Router_Record &) = delete;
  Router_Record &operator=(const Router_Record &) = delete;

  // Writes the record for `port`; zone may be empty. False with *error set
  // when the lock could not be taken, another live router is recorded, or
  // the file could not be written.
  bool publish(int port, const std::string &zone, bool launchedByClient, std::string *error);
  // Removes the record if it still names this router. Idempotent.
  void withdraw();
  // The file name (empty before publish).
  const std::string &fileName() const { return file; }

 private:
  ActiveServices_Manager *manager = nullptr;  // owned
  std::string zone;
  std::string file;
  int port = 0;
};
