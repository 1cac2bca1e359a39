// korvoctl: the command-line client of the Korvo services.
//
//   korvoctl [--timeout MS] [-sr_... router options] SUBCOMMAND [ARGS]
//   korvoctl SUBCOMMAND --help      korvoctl --help
//   korvoctl --completion bash      (the bash completion script)
//
// The router options ("-sr_zone", "-sr_dir", "-sr_private", ...) may stand
// anywhere and go to the router client unchanged. Exit status: 0 ok,
// 1 failed, 2 usage.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "services/korvoctl/korvoctl_command.h"
#include "services/korvoctl/korvoctl_completion.h"
#include "services/korvoctl/korvoctl_session.h"
#include "services/servicerouter_proxy/servicerouter_proxy.h"
#include "shared/indgen.h"

namespace {

// Default time limit of each wait: long enough for the router to start a
// program on demand.
constexpr int kDefaultTimeoutMs = 40000;

void printOverview() {
  std::printf(
      "usage: korvoctl [--timeout MS] [ROUTER OPTIONS] SUBCOMMAND [ARGS]\n"
      "Reaches the Korvo services through the service router: the one named by the\n"
      "router options, else the one recorded for this user and display, else a\n"
      "shared router it starts.\n\nSubcommands:\n");
  for (const KorvoCtl_Command *c : KorvoCtl_Commands()) {
    std::string head = std::string(c->name) + " " + c->synopsis;
    std::printf("  %-28s %s\n", head.c_str(), c->summary);
  }
  std::printf(
      "\nOptions:\n"
      "  --timeout MS     longest wait for any answer (default %d)\n"
      "  --completion bash print the bash completion script and end\n"
      "  -sr_...          router options, as for every IDE program (-sr_zone NAME,\n"
      "                   -sr_dir DIR, -sr_private, -sr_new, -sr_log FILE, ...)\n"
      "korvoctl SUBCOMMAND --help describes a subcommand.\n"
      "Exit status: 0 ok, 1 failed, 2 usage error.\n",
      kDefaultTimeoutMs);
}

int usage(const std::string &text) {
  gen_error("%s", text.c_str());
  std::fprintf(stderr, "usage: korvoctl [--timeout MS] [ROUTER OPTIONS] SUBCOMMAND [ARGS]"
                       "   (korvoctl --help for more)\n");
  return kKorvoCtlUsage;
}

struct CommandLine {
  std::vector<std::string> routerOptions;
  std::vector<char *> words;  // the subcommand and its arguments
  int timeoutMs = kDefaultTimeoutMs;
  bool help = false;
  bool completion = false;
};

// Splits the command line into router options, korvoctl's own options
// (before the subcommand) and the subcommand's words.
bool split(int argc, char **argv, CommandLine *cl, std::string *error) {
  for (int i = 1; i < argc; ++i) {
    int count = 0;
    if (ServiceRouter_Proxy::isSRArgument(argc, argv, i, &count)) {
      for (int k = 0; k < count; ++k) cl->routerOptions.push_back(argv[i + k]);
      i += count - 1;
    } else if (!cl->words.empty()) {
      cl->words.push_back(argv[i]);
    } else if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      cl->help = true;
    } else if (std::strcmp(argv[i], "--completion") == 0) {
      if (i + 1 >= argc || std::strcmp(argv[i + 1], "bash") != 0) {
        *error = "--completion needs the shell name bash";
        return false;
      }
      cl->completion = true;
      ++i;
    } else if (std::strcmp(argv[i], "--timeout") == 0) {
      if (i + 1 >= argc || !KorvoCtl_ParseInt(argv[i + 1], &cl->timeoutMs) || cl->timeoutMs <= 0) {
        *error = "--timeout needs a number of milliseconds above 0";
        return false;
      }
      ++i;
    } else if (argv[i][0] == '-') {
      *error = std::string("unknown option ") + argv[i];
      return false;
    } else {
      cl->words.push_back(argv[i]);
    }
  }
  return true;
}

bool wantsHelp(const std::vector<char *> &words) {
  for (size_t i = 1; i < words.size(); ++i)
    if (std::strcmp(words[i], "--help") == 0 || std::strcmp(words[i], "-h") == 0) return true;
  return false;
}

// Help for a command, or for its operation `opName` when it has one.
void printHelp(const KorvoCtl_Command &command, const char *opName) {
  const KorvoCtl_Operation *op = KorvoCtl_FindOperation(command, opName);
  if (op)
    KorvoCtl_PrintOperationHelp(command, *op);
  else
    KorvoCtl_PrintCommandHelp(command);
}

int run(int argc, char **argv) {
  CommandLine cl;
  std::string error;
  if (!split(argc, argv, &cl, &error)) return usage(error);
  if (cl.completion) {
    if (!cl.words.empty()) return usage("--completion takes no subcommand");
    KorvoCtl_PrintBashCompletion(stdout);
    return kKorvoCtlOk;
  }
  if (cl.words.empty()) {
    if (cl.help) {
      printOverview();
      return kKorvoCtlOk;
    }
    return usage("a subcommand is needed");
  }
  if (std::strcmp(cl.words[0], "help") == 0) {
    if (cl.words.size() == 1) {
      printOverview();
      return kKorvoCtlOk;
    }
    const KorvoCtl_Command *c = KorvoCtl_FindCommand(cl.words[1]);
    if (!c) return usage(std::string("unknown subcommand ") + cl.words[1]);
    printHelp(*c, cl.words.size() > 2 ? cl.words[2] : nullptr);
    return kKorvoCtlOk;
  }
  const KorvoCtl_Command *command = KorvoCtl_FindCommand(cl.words[0]);
  if (!command) return usage(std::string("unknown subcommand ") + cl.words[0]);
  if (wantsHelp(cl.words)) {
    printHelp(*command, cl.words.size() > 1 ? cl.words[1] : nullptr);
    return kKorvoCtlOk;
  }
  KorvoCtl_Session session(cl.routerOptions, cl.timeoutMs);
  int status = command->run(session, static_cast<int>(cl.words.size()), cl.words.data());
  std::fflush(stdout);
  return status;
}

}  // namespace

int main(int argc, char **argv) {
  gen_init(argc > 0 && argv[0] ? argv[0] : "korvoctl", 0, 0);
  return run(argc, argv);
}
