// Helper program for the launcher tests. Its last argument chooses what it
// does: "connect" connects to the port given on its command line (either
// "localhost <port>" or "-connect_servicerouter <port>" at the front) and
// stays until the launcher closes the connection; "cwd" first writes its
// working directory to the file "cwd.txt" there, then does what "connect"
// does; "exit" ends at once with status 3 without connecting; "sleep" waits
// without connecting.
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "shared/stp_transport/stp_transport.h"

int main(int argc, char **argv) {
  if (argc < 4) return 1;
  const char *mode = argv[argc - 1];
  if (std::strcmp(mode, "exit") == 0) return 3;
  if (std::strcmp(mode, "sleep") == 0) {
    sleep(60);
    return 0;
  }
  if (std::strcmp(mode, "cwd") == 0) {
    char cwd[PATH_MAX];
    FILE *out = std::fopen("cwd.txt", "w");
    if (!out || !getcwd(cwd, sizeof cwd)) return 1;
    std::fputs(cwd, out);
    std::fclose(out);
  }
  const char *host = std::strcmp(argv[1], "localhost") == 0 ? argv[1] : "127.0.0.1";
  int port = std::atoi(argv[2]);
  auto *transport = new STPTransport();
  TStat stat;
  int rc = 1;
  if (transport->connect(host, port, &stat)) {
    // Serve until the launcher's side closes (bounded: 30 rounds of 1 s).
    for (int i = 0; i < 30 && transport->serviceOnce(1000, &stat) && !transport->isDead(); ++i) {
    }
    rc = 0;
  }
  transport->delRef();
  return rc;
}
