// The binary body codec: tagged-field writer and scoped reader.
//
// The reader narrows the buffer's readable region (`end`) to the field it
// found, so every value read is bounded by that field; lengths from the peer
// are compared with what remains before they are used.
#include "shared/stp_transport/stp_bmsg.h"

namespace {

uint32_t tagWord(int tag, int typeCode) {
  return (static_cast<uint32_t>(tag) << 8) | static_cast<uint32_t>(typeCode);
}

// Record and array fields carry a length word and hold fields.
bool isComposite(int typeCode) {
  return typeCode == STP_BT_RECORD || typeCode == STP_BT_ARRAY;
}

}  // namespace

// ---- writer --------------------------------------------------------------

STPBinaryOMsg::STPBinaryOMsg(int sourceRN, int destRN, int type, int id, int replyTo,
                             int flags, int token, int depth)
    : STPOMsg(sourceRN, destRN, type, id, replyTo, flags, token, depth) {}

void STPBinaryOMsg::putTag(int tag, int typeCode) { put_uint32(tagWord(tag, typeCode)); }

void STPBinaryOMsg::putS(int tag, const char *s) {
  putTag(tag, STP_BT_STRING);
  put_string(s);
}

void STPBinaryOMsg::put1(int tag, int value) {
  putTag(tag, STP_BT_INT1);
  put_uint8(static_cast<uint8_t>(value));
}

void STPBinaryOMsg::put2(int tag, int value) {
  putTag(tag, STP_BT_INT2);
  put_uint16(static_cast<uint16_t>(value));
}

void STPBinaryOMsg::put4(int tag, int value) {
  putTag(tag, STP_BT_INT4);
  put_uint32(static_cast<uint32_t>(value));
}

void STPBinaryOMsg::put8(int tag, long long value) {
  putTag(tag, STP_BT_INT8);
  put_uint64(static_cast<uint64_t>(value));
}

void STPBinaryOMsg::putF(int tag, float value) {
  putTag(tag, STP_BT_FLOAT);
  put_real32(value);
}

void STPBinaryOMsg::putD(int tag, double value) {
  putTag(tag, STP_BT_DOUBLE);
  put_real64(value);
}

void STPBinaryOMsg::putArray(int tag, const void *data, int count, int width) {
  STPBinaryOMsgParamState state;
  startComposite(state, tag, STP_BT_ARRAY);
  put_array(data, count, width);
  endComposite(state);
}

void STPBinaryOMsg::putDArray(int tag, const void *data, int count, int width) {
  STPBinaryOMsgParamState state;
  startComposite(state, tag, STP_BT_ARRAY);
  put_dynamic_array(data, count, width);
  endComposite(state);
}

void STPBinaryOMsg::startComposite(STPBinaryOMsgParamState &state, int tag, int typeCode) {
  putTag(tag, typeCode);
  put_uint32(0);  // patched by endComposite
  state.offset = get_pos();
}

void STPBinaryOMsg::endComposite(STPBinaryOMsgParamState &state) {
  int at = state.offset - 4;
  put_uint32_at(at, static_cast<uint32_t>(get_pos() - state.offset));
}

void STPBinaryOMsg::putStartStruct(STPBinaryOMsgParamState &state, int tag) {
  startComposite(state, tag, STP_BT_RECORD);
}

void STPBinaryOMsg::putEndStruct(STPBinaryOMsgParamState &state) { endComposite(state); }

void STPBinaryOMsg::putStartArray(STPBinaryOMsgParamState &state, int tag) {
  startComposite(state, tag, STP_BT_ARRAY);
}

void STPBinaryOMsg::putEndArray(STPBinaryOMsgParamState &state) { endComposite(state); }

// ---- reader --------------------------------------------------------------

