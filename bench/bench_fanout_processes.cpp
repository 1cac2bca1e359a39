// BroadcastConfig fan-out in the IDE's real shape: N listener processes
// (10 or 100), each with its own router connection and one
// BroadcastService.Config listener on it, and one broadcaster (this
// process). Beside it in the same run, the same traffic as raw bytes: the
// broadcaster writes each broadcast to a forked hub process that writes a
// notification-sized copy to each of N forked listener processes (one
// forwarding hop, nothing but copying).
//
//   ProcFanOut/{Config,Raw}/N      batches of 100 broadcasts; items are
//                                  deliveries (broadcasts x listeners).
//   ProcLastListener/{Config,Raw}/N
//                                  one broadcast at a time: the time from
//                                  emit until the last listener reported it
//                                  (median_us, p99_us).
//
// Every broadcast carries a sequence number in its line text. Each listener
// checks that it sees every number in order, and on the last broadcast of a
// batch writes a fixed-size report (its index, the number, whether all came
// in order) to one pipe shared by all listeners. A figure is reported only
// when all N listeners reported the batch's last number with no gap.
//
// Service listeners are this program started again with --listener.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "bench_relay.h"
#include "configservice_client_impl.h"
#include "e2e/e2e_process.h"
#include "services/servicerouter_proxy/servicerouter_proxy.h"
#include "shared/indgen.h"
#include "shared/stp_transport/stp_transport.h"

