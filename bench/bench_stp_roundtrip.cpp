// Round-trip time of a small request/reply between two processes over TCP
// on 127.0.0.1 through STPTransport, side by side with a raw-socket
// ping-pong of the same packet size (the floor on this machine). Each
// benchmark forks its own echo server. Also counts the allocations the
// client makes per round trip: `new` (message objects) and C allocations
// (buffers), through linker wrapping of the C allocator (bench_alloc_count.h).
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <vector>

#include "bench_alloc_count.h"
#include "shared/stp_transport/stp_amsg.h"
#include "shared/stp_transport/stp_transport.h"

namespace {

constexpr int kClientRN = 1;
constexpr int kServerRN = 2;

// The request both benchmarks exchange: one ASCII field after the name.
void fillBody(STPAsciiOMsg *m, int n) {
  m->putIdent("Ping");
  m->putNumber("n", n);
}

int packetSize() {
  STPAsciiOMsg m(kClientRN, kServerRN, STP_TYPE_ASCII, 0, 0, STP_FLAG_REPLY, 0, 1);
  fillBody(&m, 0x12345);
  m.finishMessage(2);
  int hl = 0, bl = 0;
  m.getContent(&hl, &bl);
  return hl + bl;
}

bool readFull(int fd, char *buf, int n) {
  int got = 0;
  while (got < n) {
    ssize_t r = ::read(fd, buf + got, n - got);
    if (r <= 0) return false;
    got += static_cast<int>(r);
  }
  return true;
}

bool writeFull(int fd, const char *buf, int n) {
  int done = 0;
  while (done < n) {
    ssize_t w = ::send(fd, buf + done, n - done, MSG_NOSIGNAL);
    if (w <= 0) return false;
    done += static_cast<int>(w);
  }
  return true;
}

// Echoes fixed-size packets on a blocking socket until the client leaves.
[[noreturn]] void rawServer(int lfd, int size) {
  int fd = ::accept(lfd, nullptr, nullptr);
  int on = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  std::vector<char> buf(size);
  while (readFull(fd, buf.data(), size) && writeFull(fd, buf.data(), size)) {
  }
  ::_exit(0);
}

// Replies to every request with a packet of the same shape.
class Echo : public ResponseListener {
 public:
  explicit Echo(STPTransport *t) : t_(t) {}
  void handleResponse(STPIMsg *msg, bool) override {
    STPAsciiOMsg *reply = t_->createAsciiReply(kServerRN, kClientRN, msg->serial, 0);
    fillBody(reply, 0x12345);
    t_->enqueueAndTryMessage(reply, 2, nullptr);
    delete reply;
  }

 private:
  STPTransport *t_;
};

[[noreturn]] void stpServer(int lfd) {
  STPTransport *t = new STPTransport(32768);
  if (!t->listenOnFD(lfd, true, nullptr, nullptr)) ::_exit(2);
  Echo echo(t);
  t->registerMessageListener(kClientRN, kServerRN, &echo, STP_TYPE_ASCII);
  while (t->serviceOnce(10000, nullptr)) {
  }
  ::_exit(0);
}

// Forks a server on a fresh port; returns the port and the child's pid.
int startServer(bool stp, int size, pid_t *pid) {
  int port = 0;
  int lfd = STPTransport::getListenSocket(&port, nullptr);
  if (lfd < 0) return -1;
  *pid = ::fork();
  if (*pid == 0) {
    if (stp) stpServer(lfd);
    // The raw server wants a blocking socket.
    int fl = ::fcntl(lfd, F_GETFL, 0);
    ::fcntl(lfd, F_SETFL, fl & ~O_NONBLOCK);
    rawServer(lfd, size);
  }
  ::close(lfd);
  return port;
}

void stopServer(pid_t pid) {
  int status = 0;
  for (int i = 0; i < 200 && ::waitpid(pid, &status, WNOHANG) == 0; ++i) ::usleep(10000);
  if (::waitpid(pid, &status, WNOHANG) == 0) {
    ::kill(pid, SIGKILL);
    ::waitpid(pid, &status, 0);
  }
}

void BM_RawPingPong(benchmark::State &state) {
  const int size = packetSize();
  pid_t pid = 0;
  int port = startServer(false, size, &pid);
  TStat st;
  int fd = STPTransport::connectToServer("127.0.0.1", port, &st);
  if (fd < 0) {
    state.SkipWithError(st.message);
    stopServer(pid);
    return;
  }
  int fl = ::fcntl(fd, F_GETFL, 0);
  ::fcntl(fd, F_SETFL, fl & ~O_NONBLOCK);
  std::vector<char> buf(size, 'x');
  for (auto _ : state) {
    if (!writeFull(fd, buf.data(), size) || !readFull(fd, buf.data(), size)) {
      state.SkipWithError("raw ping-pong failed");
      break;
    }
  }
  state.counters["bytes"] = size;
  ::close(fd);
  stopServer(pid);
}

void BM_STPRoundTrip(benchmark::State &state) {
  pid_t pid = 0;
  int port = startServer(true, 0, &pid);
  STPTransport *t = new STPTransport(32768);
  TStat st;
  if (!t->connect("127.0.0.1", port, &st)) {
    state.SkipWithError(st.message);
    t->delRef();
    stopServer(pid);
    return;
  }
  long allocsBefore = 0;
  long rounds = 0;
  for (auto _ : state) {
    if (rounds == 100) allocsBefore = benchAllocCounts().total();  // steady state from here on
    STPAsciiOMsg *m = t->createAsciiMessage(kClientRN, kServerRN, STP_TYPE_ASCII, 0, STP_FLAG_REPLY);
    fillBody(m, 0x12345);
    int serial = t->sendMessage(m, nullptr, &st);
    delete m;
    STPIMsg *reply = serial ? t->awaitResponse(serial, nullptr, &st) : nullptr;
    if (!reply) {
      state.SkipWithError(st.message);
      break;
    }
    delete reply;
    ++rounds;
  }
  if (rounds > 100)
    state.counters["allocs_per_roundtrip"] =
        static_cast<double>(benchAllocCounts().total() - allocsBefore) / static_cast<double>(rounds - 100);
  state.counters["bytes"] = packetSize();
  t->closeConnection(nullptr);
  t->delRef();
  stopServer(pid);
}

BENCHMARK(BM_RawPingPong)->MinTime(2.0)->UseRealTime();
BENCHMARK(BM_STPRoundTrip)->MinTime(2.0)->UseRealTime();
BENCHMARK(BM_RawPingPong)->MinTime(2.0)->UseRealTime();
BENCHMARK(BM_STPRoundTrip)->MinTime(2.0)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
