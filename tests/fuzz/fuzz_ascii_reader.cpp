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

#include "fuzz_script.h"
#include "shared/stp_transport/stp_amsg.h"

namespace {

const char *const kNames[16] = {nullptr, "a", "b", "count", "data", "x", "Msg", "__action",
                                "s", "n", "rec", "arr", nullptr, "", "a:", "z"};

void check(bool ok) {
  if (!ok) std::abort();
}

void runScript(STPAsciiIMsg &r, const uint8_t *script, size_t k) {
  FuzzNesting<STPAsciiIMsg, STPAsciiIMsgParamState> nesting(r);
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
      case 6:
        if (STPAsciiIMsgParamState *st = nesting.enter(false))
          name ? r.getStartStruct(*st, name) : r.getStartStruct(*st);
        break;
      case 7:
        if (STPAsciiIMsgParamState *st = nesting.enter(true)) {
          int n = name ? r.getStartArray(*st, name) : r.getStartArray(*st);
          for (int e = 0; e < n && e < 64; e++) std::free(r.getString());
        }
        break;
      case 8: nesting.leave(); break;
      case 9: {
        const char *v = name ? r.findTag(name) : nullptr;
        if (v) r.skipValue(v);
        break;
      }
      case 10: r.getScopedString(name); break;
      default: r.getRemainder(); break;
    }
    check(len >= 0);
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

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  fuzzSilenceMessages();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  FuzzScriptInput in;
  if (!fuzzSplitScript(data, size, &in)) return 0;

  std::vector<uint8_t> packet(44, 0);
  packet.insert(packet.end(), in.payload, in.payload + in.payloadSize);
  STPIMsg msg(packet.data(), 44, static_cast<int>(in.payloadSize));
  STPAsciiIMsg r(&msg);
  runScript(r, in.script, in.scriptSize);

  std::string text(reinterpret_cast<const char *>(in.payload), in.payloadSize);
  STPAsciiIMsg plain(text.c_str());
  runScript(plain, in.script, in.scriptSize);

  roundTrip(in.payload, in.payloadSize);
  return 0;
}
