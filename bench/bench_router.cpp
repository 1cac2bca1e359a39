// The cost of one forwarding hop through svc_router, side by side with the
// physical limit of such a hop: a raw TCP relay process that only copies
// bytes between two sockets. Both paths carry the same RouterEcho endpoints
// at both ends (the bench process's client, an echo server in another
// process), so the difference between them is the hop alone.
//
//   RoundTrip/N         Ping -> Pong with a text of N bytes, through the
//                       router (the server is the test provider program, a
//                       plugin of the same router) and through the relay,
//                       in turns: one of each per iteration, the first path
//                       alternating. Timed apart, the two paths met the
//                       machine in different states (load, clock, which core
//                       wakes) and their medians differed by up to 2x either
//                       way from one run to the next. The round trips come
//                       from eight sets of processes, each started afresh:
//                       on two CPUs a set of processes settles into where
//                       the scheduler places them and keeps that for its
//                       life (a path ~1.5x slower than in another set), so
//                       one set is one draw. Each set's medians go to
//                       standard error.
//   RoundTrip/.../one_core:1  the same with every process of both paths
//                       (and the bench) on one CPU: no path can be luckier
//                       in where its processes wake, so the difference is
//                       the work of the hop itself.
//   Stream/N            the server queues 256 Notify messages of N bytes at
//                       once (batched writes) and a Pong after them; both
//                       paths in turns over the same sets of processes
//                       (router_bytes_per_second, relay_bytes_per_second).
//
// router_median_us, router_p99_us, relay_median_us and relay_p99_us are the median
// and the 99th percentile of each path's round trips in a run. The bench
// starts every process itself and ends them when it exits.
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <arpa/inet.h>
#include <chrono>
#include <memory>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "bench_latency.h"
#include "services/router/router_testkit.h"
#include "shared/stp_transport/stp_bmsg.h"
#include "shared/stp_transport/stp_transport.h"

