// Child processes for end-to-end tests: a program started with pipes on
// its standard input and output, lines written to it and read from it with
// a time limit; a service router started by hand for one test; korvoctl
// runs with their exit status, output and errors.
#pragma once

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "support/text_files.h"

// Where a child's standard output and error go (a file, or the default:
// a pipe to the test for output, the test's own for errors) and, when not
// -1, the uid (and gid) it runs as.
struct E2EChildOptions {
  std::string errPath, outPath;
  int uid = -1;
};

class E2EChild {
 public:
  // Starts `path` with `args` (argv[1...]); stderr stays the test's unless
  // `errPath` names a file to write it to.
  E2EChild(const std::string &path, const std::vector<std::string> &args,
           const std::string &errPath = "")
      : E2EChild(path, args, E2EChildOptions{errPath, "", -1}) {}

  E2EChild(const std::string &path, const std::vector<std::string> &args,
           const E2EChildOptions &options) {
    int in[2], out[2];
    if (pipe(in) != 0 || pipe(out) != 0) return;
    const pid_t parent = getpid();
    pid = fork();
    if (pid == 0) {
      dup2(in[0], 0);
      redirect(options.outPath, 1, out[1]);
      redirect(options.errPath, 2, -1);
      if (options.uid >= 0 && (setgid(options.uid) != 0 || setuid(options.uid) != 0)) _exit(126);
      // Ends with the test or bench that started it (set after the uid
      // change, which clears it): one killed mid-run leaves no router
      // behind, and with the router go the programs linked to it.
      prctl(PR_SET_PDEATHSIG, SIGTERM);
      if (getppid() != parent) _exit(125);
      for (int fd : {in[0], in[1], out[0], out[1]}) close(fd);
      std::vector<char *> argv{const_cast<char *>(path.c_str())};
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
    if (pid > 0 && !reaped && waitExit(3000) < 0) {
      kill(pid, SIGKILL);
      waitpid(pid, nullptr, 0);
    }
    if (fromChild >= 0) close(fromChild);
  }

  E2EChild(const E2EChild &) = delete;
  E2EChild &operator=(const E2EChild &) = delete;

  void send(const std::string &line) {
    std::string l = line + "\n";
    if (write(toChild, l.data(), l.size()) < 0) return;  // the child is gone: reads tell
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
    return readTo([&](const std::string &l) { return l.rfind(prefix, 0) == 0; }, timeoutMs);
  }

  // Sends a command and returns the lines it printed before its "ok"/"fail"
  // line, which goes last.
  std::vector<std::string> run(const std::string &command) {
    send(command);
    return readTo([&](const std::string &l) { return l == "ok " + command || l == "fail " + command; },
                  10000);
  }

  // The exit status (or 128 + signal), -1 when it did not end in time.
  int waitExit(int timeoutMs) {
    for (long long deadline = nowMs() + timeoutMs; !reaped; usleep(10000)) {
      int status = 0;
      if (waitpid(pid, &status, WNOHANG) == pid) {
        reaped = true;
        exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      } else if (nowMs() > deadline) {
        return -1;
      }
    }
    return exitCode;
  }

  void signalChild(int sig) {
    if (pid > 0 && !reaped) kill(pid, sig);
  }

  static long long nowMs() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec * 1000LL + ts.tv_nsec / 1000000;
  }

  pid_t pid = -1;

