// Protocol-log entries from a message's field list: a small parser of the
// field language (scalars, records, counted and unbounded arrays, binary
// integer arrays)
// and a reader that walks a message along the parsed fields, reading each
// value the way the generated decoders do, and prints it. Only runs when a
// log is set, so it favours plainness over speed.
#include "shared/stp_transport/stp_speclog.h"

#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "shared/indgen.h"
#include "shared/mt_vsprintf.h"
#include "shared/stp_transport/stp_amsg.h"
#include "shared/stp_transport/stp_bmsg.h"
#include "shared/stp_transport/stp_log.h"
#include "shared/stp_transport/stp_specclass.h"

namespace {

// --- spec strings ---------------------------------------------------------

enum class SpecKind { Num, Flag, Str, Record, Counted, List, DArray };

struct SpecType;
struct SpecField {
  std::string name;
  std::shared_ptr<SpecType> type;
};
struct SpecType {
  SpecKind kind = SpecKind::Num;
  std::vector<SpecField> fields;   // Record
  std::shared_ptr<SpecType> elem;  // Counted, List
  std::string count;               // Counted, DArray: the length field
};

// Recursive descent over one spec string. A malformed spec ends the field
// list where it stops making sense (the log then shows fewer fields).
class SpecParser {
 public:
  explicit SpecParser(const char *spec) : p_(spec ? spec : "") {}

  // The fields before "|" (or all of them), then, with `reply`, those after.
  std::vector<SpecField> part(bool reply) {
    std::vector<SpecField> request = fields('|');
    if (!reply) return request;
    return *p_ == '|' ? (++p_, fields('|')) : std::vector<SpecField>();
  }

 private:
  const char *p_;
  bool ok_ = true;

  void skip() {
    while (*p_ == ' ') ++p_;
  }
  bool eat(const char *token) {
    skip();
    size_t n = std::strlen(token);
    if (std::strncmp(p_, token, n) != 0) return false;
    p_ += n;
    return true;
  }
  // The text up to `stop`, which is consumed.
  std::string upTo(char stop) {
    const char *start = p_;
    while (*p_ && *p_ != stop) ++p_;
    std::string out(start, p_);
    if (*p_) ++p_;
    else ok_ = false;
    return out;
  }
  // Fields up to `close` (consumed unless it is "|") or the end.
  std::vector<SpecField> fields(char close) {
    std::vector<SpecField> out;
    for (skip(); ok_ && *p_ && *p_ != close && *p_ != '|'; skip()) {
      SpecField f;
      f.name = upTo(':');
      f.type = type();
      if (!ok_) break;
      out.push_back(std::move(f));
    }
    if (close != '|' && *p_ == close) ++p_;
    return out;
  }
  std::shared_ptr<SpecType> type() {
    auto t = std::make_shared<SpecType>();
    if (eat("%num%") || eat("%u4%")) {
      t->kind = SpecKind::Num;
    } else if (eat("%u1%")) {
      t->kind = SpecKind::Flag;
    } else if (eat("%str%") || eat("%fn%")) {
      t->kind = SpecKind::Str;
    } else if (eat("%dar%(")) {
      t->kind = SpecKind::DArray;
      t->count = upTo(',');
      upTo(')');
    } else if (eat("{")) {
      t->kind = SpecKind::Record;
      t->fields = fields('}');
    } else if (eat("*(")) {
      t->kind = SpecKind::Counted;
      t->count = upTo(')');
      t->elem = bracketed();
    } else if (eat("[")) {
      --p_;
      t->kind = SpecKind::List;
      t->elem = bracketed();
    } else {
      ok_ = false;
    }
    return t;
  }
  std::shared_ptr<SpecType> bracketed() {
    if (!eat("[")) {
      ok_ = false;
      return std::make_shared<SpecType>();
    }
    auto e = type();
    if (!eat("]")) ok_ = false;
    return e;
  }
};

// --- values ---------------------------------------------------------------

std::string formatted(const char *format, ...) {
  va_list args;
  va_start(args, format);
  char *text = gen_avsprintf(format, args);
  va_end(args);
  std::string out = text ? text : "";
  gen_free(text);
  return out;
}

std::string hex(int v) { return formatted("0x%x", static_cast<unsigned>(v)); }

// Takes a heap string (may be null) and prints it quoted.
std::string quoted(char *s) {
  std::string out = formatted("\"%s\"", s ? s : "");
  std::free(s);
  return out;
}

// One field as printed.
struct Printed {
  std::string name;
  std::string text;
};

// Reads one message along parsed fields. Received binary messages go
// through the endpoint's tag map; outgoing ones use the own tag numbers.
class Reader {
 public:
  Reader(STPSpecClass *ep, STPIMsg *msg, STPSpecLogSide side)
      : ep_(ep), side_(side), binary_(ep->isBinaryInterface()), ascii_(msg), bin_(msg) {}

  void skipName() {
    int len = 0;
    if (!binary_) ascii_.getIdent(&len);
  }

