// libFuzzer target for the ASCII body reader.
//
// Input layout: byte 0 = number of script bytes k (mod 48), then k script
// bytes, then the packet body. Each script byte picks a reader operation (low
// 4 bits) and a field name (high 4 bits); records and arrays entered by the
// script are left again at the end. The body is also read as a plain text,
// and a string taken from it must survive a write and a read unchanged.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "shared/indgen.h"
#include "shared/stp_transport/stp_amsg.h"

namespace {

const char *const kNames[16] = {nullptr, "a", "b", "count", "data", "x", "Msg", "__action",
                                "s", "n", "rec", "arr", nullptr, "", "a:", "z"};

void check(bool ok) {
  if (!ok) std::abort();
}

void runScript(STPAsciiIMsg &r, const uint8_t *script, size_t k) {
  std::vector<STPAsciiIMsgParamState> stack;
  std::vector<bool> isArray;
  for (size_t i = 0; i < k; i++) {
    const char *name = kNames[script[i] >> 4];
    int len = 0;
    switch (script[i] & 15) {
      case 0: r.getNumber(name); break;
      case 1: r.getLargeNumber(name); break;
      case 2: std::free(r.getString(name)); break;
      case 3: name ? r.getIdent(name, &len) : r.getIdent(&len); break;
      case 4: r.peekIdent(&len); break;
      case 5: name ? r.getQuotedIdent(name, &len) : r.getQuotedIdent(&len); break;
      case 6: case 7:
        if (stack.size() < 16) {
          stack.emplace_back();
          isArray.push_back((script[i] & 15) == 7);
          if (isArray.back()) {
            int n = name ? r.getStartArray(stack.back(), name) : r.getStartArray(stack.back());
            for (int e = 0; e < n && e < 64; e++) std::free(r.getString());
          } else {
            name ? r.getStartStruct(stack.back(), name) : r.getStartStruct(stack.back());
          }
        }
        break;
      case 8:
        if (!stack.empty()) {
          isArray.back() ? r.getEndArray(stack.back()) : r.getEndStruct(stack.back());
          stack.pop_back();
          isArray.pop_back();
        }
        break;
      case 9: {
        const char *v = name ? r.findTag(name) : nullptr;
        if (v) r.skipValue(v);
        break;
      }
      default: r.getRemainder(); break;
    }
    check(len >= 0);
  }
  while (!stack.empty()) {
    isArray.back() ? r.getEndArray(stack.back()) : r.getEndStruct(stack.back());
    stack.pop_back();
    isArray.pop_back();
  }
}

// A text value written by the codec reads back unchanged.
void roundTrip(const uint8_t *data, size_t size) {
  std::string s(reinterpret_cast<const char *>(data), size);
  s = s.substr(0, s.find('\0'));
  long long big = 0;
  std::memcpy(&big, data, size < sizeof big ? size : sizeof big);
  STPAsciiOMsg out(1, 2, STP_TYPE_ASCII, 0, 0, 0, 0, 0, "Msg");
  out.putString("s", s.c_str());
  out.putLargeNumber("big", big);
  out.putNumber("n", static_cast<int>(big));
  out.finishMessage(2);
  int hl = 0, bl = 0;
  const unsigned char *packet = out.getContent(&hl, &bl);
  STPIMsg in(packet, hl, bl);
  STPAsciiIMsg r(&in);
  char *back = r.getString("s");
  check(back && s == back);
  std::free(back);
  check(r.getLargeNumber("big") == big);
  check(r.getNumber("n") == static_cast<int>(big));
}

}  // namespace

// Reader warnings are expected for malformed input; printing them would only
// slow the run down.
extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  gen_domessage = [](int, const char *, va_list) {};
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size == 0) return 0;
  size_t k = data[0] % 48;
  if (k > size - 1) k = size - 1;
  const uint8_t *script = data + 1;
  const uint8_t *body = script + k;
  size_t bodySize = size - 1 - k;

  std::vector<uint8_t> packet(44, 0);
  packet.insert(packet.end(), body, body + bodySize);
  STPIMsg in(packet.data(), 44, static_cast<int>(bodySize));
  STPAsciiIMsg r(&in);
  runScript(r, script, k);

  std::string text(reinterpret_cast<const char *>(body), bodySize);
  STPAsciiIMsg plain(text.c_str());
  runScript(plain, script, k);

  roundTrip(body, bodySize);
  return 0;
}