namespace {

constexpr int kBatch = 100;
constexpr int kRawRecord = 64;  // the raw path's broadcast and notification size
using Clock = std::chrono::steady_clock;

// What a listener writes to the report pipe (atomic: far below PIPE_BUF).
struct Report {
  int index;
  int inOrder;
  long long seq;
};

// The line text of broadcast `seq`; `report` asks the listeners to report.
std::string lineFor(long long seq, bool report) {
  return "Bench.Seq=" + std::to_string(seq) + ":" + (report ? "1" : "0");
}

// Tracks one listener's sequence; writes a report when a line asks for one.
struct SeqChecker {
  int index = 0, reportFd = -1;
  long long next = 0;
  bool inOrder = true;
  // Parsed by hand: sscanf would cost a listener more than receiving.
  void heard(const char *line) {
    static const char kPrefix[] = "Bench.Seq=";
    long long seq = -1;
    const char *end = line + std::strlen(line);
    bool parsed = std::strncmp(line, kPrefix, sizeof kPrefix - 1) == 0;
    auto [after, ec] = std::from_chars(line + sizeof kPrefix - 1, end, seq);
    parsed = parsed && ec == std::errc() && after + 2 == end && after[0] == ':';
    bool report = parsed && after[1] == '1';
    if (!parsed || seq != next) inOrder = false;
    next = seq + 1;
    if (!report) return;
    Report r{index, inOrder ? 1 : 0, seq};
    if (::write(reportFd, &r, sizeof r) != sizeof r) ::_exit(3);
  }
};

// ---- the service listener process ----

class ProcListener : public ConfigService_client_Impl {
 public:
  SeqChecker check;
  void msg_ReceiveEndBlockBroadcast() override {}
  void msg_ReceiveMessage(int, const char *) override {}
  void msg_ReceiveNotification(const char *line) override { check.heard(line); }
  void msg_ReceiveStartBlockBroadcast() override {}
};

bool startRouterClient(const char *argv0, const char *port) {
  char opt[] = "-sr_connect_servicerouter_port";
  char *srArgv[] = {const_cast<char *>(argv0), opt, const_cast<char *>(port), nullptr};
  int srArgc = 3;
  return ServiceRouter_Proxy::startup(false, &srArgc, srArgv, nullptr, false, nullptr, true, false);
}

bool connectConfig(STPSpecClass *endpoint) {
  bool found = false, accepted = false;
  return servicerouter_proxy->getServiceConnection("BroadcastService.Config", endpoint, &found, &accepted,
                                                   nullptr, nullptr, false, false, false);
}

// argv: self --listener <router port> <report fd> <index>. Reports once
// (sequence -1) when it listens, then serves its connection until killed.
int listenerMain(char **argv) {
  gen_init(argv[0], 0, 0);
  auto *l = new ProcListener;
  l->check.reportFd = std::atoi(argv[3]);
  l->check.index = std::atoi(argv[4]);
  ConfigService_STRING_ARRAY items;
  if (!startRouterClient(argv[0], argv[2]) || !connectConfig(l) || !l->send_ListenForConfigs(&items)) {
    std::fprintf(stderr, "bench_fanout_processes: listener %s could not listen\n", argv[4]);
    return 1;
  }
  ConfigService_STRING_ARRAY_free(&items);
  Report ready{l->check.index, 1, -1};
  if (::write(l->check.reportFd, &ready, sizeof ready) != sizeof ready) return 1;
  STPTransport *t = servicerouter_proxy->getTransport();
  for (;;) {
    TStat st;
    if (!t->serviceOnce(1000, &st)) return 0;
  }
}

// ---- the raw path: broadcaster -> hub -> N listener processes ----

[[noreturn]] void rawListener(int fd, int index, int reportFd) {
  SeqChecker check;
  check.index = index;
  check.reportFd = reportFd;
  char rec[kRawRecord];
  while (benchReadFull(fd, rec, kRawRecord)) check.heard(rec);
  ::_exit(0);
}

// Copies every whole record read from `in` to each of `outs`, one write of
// all records read per listener.
[[noreturn]] void rawHub(int in, const std::vector<int> &outs) {
  std::vector<char> buf(kRawRecord * 1024);
  long have = 0;
  for (;;) {
    ssize_t r = ::read(in, buf.data() + have, buf.size() - have);
    if (r <= 0) ::_exit(0);
    have += r;
    long whole = have / kRawRecord * kRawRecord;
    for (int fd : outs)
      if (!benchWriteFull(fd, buf.data(), whole)) ::_exit(0);
    std::memmove(buf.data(), buf.data() + whole, have - whole);
    have -= whole;
  }
}

// ---- the pool of listener processes, kept for one N and one path ----

struct Pool {
  int n = 0;
  bool raw = false;
  std::vector<pid_t> pids;
  int reportRead = -1;
  int rawOut = -1;  // the raw path's broadcaster side
  long long seq = 0;
};

Pool pool;
std::string selfPath, routerPort;
ProcListener *sender = nullptr;

void stopPool() {
  for (pid_t p : pool.pids) ::kill(p, SIGKILL);
  for (pid_t p : pool.pids) ::waitpid(p, nullptr, 0);
  if (pool.reportRead >= 0) ::close(pool.reportRead);
  if (pool.rawOut >= 0) ::close(pool.rawOut);
  pool = Pool{};
}

// Reads `n` reports of sequence `seq` (all in order) from the pipe,
// servicing the router connection meanwhile. False on a gap, a wrong
// number or after 30 s.
bool awaitReports(int n, long long seq) {
  long long deadline = ut_getTimeMillis64() + 30000;
  STPTransport *t = servicerouter_proxy->getTransport();
  for (int got = 0; got < n;) {
    Report r;
    ssize_t k = ::read(pool.reportRead, &r, sizeof r);
    if (k == sizeof r) {
      if (!r.inOrder || r.seq != seq) return false;
      ++got;
      continue;
    }
    if (ut_getTimeMillis64() > deadline) return false;
    // Sends still queued on the router connection go out between waits on
    // the pipe; the wait itself wakes as soon as a report arrives.
    TStat st;
    if (!pool.raw && !t->serviceOnce(0, &st)) return false;
    pollfd p{pool.reportRead, POLLIN, 0};
    ::poll(&p, 1, 1);
  }
  return true;
}

bool startServicePool(int n, int reportWrite) {
  for (int i = 0; i < n; ++i) {
    pid_t p = ::fork();
    if (p == 0) {
      std::string fd = std::to_string(reportWrite), idx = std::to_string(i);
      ::execl(selfPath.c_str(), selfPath.c_str(), "--listener", routerPort.c_str(), fd.c_str(), idx.c_str(),
              static_cast<char *>(nullptr));
      ::_exit(127);
    }
    pool.pids.push_back(p);
  }
  return true;
}

bool startRawPool(int n, int reportWrite) {
  std::vector<int> hubSides;
  for (int i = 0; i < n; ++i) {
    int sv[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, sv) != 0) return false;
    pid_t p = ::fork();
    if (p == 0) rawListener(sv[1], i, reportWrite);
    ::close(sv[1]);
    pool.pids.push_back(p);
    hubSides.push_back(sv[0]);
  }
  int sv[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM, 0, sv) != 0) return false;
  pid_t hub = ::fork();
  if (hub == 0) rawHub(sv[1], hubSides);
  pool.pids.push_back(hub);
  for (int fd : hubSides) ::close(fd);
  ::close(sv[1]);
  pool.rawOut = sv[0];
  return true;
}

