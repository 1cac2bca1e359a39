// Shared set-up for the benchmarks that compare traffic through svc_router
// with the same bytes through a raw TCP relay: the relay and sink processes
// (forked, on loopback), full reads and writes on sockets, latency counters,
// and starting the router with a test host and connecting this process to it
// as a router client. One thread; one relay per process.
#pragma once

#include <benchmark/benchmark.h>

#include <memory>
#include <string>
#include <vector>

#include "bench_latency.h"
#include "e2e/e2e_process.h"

// Reads or writes exactly `n` bytes on socket `fd`; false when the peer
// closed or on an error.
bool benchReadFull(int fd, char *buf, long n);
bool benchWriteFull(int fd, const char *buf, long n);

// Serves one sink connection: `cfg` is the 3-int set-up the client sent
// first (its meaning is the benchmark's); returns when the client closes.
using BenchSinkServe = void (*)(int fd, const int cfg[3]);

// Forks a sink process that serves each accepted connection with `serve`,
// and a relay process that connects each client to the sink and copies
// bytes both ways (one forwarding hop, like the router).
void benchStartRelay(BenchSinkServe serve);

// Kills and reaps both processes of benchStartRelay.
void benchStopRelay();

// A relay connection that has sent `cfg` to the sink; the caller closes the
// descriptor. -1 on failure.
int benchRelayConnection(const int cfg[3]);

// Starts svc_router (from KORVO_BIN_DIR or the folder of `argv0`) with
// `host` as the provider of `services`, and connects this process to it as a
// router client. Null (with a message on stderr naming `prog`) on failure;
// the caller stops the router after ServiceRouter_Proxy::shutdown.
std::unique_ptr<E2ERouter> benchStartRouterClient(const char *prog, const char *argv0, const char *host,
                                                  const std::vector<std::string> &services);