  // "name:value" of each field joined by `sep`.
  std::string fields(const std::vector<SpecField> &fs, const char *sep) {
    std::vector<Printed> out;
    std::vector<int> elements(fs.size(), 0);  // per field: array elements read
    for (size_t i = 0; i < fs.size(); ++i) {
      std::string text = binary_ ? binaryField(fs[i], elements[i]) : asciiField(fs[i], elements[i]);
      out.push_back(Printed{fs[i].name, text});
    }
    // A decoded array sets its length field to the elements that arrived.
    if (side_ == STPSpecLogSide::Received) {
      for (size_t i = 0; i < fs.size(); ++i) {
        if (fs[i].type->count.empty()) continue;
        for (Printed &c : out)
          if (c.name == fs[i].type->count) c.text = hex(elements[i]);
      }
    }
    std::string text;
    for (size_t i = 0; i < out.size(); ++i) text += (i ? sep : "") + out[i].name + ":" + out[i].text;
    return text;
  }

 private:
  STPSpecClass *ep_;
  STPSpecLogSide side_;
  bool binary_;
  STPAsciiIMsg ascii_;
  STPBinaryIMsg bin_;

  int tag(const std::string &name) const {
    int own = ep_->getTagNumber(name.c_str());
    return side_ == STPSpecLogSide::Received ? ep_->getMappedTag(own) : own;
  }

  std::string record(const std::vector<SpecField> &fs) { return "{" + fields(fs, " ") + "}"; }

  std::string asciiElem(const SpecType &t) {
    if (t.kind == SpecKind::Record) {
      STPAsciiIMsgParamState st;
      ascii_.getStartStruct(st);
      std::string text = record(t.fields);
      ascii_.getEndStruct(st);
      return text;
    }
    if (t.kind == SpecKind::Str) return quoted(ascii_.getString());
    return hex(ascii_.getNumber());
  }

  std::string asciiField(const SpecField &f, int &elements) {
    const SpecType &t = *f.type;
    const char *name = f.name.c_str();
    switch (t.kind) {
      case SpecKind::Str:
        return quoted(ascii_.getString(name));
      case SpecKind::Record: {
        STPAsciiIMsgParamState st;
        ascii_.getStartStruct(st, name);
        std::string text = record(t.fields);
        ascii_.getEndStruct(st);
        return text;
      }
      case SpecKind::Counted:
      case SpecKind::List: {
        STPAsciiIMsgParamState st;
        elements = ascii_.getStartArray(st, name);
        std::string text;
        for (int i = 0; i < elements; ++i) text += asciiElem(*t.elem) + ", ";
        ascii_.getEndArray(st);
        return text;
      }
      default:
        return hex(ascii_.getNumber(name));
    }
  }

  std::string binaryField(const SpecField &f, int &elements) {
    const SpecType &t = *f.type;
    switch (t.kind) {
      case SpecKind::Flag:
        return hex(bin_.get1(tag(f.name)) != 0 ? 1 : 0);
      case SpecKind::Str:
        return quoted(bin_.getS(tag(f.name)));
      case SpecKind::Record: {
        STPBinaryIMsgParamState st;
        bin_.getStartStruct(st, tag(f.name));
        std::string text = record(t.fields);
        bin_.getEndStruct(st);
        return text;
      }
      case SpecKind::DArray: {
        int *v = static_cast<int *>(bin_.getDArray(tag(f.name), &elements, 4));
        if (!v) elements = 0;
        std::string text;
        for (int i = 0; i < elements; ++i) text += hex(v[i]) + ", ";
        std::free(v);
        return text;
      }
      case SpecKind::Counted: {
        // The count again under tag 22, each string under 23; each element
        // takes at least 8 bytes, so a larger count is a lie.
        elements = bin_.get4(22);
        if (elements < 0 || elements > bin_.getMsg()->bodyLength / 8) elements = 0;
        std::string text;
        for (int i = 0; i < elements; ++i) text += quoted(bin_.getS(23)) + ", ";
        return text;
      }
      default:
        return hex(bin_.get4(tag(f.name)));
    }
  }
};

void writeEntry(STPLog *log, STPSpecClass *ep, bool flag, const char *prefix, const STPMessageDesc &row, bool reply,
                STPIMsg *msg, STPSpecLogSide side) {
  msg->rewind();
  Reader reader(ep, msg, side);
  if (!reply) reader.skipName();
  std::string text = std::string(prefix) + (row.name ? row.name : "") + ": " +
                     reader.fields(SpecParser(row.spec).part(reply), ", ") + "\n";
  msg->rewind();
  log->logStart(ep, flag);
  log->add(text.data(), static_cast<int>(text.size()));
  log->logEnd(ep, flag);
}

}  // namespace

void STPSpecLog_write(STPLog *log, STPSpecClass *ep, bool flag, const char *prefix, const STPMessageDesc &row,
                      bool reply, STPIMsg *msg, STPSpecLogSide side) {
  if (!log || !ep || !msg) return;
  writeEntry(log, ep, flag, prefix, row, reply, msg, side);
}

void STPSpecLog_writeSent(STPLog *log, STPSpecClass *ep, bool flag, const char *prefix, const STPMessageDesc &row,
                          bool reply, const STPOMsg *msg) {
  if (!log || !ep || !msg) return;
  // A copy of the body written so far, read like a received one.
  int body = msg->contentEnd() - kSTPHeaderLength;
  STPIMsg copy(msg->get_begin() + kSTPHeaderLength, 0, body > 0 ? body : 0);
  writeEntry(log, ep, flag, prefix, row, reply, &copy, STPSpecLogSide::Sent);
}

void STPSpecLog_writeFailed(STPLog *log, STPSpecClass *ep, const char *name) {
  if (!log) return;
  log->logStart(ep, true);
  log->addf("SEND FAILED: %s\n", name);
  log->logEnd(ep, true);
}