 private:
  // In the child: `fd` becomes the file at `path`, or `fallback` (if any).
  static void redirect(const std::string &path, int fd, int fallback) {
    int to = path.empty() ? fallback : open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (to >= 0) dup2(to, fd);
  }
  // Lines up to and including the first `last` accepts (or a timeout / eof).
  template <class Last>
  std::vector<std::string> readTo(const Last &last, int timeoutMs) {
    std::vector<std::string> lines;
    do lines.push_back(readLine(timeoutMs));
    while (!last(lines.back()) && lines.back() != "<timeout>" && lines.back() != "<eof>");
    return lines;
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

// A unique path in the test's TMPDIR for `stem`.
inline std::string e2eTempPath(const std::string &stem) {
  static int counter = 0;
  const char *tmp = std::getenv("TMPDIR");
  return std::string(tmp && *tmp ? tmp : "/tmp") + "/" + stem + "_" + std::to_string(getpid()) +
         "_" + std::to_string(++counter);
}

// The whole content of the file at `path` ("" when there is none).
inline std::string e2eReadFile(const std::string &path) { return testsupport::readFile(path); }

// A socket connected to 127.0.0.1:port, or -1.
inline int e2eConnectLoopback(int port) {
  int s = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<uint16_t>(port));
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (s >= 0 && connect(s, reinterpret_cast<sockaddr *>(&addr), sizeof addr) == 0) return s;
  if (s >= 0) close(s);
  return -1;
}

// Whether `done` holds within `ms` milliseconds (asked every 10 ms).
template <class Done>
bool e2eEventually(int ms, const Done &done) {
  for (long long end = E2EChild::nowMs() + ms; !done(); usleep(10000))
    if (E2EChild::nowMs() > end) return false;
  return true;
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
    readPort();
  }
  // A router with exactly `args`, run as `options.uid` when that is set.
  E2ERouter(const std::vector<std::string> &args, const E2EChildOptions &options)
      : child(e2eBinDir() + "/svc_router", args, options) {
    readPort();
  }
  // SIGTERM: the router closes every connection and ends; the state
  // manager then ends by itself.
  ~E2ERouter() { stop(); }

  int stop() {
    if (!stopped) child.signalChild(SIGTERM);
    stopped = true;
    return child.waitExit(15000);
  }

  // Options that point a client at this router.
  std::vector<std::string> clientOptions() const {
    return {"-sr_connect_servicerouter_port", std::to_string(port)};
  }

  E2EChild child;
  int port = 0;

 private:
  void readPort() {
    std::string first = child.readLine(10000);
    size_t at = first.find(" port ");
    if (at != std::string::npos) port = std::atoi(first.c_str() + at + 6);
  }

  static std::vector<std::string> routerArgs(const char *provider,
                                             const std::vector<std::string> &services) {
    std::vector<std::string> args{"-port", "0", "-idle_exit", "0", "-not_shared"};
    if (!provider) {
      args.insert(args.end(), {"-start", "svc_statemgr"});
      return args;
    }
    std::string file = e2eTempPath("e2e_services") + ".cfg";
    std::string text = std::string(provider) + " {\n  Services = {";
    for (size_t i = 0; i < services.size(); ++i)
      text += (i ? ", \"" : " \"") + services[i] + "\"";
    if (FILE *f = std::fopen(file.c_str(), "w")) {
      std::fputs((text + " }\n}\n").c_str(), f);
      std::fclose(f);
    }
    args.insert(args.end(), {"-services", file, "-start", provider});
    return args;
  }

  bool stopped = false;
};

// A finished korvoctl run: its exit status (128 + signal when killed, -1
// when it did not end in time), the lines it printed and its errors.
struct E2ERun {
  int status = -1;
  std::vector<std::string> out;
  std::string err;
};

// korvoctl with `args`, started at construction and collected later, so
// that several can run at once. Its output goes to files: a router it
// launches may keep them open after korvoctl ended.
class E2EKorvoctl {
 public:
  explicit E2EKorvoctl(const std::vector<std::string> &args)
      : files(e2eTempPath("korvoctl")),
        child(e2eBinDir() + "/korvoctl", args, E2EChildOptions{files + ".err", files + ".out"}) {}

  E2ERun collect(int timeoutMs = 60000) {
    E2ERun r;
    r.status = child.waitExit(timeoutMs);
    if (r.status < 0) child.signalChild(SIGKILL);
    std::string text = e2eReadFile(files + ".out");
    for (size_t at = 0, nl; (nl = text.find('\n', at)) != std::string::npos; at = nl + 1)
      r.out.push_back(text.substr(at, nl - at));
    r.err = e2eReadFile(files + ".err");
    return r;
  }

 private:
  std::string files;
  E2EChild child;
};

inline E2ERun e2eKorvoctl(const std::vector<std::string> &args) {
  return E2EKorvoctl(args).collect();
}

// korvoctl with `args` after the options that point it at `router`.
inline E2ERun e2eKorvoctl(const E2ERouter &router, std::vector<std::string> args) {
  args.insert(args.begin(), {"-sr_connect_servicerouter_port", std::to_string(router.port)});
  return e2eKorvoctl(args);
}
