// The bash completion script of korvoctl, generated from the command table.
#include "services/korvoctl/korvoctl_completion.h"

#include <cctype>
#include <cstring>

#include "services/korvoctl/korvoctl_command.h"

namespace {

// A keyword starts with a lower-case letter, or with "-" and then one.
bool isKeyword(const std::string &w) {
  size_t i = w.find_first_not_of('-');
  return i != std::string::npos && i <= 2 && std::islower(static_cast<unsigned char>(w[i]));
}

// Appends the alternatives of one synopsis word ("[--type", "a|b]", "VALUE...").
void addAlternatives(std::string word, std::vector<std::string> *out) {
  for (char &c : word)
    if (c == '[' || c == ']' || c == '|') c = ' ';
  size_t dots = word.find("...");
  if (dots != std::string::npos) word.erase(dots);
  size_t at = 0;
  while ((at = word.find_first_not_of(' ', at)) != std::string::npos) {
    size_t end = word.find(' ', at);
    std::string w = word.substr(at, end == std::string::npos ? std::string::npos : end - at);
    if (isKeyword(w)) out->push_back(w);
    at = end;
  }
}

std::string join(const std::vector<std::string> &words) {
  std::string s;
  for (const std::string &w : words) s += (s.empty() ? "" : " ") + w;
  return s;
}

// "f" when the synopsis names a FILE, "d" for a DIR, else "".
const char *pathKind(const char *synopsis) {
  if (std::strstr(synopsis, "FILE")) return "f";
  if (std::strstr(synopsis, "DIR")) return "d";
  return "";
}

void printCase(FILE *out, const std::string &key, const std::vector<std::string> &words) {
  std::fprintf(out, "    \"%s\") echo \"%s\" ;;\n", key.c_str(), join(words).c_str());
}

// The case rows of _korvoctl_words: what may follow each command line
// prefix ("", "help", "wb", "wb set", "windows").
void printWords(FILE *out) {
  std::vector<std::string> top{"--help", "--timeout", "--completion", "help"}, names;
  for (const KorvoCtl_Command *c : KorvoCtl_Commands()) names.push_back(c->name);
  top.insert(top.end(), names.begin(), names.end());
  printCase(out, "", top);
  printCase(out, "help", names);
  for (const KorvoCtl_Command *c : KorvoCtl_Commands()) {
    std::vector<std::string> words;
    if (!c->operations) words = KorvoCtl_CompletionWords(c->synopsis);
    for (const KorvoCtl_Operation *op = c->operations; op && op->name; ++op) {
      words.push_back(op->name);
      std::vector<std::string> opWords = KorvoCtl_CompletionWords(op->synopsis);
      opWords.push_back("--help");
      printCase(out, std::string(c->name) + " " + op->name, opWords);
    }
    words.push_back("--help");
    printCase(out, c->name, words);
  }
}

// The case rows of _korvoctl_paths: the prefixes whose arguments are
// files ("f") or directories ("d").
void printPaths(FILE *out) {
  for (const KorvoCtl_Command *c : KorvoCtl_Commands()) {
    if (!c->operations && *pathKind(c->synopsis))
      std::fprintf(out, "    \"%s\") echo %s ;;\n", c->name, pathKind(c->synopsis));
    for (const KorvoCtl_Operation *op = c->operations; op && op->name; ++op)
      if (*pathKind(op->synopsis))
        std::fprintf(out, "    \"%s %s\") echo %s ;;\n", c->name, op->name, pathKind(op->synopsis));
  }
}

const char kDriver[] =
    "_korvoctl() {\n"
    "  local cur=${COMP_WORDS[COMP_CWORD]} key=\"\" i w\n"
    "  for ((i = 1; i < COMP_CWORD; i++)); do\n"
    "    w=${COMP_WORDS[i]}\n"
    "    [[ $w == -* ]] && continue\n"
    "    if [[ -z $key ]]; then\n"
    "      [[ \" $(_korvoctl_words \"\") \" == *\" $w \"* ]] && key=$w\n"
    "    elif [[ $key != *\" \"* && \" $(_korvoctl_operations \"$key\") \" == *\" $w \"* ]]; then\n"
    "      key=\"$key $w\"\n"
    "    fi\n"
    "  done\n"
    "  COMPREPLY=($(compgen -W \"$(_korvoctl_words \"$key\")\" -- \"$cur\"))\n"
    "  case \"$(_korvoctl_paths \"$key\")\" in\n"
    "    f) COMPREPLY+=($(compgen -f -- \"$cur\")) ;;\n"
    "    d) COMPREPLY+=($(compgen -d -- \"$cur\")) ;;\n"
    "  esac\n"
    "}\n"
    "complete -F _korvoctl korvoctl\n";

}  // namespace

std::vector<std::string> KorvoCtl_CompletionWords(const char *synopsis) {
  std::vector<std::string> words;
  std::string s = synopsis ? synopsis : "";
  size_t at = 0;
  while ((at = s.find_first_not_of(' ', at)) != std::string::npos) {
    size_t end = s.find(' ', at);
    addAlternatives(s.substr(at, end == std::string::npos ? std::string::npos : end - at), &words);
    at = end;
  }
  return words;
}

void KorvoCtl_PrintBashCompletion(FILE *out) {
  std::fprintf(out,
               "# bash completion for korvoctl, made by \"korvoctl --completion bash\" from its\n"
               "# command table. Enable it with: source <this file> (or install it into\n"
               "# the bash-completion completions folder).\n"
               "_korvoctl_words() {\n  case \"$1\" in\n");
  printWords(out);
  std::fprintf(out, "  esac\n}\n_korvoctl_operations() {\n  case \"$1\" in\n");
  for (const KorvoCtl_Command *c : KorvoCtl_Commands()) {
    std::vector<std::string> ops;
    for (const KorvoCtl_Operation *op = c->operations; op && op->name; ++op) ops.push_back(op->name);
    if (!ops.empty()) printCase(out, c->name, ops);
  }
  std::fprintf(out, "  esac\n}\n_korvoctl_paths() {\n  case \"$1\" in\n");
  printPaths(out);
  std::fprintf(out, "  esac\n}\n%s", kDriver);
}