namespace {

constexpr int kStreamCount = 256;
// Round trips are timed on kSets sets of processes, kPerSet of each path
// per set (about a quarter of a second at 16 bytes).
constexpr int kSets = 8;
constexpr int kPerSet = 2500;
// Streams take about this many bytes per path per set.
constexpr long long kStreamBytesPerSet = 32LL << 20;

double nowUs() {
  return std::chrono::duration<double, std::micro>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// Size on the wire of a RouterEcho Ping or Notify with a text of n bytes.
int stpPacketSize(int n) {
  std::string text(static_cast<size_t>(n), 'p');
  STPBinaryOMsg m(100, 101, STP_TYPE_BINARY, 0, 0, STP_FLAG_ASYNC, 0, 1);
  m.put4(0, 1);
  m.putS(1, text.c_str());
  m.finishMessage(2);
  int hl = 0, bl = 0;
  m.getContent(&hl, &bl);
  return (hl + bl + 3) & ~3;
}

// ---------------------------------------------------------------------------
// The raw relay and its echo server

void noDelay(int fd) {
  int on = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

int listenLoopback(int *port) {
  int s = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  ::bind(s, reinterpret_cast<sockaddr *>(&a), sizeof a);
  ::listen(s, 4);
  ::getsockname(s, reinterpret_cast<sockaddr *>(&a), &len);
  *port = ntohs(a.sin_port);
  return s;
}

int connectLoopback(int port) {
  int s = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(static_cast<uint16_t>(port));
  if (::connect(s, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0) {
    ::close(s);
    return -1;
  }
  noDelay(s);
  return s;
}

bool writeFull(int fd, const char *buf, size_t n) {
  size_t done = 0;
  while (done < n) {
    ssize_t w = ::send(fd, buf + done, n - done, MSG_NOSIGNAL);
    if (w <= 0) return false;
    done += static_cast<size_t>(w);
  }
  return true;
}

// The RNs of the echo connection over the relay.
constexpr int kClientRN = 100;
constexpr int kServerRN = 101;

// An RouterEcho server on a plain STP transport, until the peer leaves.
[[noreturn]] void stpEchoServer(int lfd) {
  TStat st;
  int fd = STPTransport::acceptClient(lfd, true, &st);
  STPTransport *t = new STPTransport(32768);
  t->bindFD(fd, &st);
  EchoServer *server = new EchoServer();
  server->setTransport(t, kServerRN, kClientRN);
  t->delRef();
  server->sendNegotiate(true, nullptr, &st);
  while (!t->isDead()) t->serviceOnce(1000, &st);
  ::_exit(0);
}

// Copies bytes both ways between one client and the echo server.
[[noreturn]] void rawRelay(int lfd, int serverPort) {
  int client = ::accept(lfd, nullptr, nullptr);
  noDelay(client);
  int server = connectLoopback(serverPort);
  std::vector<char> buf(1 << 18);
  for (;;) {
    pollfd p[2] = {{client, POLLIN, 0}, {server, POLLIN, 0}};
    if (::poll(p, 2, -1) <= 0) continue;
    for (int i = 0; i < 2; ++i) {
      if (!(p[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
      ssize_t n = ::read(p[i].fd, buf.data(), buf.size());
      if (n <= 0 || !writeFull(i == 0 ? server : client, buf.data(), static_cast<size_t>(n)))
        ::_exit(0);
    }
  }
}

// ---------------------------------------------------------------------------
// The two paths: an echo client in this process and the server elsewhere.

class Path {
 public:
  virtual ~Path() = default;
  EchoClient *echo = nullptr;  // one reference
  STPTransport *link = nullptr;
  bool ok() const { return echo != nullptr; }
  // The path's own processes (not this one).
  virtual std::vector<pid_t> processes() const = 0;

 protected:
  void releaseEcho() {
    if (!echo) return;
    echo->setTransport(nullptr);
    echo->delRef();
    echo = nullptr;
  }
};

class RelayPath : public Path {
 public:
  RelayPath() {
    int serverPort = 0, relayPort = 0;
    int sfd = listenLoopback(&serverPort);
    int rfd = listenLoopback(&relayPort);
    pid_t s = ::fork();
    if (s == 0) stpEchoServer(sfd);
    pid_t r = ::fork();
    if (r == 0) rawRelay(rfd, serverPort);
    ::close(sfd);
    ::close(rfd);
    pids = {s, r};
    link = new STPTransport(32768);
    TStat st;
    if (!link->connect("127.0.0.1", relayPort, &st)) return;
    echo = new EchoClient();
    echo->setTransport(link, kClientRN, kServerRN);
    echo->sendNegotiate(true, nullptr, &st);
    if (!RouterTest_Pump({link}, 5000, [&] { return echo->isNegotiated(); })) releaseEcho();
  }
  std::vector<pid_t> processes() const override { return pids; }
  ~RelayPath() override {
    releaseEcho();
    link->closeConnection(nullptr);
    link->delRef();
    for (pid_t p : pids) {
      ::kill(p, SIGKILL);
      ::waitpid(p, nullptr, 0);
    }
  }

 private:
  std::vector<pid_t> pids;
};

class RouterPath : public Path {
 public:
  RouterPath() {
    if (!router.start({"-not_shared", "-idle_exit", "0"})) return;
    provider = ::fork();
    if (provider == 0) {
      std::string prog = RouterTest_BinDir() + "/router_test_provider";
      std::string port = std::to_string(router.port);
      ::execl(prog.c_str(), prog.c_str(), "-connect_servicerouter", port.c_str(), "-provide",
              "Echo", static_cast<char *>(nullptr));
      ::_exit(127);
    }
    plugin = TestPlugin::connect(router.port);
    if (!plugin) return;
    link = plugin->link();
    // The provider may still be registering: ask until it is there.
    for (int cookie = 1; cookie < 100 && !echo; ++cookie) {
      plugin->requestService("Echo", cookie);
      RouterTest_Pump({link}, 2000,
                      [&] { return plugin->replies.size() == static_cast<size_t>(cookie); });
      if (!plugin->replies.empty() && plugin->replies.back().accepted)
        echo = RouterTest_OpenEcho(plugin, plugin->replies.back(), {});
      else
        ::usleep(20000);
    }
  }
  std::vector<pid_t> processes() const override { return {router.pid, provider}; }
  ~RouterPath() override {
    releaseEcho();
    if (plugin) plugin->destroy();
    int status = 0;
    router.stop(SIGTERM, 10000, &status);
    if (provider > 0) ::waitpid(provider, &status, 0);
  }

 private:
  RouterProcess router;
  pid_t provider = 0;
  TestPlugin *plugin = nullptr;
};

// One path of each kind, kept until renewPaths.
std::unique_ptr<Path> g_paths[2];

Path &path(int kind) {
  if (!g_paths[kind]) {
    if (kind == 0)
      g_paths[kind] = std::make_unique<RouterPath>();
    else
      g_paths[kind] = std::make_unique<RelayPath>();
  }
  return *g_paths[kind];
}

// Ends both paths' processes; path() starts new ones.
void renewPaths() {
  for (auto &p : g_paths) p.reset();
}

// Moves this process and every process of both paths onto the CPU this
// process runs on, and back onto all the CPUs it had when it goes.
class OneCore {
 public:
  explicit OneCore(const std::vector<pid_t> &others) : pids(others) {
    pids.push_back(0);
    ::sched_getaffinity(0, sizeof all, &all);
    cpu_set_t one;
    CPU_ZERO(&one);
    CPU_SET(::sched_getcpu(), &one);
    for (pid_t p : pids) ::sched_setaffinity(p, sizeof one, &one);
  }
  ~OneCore() {
    for (pid_t p : pids) ::sched_setaffinity(p, sizeof all, &all);
  }

 private:
  std::vector<pid_t> pids;
  cpu_set_t all;
};

// One round trip on a path: its time in microseconds, or -1 without a pong.
double timedRoundTrip(Path &p, int seq, const std::string &text) {
  double t0 = nowUs();
  p.echo->send_Ping(seq, text.c_str());
  // Waits of 1 s at most, not the 1 ms slices of the test pump: a short
  // time-out costs the waiting process a kernel timer on every wait.
  TStat st;
  for (int waits = 0; p.echo->pongs.empty(); ++waits)
    if (waits == 5 || !p.link->serviceOnce(1000, &st)) return -1;
  double us = nowUs() - t0;
  p.echo->pongs.clear();
  return us;
}

// Runs each(paths, set) on kSets sets of both paths, each set started
// afresh and, with oneCore, on one CPU. False when a set could not be set
// up or `each` failed (the state then says why).
template <class Each>
bool forEachSet(benchmark::State &state, bool oneCore, Each each) {
  for (int set = 0; set < kSets; ++set) {
    renewPaths();
    Path *paths[2] = {&path(0), &path(1)};
    if (!paths[0]->ok() || !paths[1]->ok()) {
      state.SkipWithError("the paths could not be set up");
      return false;
    }
    std::vector<pid_t> processes = paths[0]->processes();
    for (pid_t p : paths[1]->processes()) processes.push_back(p);
    std::unique_ptr<OneCore> pinned(oneCore ? new OneCore(processes) : nullptr);
    if (!each(paths, set)) return false;
  }
  return true;
}

void RoundTrip(benchmark::State &state) {
  std::string text(static_cast<size_t>(state.range(0)), 'p');
  std::vector<double> lat[2];
  auto oneSet = [&](Path *paths[2], int set) {
    std::vector<double> mine[2];
    for (int seq = 1; seq <= kPerSet; ++seq) {
      for (int turn = 0; turn < 2; ++turn) {
        int kind = (seq + turn) % 2;
        double us = timedRoundTrip(*paths[kind], seq, text);
        if (us < 0) {
          state.SkipWithError("no pong");
          return false;
        }
        mine[kind].push_back(us);
      }
    }
    std::fprintf(stderr, "bench_router: round trip %d bytes%s, set %d of %d: median router %.1f us, relay %.1f us\n",
                 static_cast<int>(state.range(0)), state.range(1) ? " on one core" : "", set + 1, kSets,
                 benchMedian(mine[0]), benchMedian(mine[1]));
    for (int k = 0; k < 2; ++k) lat[k].insert(lat[k].end(), mine[k].begin(), mine[k].end());
    return true;
  };
  for (auto _ : state)
    if (!forEachSet(state, state.range(1) != 0, oneSet)) return;
  benchReportLatencies(state, lat[0], "router_");
  benchReportLatencies(state, lat[1], "relay_");
  state.counters["round_trips"] = static_cast<double>(lat[0].size());
}

// One stream on a path: its time in seconds, or -1 when it did not end.
double timedStream(Path &p, int size) {
  double t0 = nowUs();
  p.echo->send_Stream(kStreamCount, size);
  if (!RouterTest_Pump({p.link}, 20000, [&] { return !p.echo->pongs.empty(); })) return -1;
  p.echo->pongs.clear();
  return (nowUs() - t0) / 1e6;
}

void Stream(benchmark::State &state) {
  int size = static_cast<int>(state.range(0));
  long long bytes = kStreamCount * static_cast<long long>(stpPacketSize(size));
  int perSet = static_cast<int>(std::max(1LL, kStreamBytesPerSet / bytes));
  double seconds[2] = {0, 0};
  auto oneSet = [&](Path *paths[2], int set) {
    double mine[2] = {0, 0};
    for (int i = 0; i < perSet; ++i) {
      for (int turn = 0; turn < 2; ++turn) {
        int kind = (i + turn) % 2;
        double s = timedStream(*paths[kind], size);
        if (s < 0) {
          state.SkipWithError("stream did not end");
          return false;
        }
        mine[kind] += s;
      }
    }
    std::fprintf(stderr, "bench_router: stream %d bytes, set %d of %d: router %.0f MB/s, relay %.0f MB/s\n", size,
                 set + 1, kSets, perSet * bytes / mine[0] / 1e6, perSet * bytes / mine[1] / 1e6);
    for (int k = 0; k < 2; ++k) seconds[k] += mine[k];
    return true;
  };
  for (auto _ : state)
    if (!forEachSet(state, false, oneSet)) return;
  state.counters["router_bytes_per_second"] = kSets * perSet * bytes / seconds[0];
  state.counters["relay_bytes_per_second"] = kSets * perSet * bytes / seconds[1];
}

}  // namespace

// One iteration is all the sets; the figures are the counters.
BENCHMARK(RoundTrip)
    ->ArgNames({"bytes", "one_core"})
    ->ArgsProduct({{16, 1024, 16384}, {0, 1}})
    ->Iterations(1)
    ->UseRealTime();
BENCHMARK(Stream)->ArgName("bytes")->Arg(64)->Arg(1024)->Arg(16384)->Iterations(1)->UseRealTime();

BENCHMARK_MAIN();
