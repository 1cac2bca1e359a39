// Protocol-log entries written from a message's field list: the one place
// that turns a message into its log text, so generated endpoint code carries
// no per-message log code. The routine walks the fields the list names,
// reads each from the message (ASCII by name, binary by tag) and prints it:
//   integers and flags  0x%x           strings  "%s" (null as empty)
//   records             {name:value name:value}
//   arrays              each element followed by ", "
// fields separated by ", ", the entry ending with "\n". One thread.
#pragma once

class STPLog;
class STPSpecClass;
class STPIMsg;
class STPOMsg;
struct STPMessageDesc;

// How a logged message's values are read.
enum class STPSpecLogSide {
  // A received message as the dispatcher decodes it: binary tags go through
  // the endpoint's tag map, and the length field of an array shows the
  // number of elements that arrived.
  Received,
  // An outgoing message as it was built: own tag numbers, length fields as
  // written.
  Sent,
};

// Writes one entry: logStart(ep, flag), `prefix`, the row's name, ": ", the
// request fields of the row's spec string (the reply fields when `reply`)
// read from `msg`, "\n", logEnd(ep, flag). An ASCII request body starts
// with the message name, which is skipped. `msg` is read from its start and
// left rewound. Nothing happens without a log.
void STPSpecLog_write(STPLog *log, STPSpecClass *ep, bool flag, const char *prefix, const STPMessageDesc &row,
                      bool reply, STPIMsg *msg, STPSpecLogSide side);

// The same for an outgoing message that has not been sent yet (its fields
// read with the endpoint's own tag numbers).
void STPSpecLog_writeSent(STPLog *log, STPSpecClass *ep, bool flag, const char *prefix, const STPMessageDesc &row,
                          bool reply, const STPOMsg *msg);

// The single entry of a send that failed or was refused:
// "SEND FAILED: <name>\n".
void STPSpecLog_writeFailed(STPLog *log, STPSpecClass *ep, const char *name);
