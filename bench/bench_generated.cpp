// Generated endpoint code: how fast a decoded ASCII message reaches its
// handler (dispatcher only: reading the fields, calling msg_, freeing), and
// how fast messages go through a generated sender over a loopback transport
// pair and are delivered to the other side's handler, either encoded per
// send or encoded once and queued again and again (a broadcast). Reported
// as items (messages) per second, with allocations per message (sending
// and receiving). Build with CMAKE_BUILD_TYPE=Release.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>

#include "bench_alloc_count.h"
#include "configservice_client_impl.h"
#include "configservice_server_impl.h"
#include "shared/libcxxutil/ut_retry_handler.h"
#include "shared/stp_transport/stp_amsg.h"
#include "shared/stp_transport/stp_transport.h"
#include "whiteboard_client_impl.h"

namespace {

class Server : public ConfigService_server_Impl {
 public:
  long long sum = 0;
  void msg_BroadcastConfig(int index, const char *configLine) override { sum += index + (configLine ? 1 : 0); }
  void msg_BroadcastMessage(int type, const char *message) override {}
  void msg_EndBlockBroadcast() override {}
  void msg_ListenForConfigs(ConfigService_STRING_ARRAY *items) override {
    items->count = 2;
    items->data = static_cast<char **>(calloc(2, sizeof(char *)));
    items->data[0] = strdup("line one");
    items->data[1] = strdup("line two");
  }
  void msg_StartBlockBroadcast() override {}
};

class Client : public ConfigService_client_Impl {
 public:
  void msg_ReceiveEndBlockBroadcast() override {}
  void msg_ReceiveMessage(int type, const char *message) override {}
  void msg_ReceiveNotification(const char *configLine) override {}
  void msg_ReceiveStartBlockBroadcast() override {}
};

class WBClient : public WhiteBoard_client_Impl {
 public:
  int values = 0;
  void msg_SetBoolValue(BoolValueInfo &) override {}
  void msg_SetInt32Value(Int32ValueInfo &) override {}
  void msg_SetStringValue(StringValueInfo &) override {}
  void msg_SetStringListValue(StringListValueInfo &) override {}
  void msg_DeleteEvent(const char *, const char *, int) override {}
  void msg_Changes(BoolValueInfoArray &b, Int32ValueInfoArray &i, StringValueInfoArray &s,
                   StringListValueInfoArray &l) override {
    values += b._count + i._count + s._count + l._count;
  }
};

// Hands the decoded message `text` (message id 0 of the endpoint) to the
// endpoint's generated dispatcher once per iteration, through a reader of
// its own each time as a received packet gets one.
void dispatchEach(benchmark::State &state, STPSpecClass *endpoint, const char *text) {
  STPAsciiIMsg owner(text);
  for (auto _ : state) {
    owner.getMsg()->rewind();
    STPAsciiIMsg in(owner.getMsg());
    endpoint->handleAsciiMessage(&in, nullptr, 0);
  }
  state.SetItemsProcessed(state.iterations());
}

void BM_DispatchBroadcastConfig(benchmark::State &state) {
  Server *server = new Server;
  dispatchEach(state, server, "BroadcastConfig index:0x5 configLine:\"editor.tabs=4\" ");
  benchmark::DoNotOptimize(server->sum);
  server->delRef();
}
BENCHMARK(BM_DispatchBroadcastConfig);

void BM_DispatchWhiteBoardChanges(benchmark::State &state) {
  WBClient *client = new WBClient;
  const char *text =
      "Changes bool_info_array:{ _count:0x1 _info:(0x1 )[ { _group:\"g\" _name:\"b\" _value:0x1 } ] } "
      "int32_info_array:{ _count:0x2 _info:(0x2 )[ { _group:\"g\" _name:\"i\" _value:0xffffffff } "
      "{ _group:\"g\" _name:\"j\" _value:0x10 } ] } "
      "string_info_array:{ _count:0x1 _info:(0x1 )[ { _group:\"g\" _name:\"s\" _value:\"text\" } ] } "
      "stringlist_info_array:{ _count:0x1 _info:(0x1 )[ { _group:\"g\" _name:\"l\" _value:(0x2 )[ \"x\" \"y\" ] } ] } ";
  dispatchEach(state, client, text);
  benchmark::DoNotOptimize(client->values);
  client->delRef();
}
BENCHMARK(BM_DispatchWhiteBoardChanges);

// Waits by servicing both sides of the pair.
class PumpBoth : public RetryHandler {
 public:
  STPTransport *a = nullptr, *b = nullptr;
  PumpBoth() : RetryHandler(kRetryMillisBase + 5000) {}
  void idle() override {
    TStat st;
    a->serviceOnce(0, &st);
    b->serviceOnce(0, &st);
  }
};

struct LoopbackPair {
  STPTransport *ta = nullptr, *tb = nullptr;
  Server *server = new Server;
  Client *client = new Client;
  PumpBoth pump;
  bool ok = false;
  LoopbackPair() {
    if (!STPTransport::createLoopbackPair(&ta, &tb)) return;
    pump.a = ta;
    pump.b = tb;
    server->setTransport(ta, 0, 0);
    client->setTransport(tb, 0, 0);
    TStat st;
    ok = server->sendNegotiate(true, nullptr, &st) && client->negotiate(&pump, &st) &&
         server->awaitNegotiate(&pump, &st);
  }
  ~LoopbackPair() {
    server->delRef();
    client->delRef();
    ta->delRef();
    tb->delRef();
  }
};

// One-way sends of BroadcastConfig, delivered in batches of 64; `send`
// queues message n. Reports allocations per message.
template <class Send>
void sendOneWay(benchmark::State &state, LoopbackPair &p, Send send) {
  TStat st;
  int n = 0;
  BenchAllocCounts before = benchAllocCounts();
  for (auto _ : state) {
    send(n);
    if (++n % 64 == 0) p.ta->serviceOnce(0, &st);  // deliver the batch to the handler
  }
  p.ta->serviceOnce(0, &st);
  BenchAllocCounts after = benchAllocCounts();
  if (p.server->sum == 0) state.SkipWithError("nothing delivered");
  state.SetItemsProcessed(state.iterations());
  state.counters["allocs/msg"] = static_cast<double>(after.total() - before.total()) / state.iterations();
}

void BM_SendOneWayLoopback(benchmark::State &state) {
  LoopbackPair p;
  if (!p.ok) return state.SkipWithError("negotiation failed");
  TStat st;
  sendOneWay(state, p, [&](int n) { p.client->send_BroadcastConfig(n, "editor.tabs=4", false, nullptr, &st); });
}
BENCHMARK(BM_SendOneWayLoopback);

// The same message encoded once and queued for every send.
void BM_SendEncodedLoopback(benchmark::State &state) {
  LoopbackPair p;
  if (!p.ok) return state.SkipWithError("negotiation failed");
  auto msg = Client::encode_BroadcastConfig(1, "editor.tabs=4");
  TStat st;
  sendOneWay(state, p, [&](int) { p.client->sendEncoded_BroadcastConfig(msg.get(), &st); });
}
BENCHMARK(BM_SendEncodedLoopback);

void BM_SendWithReplyLoopback(benchmark::State &state) {
  LoopbackPair p;
  if (!p.ok) {
    state.SkipWithError("negotiation failed");
    return;
  }
  TStat st;
  for (auto _ : state) {
    ConfigService_STRING_ARRAY items;
    if (!p.client->send_ListenForConfigs(&items, &p.pump, &st)) state.SkipWithError("send failed");
    ConfigService_STRING_ARRAY_free(&items);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_SendWithReplyLoopback);

}  // namespace

BENCHMARK_MAIN();
