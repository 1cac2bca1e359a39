// ForwardingSTPLog: protocol-log entries sent to the service router as
// LogMessageEvent texts. Time stamps are the 64-bit millisecond clock
// printed as its high half (signed) and its low half (unsigned).
#include "services/servicerouter_proxy/forwarding_stp_log.h"

#include <cstdint>
#include <cstring>

#include "services/servicerouter_proxy/servicerouter_proxy.h"
#include "shared/indgen.h"
#include "shared/libcxxutil/ut_retry_handler.h"
#include "shared/mstring.h"
#include "shared/mt_vsprintf.h"

namespace {

// The stamp halves of the millisecond clock.
void timeStamp(int *high, unsigned *low) {
  uint64_t now = static_cast<uint64_t>(ut_getTimeMillis64());
  *high = static_cast<int>(static_cast<uint32_t>(now >> 32));
  *low = static_cast<unsigned>(now & 0xffffffffu);
}

}  // namespace

ForwardingSTPLog::ForwardingSTPLog(ServiceRouter_Proxy *proxy) : proxy(proxy) {
  sendStamped("%d:%u: Logging for ServiceRouter_Proxy plugin connection started.\n");
}

ForwardingSTPLog::~ForwardingSTPLog() {
  if (pending) {
    send("Warning: shutting down logging on plugin but pending log still exists.\n");
    sendPending();
  }
  sendStamped("%d:%u: Logging for ServiceRouter_Proxy plugin connection ending.\n");
}

void ForwardingSTPLog::add(const char *data, int length) {
  if (!data || length < 0 || sending) return;
  if (pending) {
    MString_appendn(pending, data, length);
    return;
  }
  send("ERROR: pending_log not initialized, sending log message now rather than buffering into a "
       "single message.\n");
  send(data, length);
}

void ForwardingSTPLog::logStart(STPSpecClass *, bool) {
  if (sending) return;
  if (pending) {
    send("Warning: Starting new log bug pending log already exists, sending pending log now.\n");
    sendPending();
  }
  pending = MString_new(32);
  int high;
  unsigned low;
  timeStamp(&high, &low);
  MString_appendf(pending, "%d:%u: ", high, low);
}

void ForwardingSTPLog::logEnd(STPSpecClass *, bool) {
  if (sending) return;
  if (!pending) {
    send("Warning: Log block ending but there is no pending log.\n");
    return;
  }
  sendPending();
}

void ForwardingSTPLog::sendPending() {
  MString *block = pending;
  pending = nullptr;
  send(block->data, block->length);
  MString_delete(block);
}

void ForwardingSTPLog::sendStamped(const char *format) {
  int high;
  unsigned low;
  timeStamp(&high, &low);
  char *text = gen_asprintf(format, high, low);
  send(text);
  gen_free(text);
}

void ForwardingSTPLog::send(const char *text) { send(text, text ? static_cast<int>(strlen(text)) : 0); }

void ForwardingSTPLog::send(const char *text, int length) {
  if (!proxy || !text || sending) return;
  sending = true;
  char *copy = gen_copyn(text, length);
  proxy->send_LogMessageEvent(copy);
  gen_free(copy);
  sending = false;
}
