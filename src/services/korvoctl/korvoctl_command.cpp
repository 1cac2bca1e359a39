// The korvoctl command table.
#include "services/korvoctl/korvoctl_command.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "shared/indgen.h"

namespace {

// Built on first use, so registrars in any file may run in any order.
std::vector<const KorvoCtl_Command *> &table() {
  static std::vector<const KorvoCtl_Command *> commands;
  return commands;
}

}  // namespace

KorvoCtl_Registrar::KorvoCtl_Registrar(const KorvoCtl_Command &command) {
  auto &t = table();
  auto at = std::lower_bound(t.begin(), t.end(), &command,
                             [](const KorvoCtl_Command *a, const KorvoCtl_Command *b) {
                               return std::strcmp(a->name, b->name) < 0;
                             });
  t.insert(at, &command);
}

const std::vector<const KorvoCtl_Command *> &KorvoCtl_Commands() { return table(); }

const KorvoCtl_Command *KorvoCtl_FindCommand(const char *name) {
  if (!name) return nullptr;
  for (const KorvoCtl_Command *c : table())
    if (std::strcmp(c->name, name) == 0) return c;
  return nullptr;
}

int KorvoCtl_UsageError(const KorvoCtl_Command &command, const char *text) {
  gen_error("%s: %s", command.name, text);
  std::fprintf(stderr, "usage: korvoctl %s %s   (korvoctl %s --help for more)\n", command.name,
               command.synopsis, command.name);
  return kKorvoCtlUsage;
}

void KorvoCtl_PrintCommandHelp(const KorvoCtl_Command &command) {
  std::printf("usage: korvoctl [ROUTER OPTIONS] %s %s\n%s.\n\n", command.name, command.synopsis,
              command.summary);
  if (command.operations) {
    std::printf("Operations (korvoctl %s OPERATION --help for more):\n", command.name);
    for (const KorvoCtl_Operation *op = command.operations; op->name; ++op)
      std::printf("  %s %s\n      %s\n", op->name, op->synopsis, op->summary);
    std::printf("\n");
  }
  std::printf("%s", command.help);
}

const KorvoCtl_Operation *KorvoCtl_FindOperation(const KorvoCtl_Command &command, const char *name) {
  if (!command.operations || !name) return nullptr;
  for (const KorvoCtl_Operation *op = command.operations; op->name; ++op)
    if (std::strcmp(op->name, name) == 0) return op;
  return nullptr;
}

void KorvoCtl_PrintOperationHelp(const KorvoCtl_Command &command, const KorvoCtl_Operation &op) {
  std::printf("usage: korvoctl [ROUTER OPTIONS] %s %s %s\n%s.\n%s%s", command.name, op.name,
              op.synopsis, op.summary, *op.help ? "\n" : "", op.help);
}

int KorvoCtl_OperationUsageError(const KorvoCtl_Command &command, const KorvoCtl_Operation &op,
                                 const char *text) {
  gen_error("%s %s: %s", command.name, op.name, text);
  std::fprintf(stderr, "usage: korvoctl %s %s %s   (korvoctl %s %s --help for more)\n",
               command.name, op.name, op.synopsis, command.name, op.name);
  return kKorvoCtlUsage;
}

int KorvoCtl_RunOperation(const KorvoCtl_Command &command, KorvoCtl_Session &session, int argc,
                          char **argv) {
  if (argc < 2) return KorvoCtl_UsageError(command, "an operation is needed");
  const KorvoCtl_Operation *op = KorvoCtl_FindOperation(command, argv[1]);
  if (!op) return KorvoCtl_UsageError(command, (std::string("unknown operation ") + argv[1]).c_str());
  return op->run(session, argc - 1, argv + 1);
}

bool KorvoCtl_ParseInt(const char *text, int *out) {
  if (!text || !*text) return false;
  errno = 0;
  char *end = nullptr;
  long v = std::strtol(text, &end, 10);
  if (errno != 0 || *end || v < INT_MIN || v > INT_MAX) return false;
  *out = static_cast<int>(v);
  return true;
}
