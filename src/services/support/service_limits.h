// service_limits: how much a client may put into the stores of the
// state-manager process, and how a refusal is reported.
//
// Every store answers whole-store requests (all files of a type, every
// WhiteBoard value, ...) in one reply, and the service router passes on no
// packet over 64 MiB: a bigger reply would never reach its asker. So each
// stored string is limited, and each store
// counts what it holds: the bytes of its strings plus a fixed overhead per
// item (which also bounds the number of items). A reply carries each byte
// at most twice (quoting) plus less than the overhead per item, so a full
// store still makes a reply well under the router's limit. Input over a
// limit is refused with a warning that names the sender and never shows the
// input. One thread.
#pragma once

#include <cstddef>
#include <cstring>
#include <string>

class STPSpecClass;

// The longest string a store keeps (bytes, terminator not counted).
constexpr size_t kServiceMaxStringBytes = 1u << 20;
// What one store may hold, counted with ServiceLimits_Cost.
constexpr size_t kServiceMaxStoreBytes = 16u << 20;
// Counted for every stored item on top of its bytes.
constexpr size_t kServiceItemOverhead = 32;

// Whether `s` (null counts as empty) is short enough to be kept. Inline,
// like the costs, so that plain stores use them without this library.
inline bool ServiceLimits_StringFits(const char *s) {
  return !s || std::strlen(s) <= kServiceMaxStringBytes;
}
// What keeping `s` costs a store: its length plus the item overhead.
inline size_t ServiceLimits_Cost(size_t length) { return length + kServiceItemOverhead; }
inline size_t ServiceLimits_Cost(const char *s) { return ServiceLimits_Cost(s ? std::strlen(s) : 0); }

// "plugin N" for a connection the router client knows, else
// "connection RN" with the endpoint's remote routing number.
std::string ServiceLimits_SenderName(const STPSpecClass *endpoint);

// Warns "<message> from <sender> refused: <reason>". `message` and `reason`
// are the caller's fixed texts, never client input.
void ServiceLimits_Refuse(const STPSpecClass *endpoint, const char *message, const char *reason);
