// libFuzzer target for the packet header check and the binary body reader.
//
// Input layout: byte 0 = number of script bytes k (mod 48), then k script
// bytes, then a whole packet (header and body). A packet that passes the
// receiver's header check is read as the transport would build it; the same
// bytes are also read as a body behind a 44-byte header. Each script byte
// picks a reader operation (low 4 bits) and a tag number (high 4 bits, 15
// meaning -1, a field the peer does not know).
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "fuzz_script.h"
#include "shared/stp_transport/stp_bmsg.h"

namespace {

void runScript(STPBinaryIMsg &r, const uint8_t *script, size_t k) {
  FuzzNesting<STPBinaryIMsg, STPBinaryIMsgParamState> nesting(r);
  for (size_t i = 0; i < k; i++) {
    int tag = (script[i] >> 4) == 15 ? -1 : script[i] >> 4;
    switch (script[i] & 15) {
      case 0: r.findTag(tag); break;
      case 1: std::free(r.getS(tag)); break;
      case 2: r.getCS(tag); break;
      case 3: r.get1(tag); break;
      case 4: r.get2(tag); break;
      case 5: r.get4(tag); break;
      case 6: r.get8(tag); break;
      case 7: r.getF(tag); break;
      case 8: r.getD(tag); break;
      case 9: {
        int out[5];
        r.getArray(tag, out, 5, 4);
        uint64_t wide[2];
        r.getArray(tag, wide, 2, 8);
        break;
      }
      case 10: {
        int n = -1;
        std::free(r.getDArray(tag, &n, 1 + (i & 3)));
        if (n < 0) std::abort();
        break;
      }
      case 11:
        if (STPBinaryIMsgParamState *st = nesting.enter(false)) r.getStartStruct(*st, tag);
        break;
      case 12:
        if (STPBinaryIMsgParamState *st = nesting.enter(true)) r.getStartArray(*st, tag);
        break;
      case 13: nesting.leave(); break;
      default: r.getStartSimpleTag(tag); break;
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  fuzzSilenceMessages();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  FuzzScriptInput in;
  if (!fuzzSplitScript(data, size, &in)) return 0;
  const uint8_t *packet = in.payload;
  const size_t packetSize = in.payloadSize;

  if (packetSize >= 8) {
    int hl = 0, bl = 0;
    STPMsg::peekLengths(packet, &hl, &bl);
    if (STPMsg::checkHeader(hl, bl) && static_cast<size_t>(hl) + bl <= packetSize) {
      STPIMsg msg(packet, hl, bl);
      STPBinaryIMsg r(&msg);
      runScript(r, in.script, in.scriptSize);
    }
  }

  std::vector<uint8_t> framed(44, 0);
  framed.insert(framed.end(), packet, packet + packetSize);
  STPIMsg body(framed.data(), 44, static_cast<int>(packetSize));
  STPBinaryIMsg r(&body);
  runScript(r, in.script, in.scriptSize);
  return 0;
}
