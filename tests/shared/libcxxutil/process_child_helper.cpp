// Helper program for the process-utility tests: writes its name (argv[0]),
// its LD_LIBRARY_PATH ("<unset>" when unset) and its working directory, one
// per line, to the file named by its first argument.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

int main(int argc, char **argv) {
  if (argc < 2) return 1;
  FILE *out = std::fopen(argv[1], "w");
  if (!out) return 1;
  const char *lib = std::getenv("LD_LIBRARY_PATH");
  char cwd[4096];
  std::fprintf(out, "%s\n%s\n%s\n", argv[0], lib ? lib : "<unset>",
               getcwd(cwd, sizeof cwd) ? cwd : "?");
  return std::fclose(out) == 0 ? 0 : 1;
}
