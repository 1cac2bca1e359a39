// Child processes for end-to-end tests: a program started with pipes on
// its standard input and output, lines written to it and read from it with
// a time limit, and a service router started by hand for one test.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

class E2EChild {
 public:
  // Starts `path` with `args` (argv[1...]); stderr stays the test's unless
  // `errPath` names a file to write it to.
  E2EChild(const std::string &path, const std::vector<std::string> &args,
           const std::string &errPath = "") {
    int in[2], out[2];
    if (pipe(in) != 0 || pipe(out) != 0) return;
    pid = fork();
    if (pid == 0) {
      dup2(in[0], 0);
      dup2(out[1], 1);
      int err = errPath.empty() ? -1 : open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      if (err >= 0) dup2(err, 2);
      close(in[0]);
      close(in[1]);
      close(out[0]);
      close(out[1]);
      std::vector<char *> argv;
      argv.push_back(const_cast<char *>(path.c_str()));
      for (const std::string &a : args) argv.push_back(const_cast<char *>(a.c_str()));
      argv.push_back(nullptr);
      execv(path.c_str(), argv.data());
      _exit(127);
    }
    close(in[0]);
    close(out[1]);
    toChild = in[1];
    fromChild = out[0];
    signal(SIGPIPE, SIG_IGN);
  }

  ~E2EChild() {
    if (toChild >= 0) close(toChild);
    if (pid > 0 && !reaped) {
      if (waitExit(3000) < 0) {
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
      }
    }
    if (fromChild >= 0) close(fromChild);
  }

  E2EChild(const E2EChild &) = delete;
  E2EChild &operator=(const E2EChild &) = delete;

  bool started() const { return pid > 0; }

  void send(const std::string &line) {
    std::string l = line + "\n";
    if (write(toChild, l.data(), l.size()) < 0) return;
  }

  // The next line, or "<timeout>" / "<eof>".
  std::string readLine(int timeoutMs = 10000) {
    long long deadline = nowMs() + timeoutMs;
    for (;;) {
      size_t nl = buffer.find('\n');
      if (nl != std::string::npos) {
        std::string line = buffer.substr(0, nl);
        buffer.erase(0, nl + 1);
        return line;
      }
      long long left = deadline - nowMs();
      if (left <= 0) return "<timeout>";
      pollfd p{fromChild, POLLIN, 0};
      if (poll(&p, 1, static_cast<int>(left)) <= 0) continue;
      char buf[4096];
      ssize_t n = read(fromChild, buf, sizeof buf);
      if (n <= 0) return "<eof>";
      buffer.append(buf, static_cast<size_t>(n));
    }
  }

  // Lines up to and including the first that starts with `prefix`.
  std::vector<std::string> readUntil(const std::string &prefix, int timeoutMs = 10000) {
    std::vector<std::string> lines;
    for (;;) {
      std::string l = readLine(timeoutMs);
      lines.push_back(l);
      if (l.rfind(prefix, 0) == 0 || l == "<timeout>" || l == "<eof>") return lines;
    }
  }

  // Sends a command and returns the lines it printed before its "ok"/"fail"
  // line, which goes last.
  std::vector<std::string> run(const std::string &command) {
    send(command);
    std::vector<std::string> lines;
    for (;;) {
      std::string l = readLine();
      lines.push_back(l);
      if (l == "ok " + command || l == "fail " + command || l == "<timeout>" || l == "<eof>")
        return lines;
    }
  }

  // The exit status (or 128 + signal), -1 when it did not end in time.
  int waitExit(int timeoutMs) {
    long long deadline = nowMs() + timeoutMs;
    for (;;) {
      int status = 0;
      if (reaped) return exitCode;
      pid_t r = waitpid(pid, &status, WNOHANG);
      if (r == pid) {
        reaped = true;
        exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        return exitCode;
      }
      if (nowMs() > deadline) return -1;
      usleep(10000);
    }
  }

  void signalChild(int sig) {
    if (pid > 0 && !reaped) kill(pid, sig);
  }

  pid_t pid = -1;

 private:
  static long long nowMs() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec * 1000LL + ts.tv_nsec / 1000000;
  }

  int toChild = -1;
  int fromChild = -1;
  bool reaped = false;
  int exitCode = -1;
  std::string buffer;
};

// The directory of the project's programs (set by the test runner).
inline std::string e2eBinDir() {
  const char *d = std::getenv("KORVO_BIN_DIR");
  return d ? d : ".";
}

// A router started by hand for one test: not shared, never idle-exiting.
// With `provider` set, a services file naming that program (from the
// programs' folder) as the provider of `services` is written to TMPDIR and
// the program is started at once; otherwise the default services file is
// used and svc_statemgr is started. `port` is 0 when the router did not
// come up.
class E2ERouter {
 public:
  explicit E2ERouter(const char *provider = nullptr,
                     const std::vector<std::string> &services = {})
      : child(e2eBinDir() + "/svc_router", routerArgs(provider, services)) {
    std::string first = child.readLine(10000);
    size_t at = first.find(" port ");
    if (at != std::string::npos) port = std::atoi(first.c_str() + at + 6);
  }
  // SIGTERM: the router closes every connection and ends; the state
  // manager then ends by itself.
  ~E2ERouter() { stop(); }

  int stop() {
    if (stopped) return stopStatus;
    stopped = true;
    child.signalChild(SIGTERM);
    stopStatus = child.waitExit(15000);
    return stopStatus;
  }

  // Options that point a client at this router.
  std::vector<std::string> clientOptions() const {
    return {"-sr_connect_servicerouter_port", std::to_string(port)};
  }

  E2EChild child;
  int port = 0;

 private:
  static std::vector<std::string> routerArgs(const char *provider,
                                             const std::vector<std::string> &services) {
    std::vector<std::string> args{"-port", "0", "-idle_exit", "0", "-not_shared"};
    if (!provider) {
      args.insert(args.end(), {"-start", "svc_statemgr"});
      return args;
    }
    const char *tmp = std::getenv("TMPDIR");
    std::string file = std::string(tmp ? tmp : "/tmp") + "/e2e_services_" +
                       std::to_string(getpid()) + ".cfg";
    std::string text = std::string(provider) + " {\n  Services = {";
    for (size_t i = 0; i < services.size(); ++i)
      text += (i ? ", \"" : " \"") + services[i] + "\"";
    text += " }\n}\n";
    if (FILE *f = std::fopen(file.c_str(), "w")) {
      std::fputs(text.c_str(), f);
      std::fclose(f);
    }
    args.insert(args.end(), {"-services", file, "-start", provider});
    return args;
  }

  bool stopped = false;
  int stopStatus = -1;
};

// korvoctl with `args` after the options that point it at `router`; its
// exit status and the lines it printed. Its standard error goes to
// `errPath` when one is given.
inline std::pair<int, std::vector<std::string>> e2eKorvoctl(const E2ERouter &router,
                                                            const std::vector<std::string> &args,
                                                            const std::string &errPath = "") {
  std::vector<std::string> all = router.clientOptions();
  all.insert(all.end(), args.begin(), args.end());
  E2EChild c(e2eBinDir() + "/korvoctl", all, errPath);
  std::vector<std::string> lines;
  for (std::string l = c.readLine(); l != "<eof>" && l != "<timeout>"; l = c.readLine())
    lines.push_back(l);
  return {c.waitExit(10000), lines};
}