// Makes the pool hold `n` listeners of the given path, all listening.
bool ensurePool(int n, bool raw) {
  if (pool.n == n && pool.raw == raw) return true;
  stopPool();
  int fds[2];
  if (::pipe(fds) != 0) return false;
  pool.n = n;
  pool.raw = raw;
  pool.reportRead = fds[0];
  bool ok = raw ? startRawPool(n, fds[1]) : startServicePool(n, fds[1]);
  ::close(fds[1]);
  ::fcntl(pool.reportRead, F_SETFL, O_NONBLOCK);
  if (ok && (raw || awaitReports(n, -1))) return true;
  stopPool();
  return false;
}

// Sends the next `count` broadcasts, the last asking for a report.
bool emit(int count) {
  std::string raw(static_cast<size_t>(kRawRecord) * count, ' ');
  for (int i = 0; i < count; ++i) {
    std::string line = lineFor(pool.seq++, i == count - 1);
    if (!pool.raw) {
      if (!sender->send_BroadcastConfig(7, line.c_str(), false)) return false;
    } else {
      std::memcpy(&raw[static_cast<size_t>(i) * kRawRecord], line.c_str(), line.size() + 1);
    }
  }
  return !pool.raw || benchWriteFull(pool.rawOut, raw.data(), static_cast<long>(raw.size()));
}

void fanOut(benchmark::State &state, bool raw) {
  int n = static_cast<int>(state.range(0));
  if (!ensurePool(n, raw)) {
    state.SkipWithError("listener processes could not start");
    return;
  }
  for (auto _ : state) {
    if (!emit(kBatch) || !awaitReports(n, pool.seq - 1)) {
      state.SkipWithError("a listener missed a broadcast or saw one out of order");
      stopPool();
      return;
    }
  }
  state.SetItemsProcessed(state.iterations() * kBatch * n);
}

void lastListener(benchmark::State &state, bool raw) {
  int n = static_cast<int>(state.range(0));
  if (!ensurePool(n, raw)) {
    state.SkipWithError("listener processes could not start");
    return;
  }
  std::vector<double> us;
  for (auto _ : state) {
    auto t0 = Clock::now();
    if (!emit(1) || !awaitReports(n, pool.seq - 1)) {
      state.SkipWithError("a listener missed a broadcast or saw one out of order");
      stopPool();
      return;
    }
    us.push_back(std::chrono::duration<double, std::micro>(Clock::now() - t0).count());
  }
  benchReportLatencies(state, us);
}

void BM_ProcFanOutConfig(benchmark::State &state) { fanOut(state, false); }
void BM_ProcFanOutRaw(benchmark::State &state) { fanOut(state, true); }
void BM_ProcLastListenerConfig(benchmark::State &state) { lastListener(state, false); }
void BM_ProcLastListenerRaw(benchmark::State &state) { lastListener(state, true); }

// Grouped by N and path so each pool of processes is started once.
BENCHMARK(BM_ProcFanOutRaw)->Arg(10)->UseRealTime();
BENCHMARK(BM_ProcLastListenerRaw)->Arg(10)->UseRealTime();
BENCHMARK(BM_ProcFanOutConfig)->Arg(10)->UseRealTime();
BENCHMARK(BM_ProcLastListenerConfig)->Arg(10)->UseRealTime();
BENCHMARK(BM_ProcFanOutRaw)->Arg(100)->UseRealTime();
BENCHMARK(BM_ProcLastListenerRaw)->Arg(100)->UseRealTime();
BENCHMARK(BM_ProcFanOutConfig)->Arg(100)->UseRealTime();
BENCHMARK(BM_ProcLastListenerConfig)->Arg(100)->UseRealTime();

}  // namespace

int main(int argc, char **argv) {
  if (argc == 5 && std::strcmp(argv[1], "--listener") == 0) return listenerMain(argv);
  if (argc > 1 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
    std::printf("usage: bench_fanout_processes [benchmark options]\n"
                "BroadcastConfig fan-out to 10 and 100 listener processes, beside a raw fan-out.\n"
                "Takes the usual --benchmark_* options (--benchmark_filter, --benchmark_format).\n");
    return 0;
  }
  ::signal(SIGPIPE, SIG_IGN);
  gen_init(argv[0], 0, 0);
  selfPath = argv[0];
  std::unique_ptr<E2ERouter> router = benchStartRouterClient(
      "bench_fanout_processes", argv[0], "broadcast_test_host",
      {"BroadcastService.Config", "BroadcastService.File.Notify", "BroadcastService.File.Listen"});
  if (!router) return 1;
  routerPort = std::to_string(router->port);
  sender = new ProcListener;  // broadcasts only, never listens
  if (!connectConfig(sender)) {
    std::fprintf(stderr, "bench_fanout_processes: no BroadcastService.Config connection\n");
    return 1;
  }
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  stopPool();
  sender->delRef();
  ServiceRouter_Proxy::shutdown(false);
  router->stop();
  return 0;
}
