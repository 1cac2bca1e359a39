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
// A subcommand with several operations ("wb get", "wb set", ...) lists
// them in a table of KorvoCtl_Operation rows ended by a row with a null
// name; its run function passes its words to KorvoCtl_RunOperation. Help
// and the bash completion (korvoctl_completion.h) are made from the same
// rows.
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

// One operation of a subcommand: "korvoctl wb set ...".
struct KorvoCtl_Operation {
  const char *name;      // "set"
  const char *synopsis;  // "GROUP NAME --bool|--int|--string|--list VALUE..."
  const char *summary;   // one line
  const char *help;      // more lines for "korvoctl wb set --help" ("" for none)
  // Gets the words from the operation's name on (argv[0] is "set").
  int (*run)(KorvoCtl_Session &session, int argc, char **argv);
};

struct KorvoCtl_Command {
  const char *name;      // "whereis"
  const char *synopsis;  // "SERVICE [--start]"
  const char *summary;   // one line for the overview
  const char *help;      // the rest of "korvoctl NAME --help" (lines end in \n)
  int (*run)(KorvoCtl_Session &session, int argc, char **argv);
  // The operations, ended by a row with a null name; null when the
  // subcommand has none.
  const KorvoCtl_Operation *operations = nullptr;
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
// Prints "korvoctl NAME SYNOPSIS", the summary, the operations (if any)
// and the help text.
void KorvoCtl_PrintCommandHelp(const KorvoCtl_Command &command);
// The operation of `command` with that name, or null.
const KorvoCtl_Operation *KorvoCtl_FindOperation(const KorvoCtl_Command &command, const char *name);
// Prints "korvoctl NAME OP SYNOPSIS", the operation's summary and help.
void KorvoCtl_PrintOperationHelp(const KorvoCtl_Command &command, const KorvoCtl_Operation &op);
// Reports a usage error of an operation with its synopsis; returns
// kKorvoCtlUsage.
int KorvoCtl_OperationUsageError(const KorvoCtl_Command &command, const KorvoCtl_Operation &op,
                                 const char *text);
// Runs the operation named by argv[1] with argv + 1; a missing or unknown
// operation is a usage error.
int KorvoCtl_RunOperation(const KorvoCtl_Command &command, KorvoCtl_Session &session, int argc,
                          char **argv);
// Reads a whole decimal number (an optional leading "-" allowed); false
// for anything else.
bool KorvoCtl_ParseInt(const char *text, int *out);
