// korvoctl subcommands: each is a row (name, synopsis, summary, help text,
// run function) that a source file registers with a static
// KorvoCtl_Registrar. A service adds its subcommands in a file of its own,
// listed in the korvoctl program's sources, without touching this one:
//
//   namespace {
//   int runList(KorvoCtl_Session &session, int argc, char **argv) { ... }
//   const KorvoCtl_Command kList = {"mru-list", "LIST", "print a list", "...", runList};
//   KorvoCtl_Registrar registerList(kList);
//   }
//
// A run function gets the subcommand's own words (argv[0] is its name; the
// router options and "--help" are already handled), checks them first and
// only then connects through the session. It prints its result on the
// standard output in a plain, stable form and returns an exit status.
// One thread.
#pragma once

#include <vector>

class KorvoCtl_Session;

// Exit statuses of korvoctl and of every subcommand.
enum KorvoCtl_Status { kKorvoCtlOk = 0, kKorvoCtlFailed = 1, kKorvoCtlUsage = 2 };

struct KorvoCtl_Command {
  const char *name;      // "whereis"
  const char *synopsis;  // "SERVICE [--start]"
  const char *summary;   // one line for the overview
  const char *help;      // the rest of "korvoctl NAME --help" (lines end in \n)
  int (*run)(KorvoCtl_Session &session, int argc, char **argv);
};

// Adds a command to the process-wide table at static initialisation. The
// row must outlive the program (a static object).
class KorvoCtl_Registrar {
 public:
  explicit KorvoCtl_Registrar(const KorvoCtl_Command &command);
};

// Every registered command, sorted by name; the table is owned by the
// module.
const std::vector<const KorvoCtl_Command *> &KorvoCtl_Commands();
// The command with that name, or null.
const KorvoCtl_Command *KorvoCtl_FindCommand(const char *name);
// Reports a usage error of a command ("korvoctl: error: NAME: text" and its
// synopsis) and returns kKorvoCtlUsage.
int KorvoCtl_UsageError(const KorvoCtl_Command &command, const char *text);
// Prints "korvoctl NAME SYNOPSIS", the summary and the help text.
void KorvoCtl_PrintCommandHelp(const KorvoCtl_Command &command);
// Reads a whole decimal number (an optional leading "-" allowed); false
// for anything else.
bool KorvoCtl_ParseInt(const char *text, int *out);
