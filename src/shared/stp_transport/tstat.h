// TStat: the status record every STP operation fills. The message is a
// constant text that is never owned (empty on success); the code says what
// kind of failure it was, so callers can branch without parsing text.
#pragma once

enum TStatCode {
  kStatOk = 0,
  kStatDown = 1,          // connection is down or an I/O call failed
  kStatBadState = 3,      // the operation does not fit the current state
  kStatChildFailed = 4,   // a child program failed
  kStatPeerClosed = 5,    // the peer closed the connection
  kStatChannelClosed = 6, // the channel was closed
  kStatTimedOut = 7,      // timed out
  kStatUnsupported = 8,   // the peer does not support the message
};

struct TStat {
  const char *message = "";
  int code = kStatOk;

  void set(int c, const char *m) { code = c; message = m; }
  void clear() { code = kStatOk; message = ""; }
  bool ok() const { return code == kStatOk; }
};

// Copies `from` into `to` unless `to` is null or the same record; the way an
// operation hands its transport's status to the caller's record.
inline void TStat_copy(TStat *to, const TStat &from) {
  if (to && to != &from) *to = from;
}
