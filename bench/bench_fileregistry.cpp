// FileRegistry through the service router: the synchronous GetFiles round
// trip (client, router, state manager, router, client) with its median and
// 99th percentile, and one-way AddFile throughput from one client; each
// beside a raw TCP relay in the same run (client, relay process, sink
// process, relay, client, with packets of the same sizes), which is the
// floor of one forwarding hop on this machine.
//
// The run starts svc_router (by hand, not shared) from KORVO_BIN_DIR or the
// benchmark's own folder with the test host e2e_windows_files_host as the
// provider of the service (the same FileRegistry library that svc_statemgr
// links; svc_statemgr itself would leave as soon as only FileRegistry
// connections are open), connects this process as a router client, and
// stops the router at the end.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "e2e/e2e_process.h"
#include "fileregistry_client_impl.h"
#include "services/servicerouter_proxy/servicerouter_proxy.h"
#include "shared/indgen.h"
#include "shared/stp_transport/stp_amsg.h"
#include "shared/stp_transport/stp_transport.h"

namespace {

FileRegistry_client_Impl *client = nullptr;
const char kType[] = "bench.type";
const char kFile[] = "/home/user/project/src/file.c";

// Wire size of a packet whose body `fill` writes.
template <class F>
int wireSize(F fill) {
  STPAsciiOMsg m(1, 2, STP_TYPE_ASCII, 0, 0, 2, 0, 1);
  fill(&m);
  m.finishMessage(2);
  int hl = 0, bl = 0;
  m.getContent(&hl, &bl);
  return hl + bl;
}

int getFilesRequestSize() {
  return wireSize([](STPAsciiOMsg *m) {
    m->putIdent("GetFiles");
    m->putString("type", kType);
  });
}
int getFilesReplySize() {
  return wireSize([](STPAsciiOMsg *m) {
    m->putNumber("num", 1);
    m->putStartArray("files", 1);
    m->putString(kFile);
    m->putEndArray();
  });
}
int addFileSize() {
  return wireSize([](STPAsciiOMsg *m) {
    m->putIdent("AddFile");
    m->putString("fileName", kFile);
    m->putString("type", kType);
  });
}

// ---- the raw relay ----

bool readFull(int fd, char *buf, int n) {
  for (int got = 0; got < n;) {
    ssize_t r = ::read(fd, buf + got, n - got);
    if (r <= 0) return false;
    got += static_cast<int>(r);
  }
  return true;
}

bool writeFull(int fd, const char *buf, int n) {
  for (int done = 0; done < n;) {
    ssize_t w = ::send(fd, buf + done, n - done, MSG_NOSIGNAL);
    if (w <= 0) return false;
    done += static_cast<int>(w);
  }
  return true;
}

void noDelay(int fd) {
  int on = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

int listenLocal(int *port) {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  int on = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0 || ::listen(fd, 4) != 0) return -1;
  socklen_t len = sizeof a;
  ::getsockname(fd, reinterpret_cast<sockaddr *>(&a), &len);
  *port = ntohs(a.sin_port);
  return fd;
}

int connectLocal(int port) {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(static_cast<uint16_t>(port));
  if (::connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0) {
    ::close(fd);
    return -1;
  }
  noDelay(fd);
  return fd;
}

// The sink: reads a 12-byte set-up {request size, requests per answer,
// answer size}, then answers every `per` requests with one answer.
[[noreturn]] void sinkProcess(int lfd) {
  for (;;) {
    int fd = ::accept(lfd, nullptr, nullptr);
    if (fd < 0) ::_exit(0);
    noDelay(fd);
    int cfg[3];
    if (readFull(fd, reinterpret_cast<char *>(cfg), sizeof cfg)) {
      std::vector<char> req(cfg[0]), ans(cfg[2], 'a');
      for (long n = 1;; ++n) {
        if (!readFull(fd, req.data(), cfg[0])) break;
        if (n % cfg[1] == 0 && !writeFull(fd, ans.data(), cfg[2])) break;
      }
    }
    ::close(fd);
  }
}

// The relay: for each client, connects to the sink and copies bytes both
// ways until either side closes (one forwarding hop, like the router).
[[noreturn]] void relayProcess(int lfd, int sinkPort) {
  std::vector<char> buf(65536);
  for (;;) {
    int a = ::accept(lfd, nullptr, nullptr);
    if (a < 0) ::_exit(0);
    noDelay(a);
    int b = connectLocal(sinkPort);
    pollfd p[2] = {{a, POLLIN, 0}, {b, POLLIN, 0}};
    for (bool open = b >= 0; open;) {
      if (::poll(p, 2, -1) < 0) break;
      for (int i = 0; i < 2 && open; ++i) {
        if (!(p[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
        ssize_t n = ::read(p[i].fd, buf.data(), buf.size());
        open = n > 0 && writeFull(p[1 - i].fd, buf.data(), static_cast<int>(n));
      }
    }
    ::close(a);
    if (b >= 0) ::close(b);
  }
}

pid_t sinkPid = 0, relayPid = 0;
int relayPort = 0;

void startRelay() {
  int sinkPort = 0;
  int sfd = listenLocal(&sinkPort);
  if ((sinkPid = ::fork()) == 0) sinkProcess(sfd);
  ::close(sfd);
  int rfd = listenLocal(&relayPort);
  if ((relayPid = ::fork()) == 0) relayProcess(rfd, sinkPort);
  ::close(rfd);
}

void stopRelay() {
  for (pid_t p : {relayPid, sinkPid}) {
    if (p <= 0) continue;
    ::kill(p, SIGKILL);
    ::waitpid(p, nullptr, 0);
  }
}

// A relay connection set up for requests of `req` bytes answered by `ans`
// bytes after every `per` requests; -1 on failure.
int relayConnection(int req, int per, int ans) {
  int fd = connectLocal(relayPort);
  int cfg[3] = {req, per, ans};
  if (fd >= 0 && !writeFull(fd, reinterpret_cast<char *>(cfg), sizeof cfg)) {
    ::close(fd);
    return -1;
  }
  return fd;
}

// ---- latency bookkeeping ----

using Clock = std::chrono::steady_clock;

void reportLatencies(benchmark::State &state, std::vector<double> &us) {
  if (us.empty()) return;
  std::sort(us.begin(), us.end());
  state.counters["median_us"] = us[us.size() / 2];
  state.counters["p99_us"] = us[std::min(us.size() - 1, us.size() * 99 / 100)];
}

// ---- benchmarks ----

void BM_GetFilesRoundTrip(benchmark::State &state) {
  std::vector<double> us;
  us.reserve(1 << 20);
  for (auto _ : state) {
    auto t0 = Clock::now();
    int num = 0;
    char **files = nullptr;
    TStat st;
    if (!client->send_GetFiles(kType, &num, &files, nullptr, &st) || num != 1) {
      state.SkipWithError(st.message[0] ? st.message : "GetFiles failed");
      break;
    }
    us.push_back(std::chrono::duration<double, std::micro>(Clock::now() - t0).count());
    free(files[0]);
    free(files);
  }
  reportLatencies(state, us);
  state.counters["request_bytes"] = getFilesRequestSize();
  state.counters["reply_bytes"] = getFilesReplySize();
}

void BM_RawRelayRoundTrip(benchmark::State &state) {
  int req = getFilesRequestSize(), ans = getFilesReplySize();
  int fd = relayConnection(req, 1, ans);
  if (fd < 0) {
    state.SkipWithError("relay connection failed");
    return;
  }
  std::vector<char> out(req, 'r'), in(ans);
  std::vector<double> us;
  us.reserve(1 << 20);
  for (auto _ : state) {
    auto t0 = Clock::now();
    if (!writeFull(fd, out.data(), req) || !readFull(fd, in.data(), ans)) {
      state.SkipWithError("relay round trip failed");
      break;
    }
    us.push_back(std::chrono::duration<double, std::micro>(Clock::now() - t0).count());
  }
  reportLatencies(state, us);
  ::close(fd);
}

constexpr int kBatch = 1000;

// kBatch queued AddFile messages, then one GetFiles that is answered only
// after all of them were handled (one connection keeps order).
void BM_AddFileOneWay(benchmark::State &state) {
  char names[16][64];
  for (int i = 0; i < 16; ++i) std::snprintf(names[i], sizeof names[i], "/home/user/src/f%02d.c", i);
  for (auto _ : state) {
    for (int i = 0; i < kBatch; ++i) client->send_AddFile(names[i & 15], "bench.add", false);
    int num = 0;
    char **files = nullptr;
    TStat st;
    if (!client->send_GetFiles("bench.add", &num, &files, nullptr, &st) || num != 16) {
      state.SkipWithError("AddFile batch was not confirmed");
      break;
    }
    for (int i = 0; i < num; ++i) free(files[i]);
    free(files);
  }
  state.SetItemsProcessed(state.iterations() * kBatch);
  state.counters["bytes"] = addFileSize();
}

// The same batches as raw bytes through the relay: kBatch packets written
// in one go, then one answer from the sink.
void BM_RawRelayOneWay(benchmark::State &state) {
  int size = addFileSize();
  int fd = relayConnection(size, kBatch, 8);
  if (fd < 0) {
    state.SkipWithError("relay connection failed");
    return;
  }
  std::vector<char> batch(static_cast<size_t>(size) * kBatch, 'p'), in(8);
  for (auto _ : state) {
    if (!writeFull(fd, batch.data(), static_cast<int>(batch.size())) || !readFull(fd, in.data(), 8)) {
      state.SkipWithError("relay batch failed");
      break;
    }
  }
  state.SetItemsProcessed(state.iterations() * kBatch);
  ::close(fd);
}

BENCHMARK(BM_RawRelayRoundTrip)->MinTime(2.0)->UseRealTime();
BENCHMARK(BM_GetFilesRoundTrip)->MinTime(2.0)->UseRealTime();
BENCHMARK(BM_RawRelayOneWay)->MinTime(2.0)->UseRealTime();
BENCHMARK(BM_AddFileOneWay)->MinTime(2.0)->UseRealTime();

std::string binDir(const char *argv0) {
  if (const char *d = std::getenv("KORVO_BIN_DIR")) return d;
  std::string self = argv0;
  size_t slash = self.rfind('/');
  return slash == std::string::npos ? "." : self.substr(0, slash);
}

}  // namespace

int main(int argc, char **argv) {
  gen_init(argv[0], 0, 0);
  ::setenv("KORVO_BIN_DIR", binDir(argv[0]).c_str(), 1);
  E2ERouter router("e2e_windows_files_host", {"TWL_WindowRegisterService", "FileRegistry"});
  if (router.port <= 0) {
    std::fprintf(stderr, "bench_fileregistry: svc_router did not start\n");
    return 1;
  }
  std::string portText = std::to_string(router.port);
  char opt[] = "-sr_connect_servicerouter_port";
  char *srArgv[] = {argv[0], opt, portText.data(), nullptr};
  int srArgc = 3;
  if (!ServiceRouter_Proxy::startup(false, &srArgc, srArgv, nullptr, false, nullptr, true, false))
    return 1;
  client = new FileRegistry_client_Impl;
  bool found = false, accepted = false;
  if (!servicerouter_proxy->getServiceConnection("FileRegistry", client, &found, &accepted, nullptr,
                                                 nullptr, false, false, false) ||
      !client->send_AddFile(kFile, kType, true)) {
    std::fprintf(stderr, "bench_fileregistry: no FileRegistry connection\n");
    return 1;
  }
  startRelay();
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  stopRelay();
  client->delRef();
  ServiceRouter_Proxy::shutdown(false);
  router.stop();
  return 0;
}