bool STPBinaryIMsg::findTag(int tag) {
  STPIMsg &m = *msg;
  foundType = 0;
  bool inOrder = m.get_pos() == m.scopeStart;
  m.set_pos(m.scopeStart);
  m.set_end_pos(m.scopeEnd);
  while (tag != -1) {
    uint32_t word = m.get_uint32();
    if (word == 0) break;  // the closing word, or the scope ran out
    int typeCode = static_cast<int>(word & 0xff);
    uint32_t size = typeCode & 15;
    bool lengthWord = size == 0;
    if (lengthWord) {
      if (m.remaining() < 4) break;  // truncated before the length word
      size = m.get_uint32();
    }
    if (static_cast<int>(word >> 8) != tag) {
      inOrder = false;
      if (size > static_cast<uint32_t>(m.remaining())) break;
      m.inc_pos(static_cast<int>(size));
      continue;
    }
    int valueStart = m.get_pos();
    if (lengthWord && (typeCode >> 4) == 1) {  // the string reader wants its length word
      valueStart -= 4;
      size += 4;
    }
    if (size > static_cast<uint32_t>(m.scopeEnd - valueStart)) break;  // absurd size
    int valueEnd = valueStart + static_cast<int>(size);
    m.set_pos(valueStart);
    m.set_end_pos(valueEnd);
    if (inOrder) m.scopeStart = valueEnd;
    foundType = typeCode;
    return true;
  }
  // Not found: nothing left to read until the next lookup, which starts at
  // the scope start again (an absent field consumes nothing).
  m.set_pos(m.scopeStart);
  m.set_end_pos(m.scopeStart);
  return false;
}

int STPBinaryIMsg::getStartSimpleTag(int tag) { return findTag(tag) ? foundType : 0; }

char *STPBinaryIMsg::getS(int tag) { return findTag(tag) ? msg->get_string() : nullptr; }

const char *STPBinaryIMsg::getCS(int tag) {
  return findTag(tag) ? msg->get_ptr_to_string() : nullptr;
}

int STPBinaryIMsg::get1(int tag) { return findTag(tag) ? msg->get_uint8() : 0; }

int STPBinaryIMsg::get2(int tag) { return findTag(tag) ? msg->get_uint16() : 0; }

int STPBinaryIMsg::get4(int tag) {
  return findTag(tag) ? static_cast<int>(msg->get_uint32()) : 0;
}

long long STPBinaryIMsg::get8(int tag) {
  return findTag(tag) ? static_cast<long long>(msg->get_uint64()) : 0;
}

float STPBinaryIMsg::getF(int tag) { return findTag(tag) ? msg->get_real32() : 0.0f; }

double STPBinaryIMsg::getD(int tag) { return findTag(tag) ? msg->get_real64() : 0.0; }

bool STPBinaryIMsg::getArray(int tag, void *out, int count, int width) {
  bool found = findTag(tag);
  // With nothing readable, the buffer zero-fills every element.
  msg->get_array(out, count, width);
  return found;
}

void *STPBinaryIMsg::getDArray(int tag, int *count, int width) {
  if (!findTag(tag)) {
    *count = 0;
    return nullptr;
  }
  return msg->get_dynamic_array(count, width);
}

bool STPBinaryIMsg::enter(STPBinaryIMsgParamState &state, int tag) {
  bool found = findTag(tag) && isComposite(foundType);
  STPIMsg &m = *msg;
  state.savedStart = m.scopeStart;
  state.savedEnd = m.scopeEnd;
  if (found) {
    m.scopeStart = m.get_pos();
    m.scopeEnd = m.get_end_pos();
  } else {
    m.scopeStart = m.scopeEnd = m.get_pos();
    m.set_end_pos(m.get_pos());
  }
  return found;
}

void STPBinaryIMsg::leave(STPBinaryIMsgParamState &state) {
  STPIMsg &m = *msg;
  m.scopeStart = state.savedStart;
  m.scopeEnd = state.savedEnd;
  m.set_pos(m.scopeStart);
  m.set_end_pos(m.scopeEnd);
}

bool STPBinaryIMsg::getStartStruct(STPBinaryIMsgParamState &state, int tag) {
  return enter(state, tag);
}

void STPBinaryIMsg::getEndStruct(STPBinaryIMsgParamState &state) { leave(state); }

bool STPBinaryIMsg::getStartArray(STPBinaryIMsgParamState &state, int tag) {
  return enter(state, tag);
}

void STPBinaryIMsg::getEndArray(STPBinaryIMsgParamState &state) { leave(state); }
