// Emits <itf>_testkit.h/.cpp, test support for the generated endpoints of one
// interface: a sample-value filler per record, per role a Recorder (every
// handler logs "Name: fields" the way the protocol log prints them and
// answers with sample reply values) and a sendAll driver that calls every
// sender of the role with sample values: null, empty and escaped strings,
// negative and extreme integers, arrays of 0, 1 and 3 elements, nested
// records. Round-trip tests compare the sender's log with what the other
// side's handlers recorded.
#include "stpgen_emit_internal.h"

namespace stpgen {
namespace {

std::string recorderName(const Interface &itf, const Role &role) { return itf.name + "_" + role.name + "_Recorder"; }

// The expression of a sample value for an integer, flag, string or file
// name; `stp_seed` advances.
std::string sample(const Type &t) {
  if (t.kind == Kind::Str || t.kind == Kind::Fn) return "stp_sStr(stp_seed++)";
  if (t.kind == Kind::Bool) return "stp_sBool(stp_seed++)";
  return "stp_sInt(stp_seed++)";
}

// Statements giving the field a sample value; `stp_seed` advances.
void fill(Code &c, const Interface &itf, const Field &f, const Ref &r) {
  const Type &t = f.type;
  const std::string &v = r.value;
  switch (t.kind) {
    case Kind::Record:
      c.line(recordType(itf, *t.record) + "_sample(&" + v + ", stp_seed++);");
      return;
    case Kind::Array:
      if (t.elem->kind == Kind::Record) {
        c.line("stp_sArray(" + v + ", " + r.count + ", stp_seed, " + recordType(itf, *t.elem->record) + "_sample);");
        return;
      }
      [[fallthrough]];
    case Kind::DArray:
      c.line("stp_sArray(" + v + ", " + r.count + ", stp_seed);");
      return;
    case Kind::List:
      c.line("stp_sList(" + v + ", stp_seed);");
      return;
    default:
      c.line(v + " = " + sample(t) + ";");
      return;
  }
}

void emitRecorder(Code &c, const Interface &itf, const Role &role) {
  std::string rec = recorderName(itf, role);
  Emit e{itf};
  for (const Message &m : role.messages) {
    c.open("void " + rec + "::msg_" + m.name + "(" + handlerParams(itf, m) + ") {");
    std::string begin = "stp_recordBegin(calls, this, " + cString(m.name + ": ") + ");";
    c.line(m.request.empty() ? begin : "STPLog *stp_log = " + begin);  // no fields: nothing to print
    for (size_t i = 0; i < m.request.size(); ++i) e.print(c, m.request[i], plainRef(m.request[i]), i ? ", " : "");
    c.line("stp_recordEnd(calls, this, handled);");
    if (!m.reply.empty()) {
      c.line("int stp_seed = (seed += 1000) - 1000;");
      for (const Field &f : m.reply) fill(c, itf, f, outRef(f));
    }
    c.close();
    c.blank();
  }
}

void emitSendAll(Code &c, const Interface &itf, const Role &role, const Role &peer) {
  auto sent = sortedMessages(peer);
  c.line("int " + itf.name + "_" + role.name + "_sendCount() { return " + std::to_string(sent.size()) + "; }");
  c.blank();
  c.open("int " + itf.name + "_" + role.name + "_sendAll([[maybe_unused]] " + className(itf, role) +
         " *ep, [[maybe_unused]] RetryHandler *rh, [[maybe_unused]] int seed) {");
  c.line("int stp_ok = 0;");
  Emit e{itf};
  for (size_t k = 0; k < sent.size(); ++k) {
    const Message &m = *sent[k];
    c.open("{");
    c.line("[[maybe_unused]] int stp_seed = seed + " + std::to_string(k * 37) + ";");
    std::vector<Field> all = m.request;
    all.insert(all.end(), m.reply.begin(), m.reply.end());
    for (size_t i = 0; i < all.size(); ++i) {
      const Field &f = all[i];
      Kind kd = f.type.kind;
      bool scalar = kd == Kind::Int || kd == Kind::Bool || kd == Kind::Str || kd == Kind::Fn;
      std::string decl = param(cppType(itf, f.type, Use::Member), f.name);
      if (scalar && i < m.request.size()) {
        c.line(decl + " = " + sample(f.type) + ";");
        continue;
      }
      c.line(decl + "{};");
      if (i < m.request.size()) fill(c, itf, f, plainRef(f));
    }
    std::vector<std::string> args;
    for (const Field &f : m.request) args.push_back(f.name);
    for (const Field &f : m.reply) args.push_back("&" + f.name);
    if (!m.wantsReply()) args.push_back("true");
    args.push_back("rh");
    args.push_back("nullptr");
    c.line("if (ep->send_" + m.name + "(" + join(args) + ")) ++stp_ok;");
    for (const Field &f : all) e.free(c, f, plainRef(f));
    c.close();
  }
  c.line("return stp_ok;");
  c.close();
  c.blank();
}

}  // namespace

std::string emitTestkitHeader(const Interface &itf) {
  Code h;
  h.raw(banner(itf, "Test support (sample values, recorders, send-all drivers) of the " + itf.name + " interface."));
  h.line("#pragma once");
  h.blank();
  for (const Role &role : itf.roles) h.line("#include \"" + fileStem(itf) + "_" + role.name + "_impl.h\"");
  h.line("#include \"tools/testkit_support.h\"");
  h.blank();
  for (auto &r : itf.records) {
    std::string t = recordType(itf, *r);
    h.line("// Fills `rec` with sample values chosen by `seed`; release with " + t + "_free.");
    h.line("void " + t + "_sample(" + t + " *rec, int seed);");
  }
  h.blank();
  for (int ri = 0; ri < 2; ++ri) {
    const Role &role = itf.roles[ri];
    std::string rec = recorderName(itf, role);
    h.line("// Handles every message of role \"" + role.name + "\": appends \"Name: fields\\n\" to");
    h.line("// `calls` and answers with sample values taken from `seed`.");
    h.line("class " + rec + " : public " + className(itf, role) + " {");
    h.line(" public:");
    h.line("  StringLog calls;");
    h.line("  int handled = 0;");
    h.line("  int seed = 500;");
    for (const Message &m : role.messages) h.line("  void msg_" + m.name + "(" + handlerParams(itf, m) + ") override;");
    h.line("};");
    h.line("// Calls every sender of the role once with sample values (one-way ones");
    h.line("// with wait true); returns how many returned true.");
    h.line("int " + itf.name + "_" + role.name + "_sendAll(" + className(itf, role) +
           " *ep, RetryHandler *rh, int seed);");
    h.line("int " + itf.name + "_" + role.name + "_sendCount();");
    h.blank();
  }
  return h.text();
}

std::string emitTestkitSource(const Interface &itf) {
  Code c;
  c.raw(banner(itf, "Test support of the " + itf.name + " interface."));
  c.line("#include \"" + fileStem(itf) + "_testkit.h\"");
  c.blank();
  for (auto &r : itf.records) {
    std::string t = recordType(itf, *r);
    c.open("void " + t + "_sample(" + t + " *rec, int seed) {");
    c.line("int stp_seed = seed;");
    c.line(t + "_init(rec);");
    for (const Field &f : r->fields) fill(c, itf, f, Ref{"rec->" + f.name, "rec->" + f.type.countField});
    c.close();
    c.blank();
  }
  for (int ri = 0; ri < 2; ++ri) {
    emitRecorder(c, itf, itf.roles[ri]);
    emitSendAll(c, itf, itf.roles[ri], itf.peer(ri));
  }
  return c.text();
}

}  // namespace stpgen
