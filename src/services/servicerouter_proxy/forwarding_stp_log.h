// ForwardingSTPLog: a protocol log that sends its entries to the service
// router, which keeps the logs of all plugins in one place. Each entry
// (logStart ... logEnd) is collected in a pending block and sent as the text
// of one queued LogMessageEvent; text written outside an entry, and the
// notes on creation and destruction, are sent at once.
//
// The log is bound to the proxy that sends the messages; it does not own
// the proxy and must be deleted before it (the proxy owns it as its global
// log). One thread.
#pragma once

#include "shared/stp_transport/stp_log.h"

class ServiceRouter_Proxy;
struct MString;

class ForwardingSTPLog : public STPLog {
 public:
  // Sends "<stamp>: Logging for ServiceRouter_Proxy plugin connection
  // started." through `proxy` (not owned).
  explicit ForwardingSTPLog(ServiceRouter_Proxy *proxy);
  // Sends a pending block (with a warning) and the closing note.
  ~ForwardingSTPLog() override;
  ForwardingSTPLog(const ForwardingSTPLog &) = delete;
  ForwardingSTPLog &operator=(const ForwardingSTPLog &) = delete;

  using STPLog::add;
  // Appends to the pending block; without one, sends an error note and
  // then the text on its own.
  void add(const char *data, int length) override;
  // Opens a block starting with the time stamp "%d:%u: " (a block still
  // pending is first sent with a warning).
  void logStart(STPSpecClass *endpoint, bool flag) override;
  // Sends the pending block, or a warning when there is none.
  void logEnd(STPSpecClass *endpoint, bool flag) override;

  bool hasPendingBlock() const { return pending != nullptr; }

 private:
  // Queues one LogMessageEvent with `text` (length bytes). Everything the
  // log is given while one of its messages is being sent is dropped: the
  // send may be logged to this very log.
  void send(const char *text, int length);
  void send(const char *text);
  void sendStamped(const char *format);
  void sendPending();

  ServiceRouter_Proxy *proxy;  // not owned
  MString *pending = nullptr;  // owned; the open block
  bool sending = false;
};
