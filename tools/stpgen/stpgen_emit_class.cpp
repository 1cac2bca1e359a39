// Emits <itf>_<role>_impl.h/.cpp: the endpoint class of one role with its
// constructor, default routing numbers, senders (one per message the other
// role receives), encoders for broadcasting the one-way ones of an ASCII
// interface, dispatcher and pure virtual handlers (one per message this
// role receives, in declaration order).
#include "stpgen_emit_internal.h"

namespace stpgen {

std::string className(const Interface &itf, const Role &role) { return itf.name + "_" + role.name + "_Impl"; }

std::string join(const std::vector<std::string> &parts) {
  std::string out;
  for (auto &p : parts) out += (out.empty() ? "" : ", ") + p;
  return out;
}

Ref outRef(const Field &f) {
  return Ref{"(*" + f.name + ")", f.type.countField.empty() ? "" : "(*" + f.type.countField + ")"};
}
Ref plainRef(const Field &f) { return Ref{f.name, f.type.countField}; }

namespace {

std::string outType(const Interface &itf, const Type &t) {
  std::string m = cppType(itf, t, Use::Member);
  return m.back() == '*' ? m + "*" : m + " *";
}

// Parameter lists of senders and handlers.
std::vector<std::string> requestParams(const Interface &itf, const Message &m, Use use) {
  std::vector<std::string> out;
  for (const Field &f : m.request) out.push_back(param(cppType(itf, f.type, use), f.name));
  return out;
}
std::vector<std::string> replyParams(const Interface &itf, const Message &m) {
  std::vector<std::string> out;
  for (const Field &f : m.reply) out.push_back(param(outType(itf, f.type), f.name));
  return out;
}

std::string senderDecl(const Interface &itf, const Message &m, const std::string &cls, bool withDefaults) {
  std::vector<std::string> ps = requestParams(itf, m, Use::SendArg);
  auto rp = replyParams(itf, m);
  ps.insert(ps.end(), rp.begin(), rp.end());
  std::string d = withDefaults ? " = " : "";
  auto def = [&](const char *v) { return withDefaults ? std::string(" = ") + v : std::string(); };
  if (!m.wantsReply()) ps.push_back("bool stp_wait" + def("false"));
  ps.push_back("RetryHandler *stp_rh" + def("nullptr"));
  ps.push_back("TStat *stp_stat" + def("nullptr"));
  return "bool " + cls + "send_" + m.name + "(" + join(ps) + ")";
}

// A one-way message of an ASCII interface can be encoded once and queued to
// many endpoints (a broadcast): encode_<Msg> builds the body without a
// transport, sendEncoded_<Msg> queues it to one peer.
bool encodesOnce(const Interface &itf, const Message &m) { return !itf.binary && !m.wantsReply(); }

std::string encoderDecl(const Interface &itf, const Message &m, const std::string &cls) {
  return "std::unique_ptr<STPAsciiOMsg> " + cls + "encode_" + m.name + "(" +
         join(requestParams(itf, m, Use::SendArg)) + ")";
}

std::string handlerDecl(const Interface &itf, const Message &m) {
  return "virtual void msg_" + m.name + "(" + handlerParams(itf, m) + ") = 0;";
}

std::vector<std::string> names(const std::vector<Field> &fields, bool deref) {
  std::vector<std::string> out;
  for (const Field &f : fields) out.push_back(deref ? "(*" + f.name + ")" : f.name);
  return out;
}

void emitSender(Code &c, const Interface &itf, const Role &role, const Message &m, int row) {
  std::string cls = className(itf, role) + "::";
  const std::string enc = itf.binary ? "Binary" : "Ascii";
  const std::string wants = m.wantsReply() ? "true" : "false";
  const std::string r = std::to_string(row);
  Emit e{itf};
  c.open(senderDecl(itf, m, cls, false) + " {");
  if (encodesOnce(itf, m)) {
    c.line("return sendOneWay(encode_" + m.name + "(" + join(names(m.request, false)) + ").get(), " + r +
           ", stp_wait, stp_rh, stp_stat);");
    c.close();
    c.blank();
    return;
  }
  for (const Field &f : m.reply) e.init(c, f, outRef(f));
  c.line("SendScope stp_scope(this, stp_rh, stp_stat);");
  c.line("STP" + enc + "OMsg *stp_msg = begin" + enc + "Send(stp_scope, " + r + ", " + wants + ");");
  c.line("if (!stp_msg) return false;");
  for (const Field &f : m.request) e.put(c, f, plainRef(f));
  if (!m.wantsReply()) {
    c.line("return completeOneWay(stp_scope, stp_msg, stp_wait, " + r + ");");
    c.close();
    c.blank();
    return;
  }
  c.line("STPIMsg *stp_rep = completeRequest(stp_scope, stp_msg, " + r + ");");
  c.line("if (!stp_rep) return false;");
  if (!m.reply.empty()) {
    c.line("STP" + enc + "IMsg stp_view(stp_rep);");
    c.line("STP" + enc + "IMsg *stp_in = &stp_view;");
    Emit in{itf};
    in.msg = "stp_in";
    for (const Field &f : m.reply) in.get(c, f, outRef(f));
  }
  c.line("delete stp_rep;");
  c.line("return true;");
  c.close();
  c.blank();
}

// encode_<Msg>: the message name and the fields, no header words yet.
void emitEncoder(Code &c, const Interface &itf, const Role &role, const Message &m) {
  Emit e{itf};
  e.msg = "stp_msg.get()";
  c.open(encoderDecl(itf, m, className(itf, role) + "::") + " {");
  c.line("auto stp_msg = std::make_unique<STPAsciiOMsg>(0, 0, STP_TYPE_ASCII, 0, 0, 0, 0, 0, " + cString(m.name) + ");");
  for (const Field &f : m.request) e.put(c, f, plainRef(f));
  c.line("return stp_msg;");
  c.close();
  c.blank();
}

bool isScalar(const Type &t) {
  return t.kind == Kind::Int || t.kind == Kind::Bool || t.kind == Kind::Str || t.kind == Kind::Fn;
}

// A request string of an ASCII message reaches the handler as a string
// kept by the message reader (no heap copy per string): the handler only
// reads it for the length of the call, and nothing frees it.
bool isScopedString(const Interface &itf, const Type &t) {
  return !itf.binary && (t.kind == Kind::Str || t.kind == Kind::Fn);
}

// One case of the dispatcher: decode the request into locals, call the
// handler, encode the reply, free what was decoded and answered.
void emitDispatchCase(Code &c, const Interface &itf, const Message &m, size_t row) {
  c.open("case " + std::to_string(row) + ": {  // " + m.name);
  Emit e{itf};
  std::vector<Field> all = m.request;
  all.insert(all.end(), m.reply.begin(), m.reply.end());
  for (size_t i = 0; i < all.size(); ++i) {
    const Field &f = all[i];
    std::string decl = param(cppType(itf, f.type, Use::Member), f.name);
    if (i < m.request.size() && isScopedString(itf, f.type)) {
      c.line(decl + " = stp_msg->getScopedString(" + cString(f.name) + ");");
      continue;
    }
    if (i < m.request.size() && isScalar(f.type)) {
      std::string key = itf.binary ? e.mapped(f.name) : cString(f.name);
      c.line(decl + " = STPField_value<" + cppType(itf, f.type, Use::Member) + ">(stp_msg, " + key + ");");
      continue;
    }
    c.line(decl + "{};");
    if (i < m.request.size()) e.get(c, f, plainRef(f));
  }
  std::vector<std::string> args = names(m.request, false);
  for (const Field &f : m.reply) args.push_back("&" + f.name);
  c.line("msg_" + m.name + "(" + join(args) + ");");
  if (!m.reply.empty()) {
    c.open("if (stp_reply) {");
    Emit out{itf};
    out.msg = "stp_reply";
    for (const Field &f : m.reply) out.put(c, f, plainRef(f));
    c.close();
  }
  for (size_t i = 0; i < all.size(); ++i)
    if (i >= m.request.size() || !isScopedString(itf, all[i].type)) e.free(c, all[i], plainRef(all[i]));
  c.line("break;");
  c.close();
}

// The dispatcher: the runtime logs the request and skips an ASCII message
// name (beginDispatch), a case per message decodes, calls the handler and
// encodes the reply, and the runtime logs the reply (endDispatch). Ids
// outside the table are ignored.
void emitDispatcher(Code &c, const Interface &itf, const Role &role) {
  const std::string enc = itf.binary ? "Binary" : "Ascii";
  auto rows = sortedMessages(role);
  c.open("void " + className(itf, role) + "::handle" + enc + "Message(STP" + enc + "IMsg *stp_msg, STP" + enc +
         "OMsg *stp_reply, int stp_id) {");
  c.line("if (!beginDispatch(stp_msg->getMsg(), stp_id)) return;");
  c.open("switch (stp_id) {");
  for (size_t i = 0; i < rows.size(); ++i) emitDispatchCase(c, itf, *rows[i], i);
  c.close();
  c.line("endDispatch(stp_reply, stp_id);");
  c.close();
  c.blank();
}

}  // namespace

std::string handlerParams(const Interface &itf, const Message &m) {
  auto ps = requestParams(itf, m, Use::Handler);
  auto rp = replyParams(itf, m);
  ps.insert(ps.end(), rp.begin(), rp.end());
  return join(ps);
}

namespace {

// Declarations of encode_<Msg> and sendEncoded_<Msg> for the one-way
// messages the peer receives (none when no message qualifies).
void emitEncoderDecls(Code &h, const Interface &itf, const Role &peer) {
  auto sent = sortedMessages(peer);
  bool any = false;
  for (size_t i = 0; i < sent.size(); ++i) {
    const Message &m = *sent[i];
    if (!encodesOnce(itf, m)) continue;
    if (!any) {
      h.blank();
      h.line("  // Broadcasts: encode_<Msg> builds the message once, without a transport");
      h.line("  // (the caller owns it); sendEncoded_<Msg> queues that message to this");
      h.line("  // endpoint's peer, as send_<Msg> without waiting would, changing only");
      h.line("  // its header, so one message serves every endpoint in turn.");
    }
    any = true;
    h.line("  static " + encoderDecl(itf, m, "") + ";");
    h.line("  bool sendEncoded_" + m.name + "(STPAsciiOMsg *stp_msg, TStat *stp_stat = nullptr) { return sendEncoded(stp_msg, " +
           std::to_string(i) + ", stp_stat); }");
  }
}

}  // namespace

std::string emitClassHeader(const Interface &itf, int r) {
  const Role &role = itf.roles[r];
  const Role &peer = itf.peer(r);
  const std::string cls = className(itf, role);
  const std::string enc = itf.binary ? "Binary" : "Ascii";
  Code h;
  h.raw(banner(itf, "Endpoint class of role \"" + role.name + "\" of the " + itf.name + " interface."));
  h.line("#pragma once");
  h.blank();
  h.line("#include <memory>");
  h.blank();
  h.line("#include \"" + fileStem(itf) + "_parsing.h\"");
  h.blank();
  h.line("class RetryHandler;");
  h.blank();
  h.line("// Speaks role \"" + role.name + "\" of " + itf.name + ". Derive from it, implement every");
  h.line("// msg_ handler and call the send_ functions. Handlers never own their");
  h.line("// arguments (copy what you keep); the dispatcher frees them and the reply");
  h.line("// values after the handler returns: reply strings must be heap strings,");
  h.line("// reply arrays made by STPArray_new. Senders return false with `stp_stat`");
  h.line("// telling why when nothing (or no reply) could be had; a with-reply sender");
  h.line("// then leaves its out-values zeroed. Strings and arrays a sender returns");
  h.line("// belong to the caller (free, the record's _free or STPArray_free).");
  h.line("class " + cls + " : public STPSpecClass {");
  h.line(" public:");
  h.line("  " + cls + "();");
  h.line("  int getDefaultLocalRN() override;");
  h.line("  int getDefaultRemoteRN() override;");
  h.line("  void handle" + enc + "Message(STP" + enc + "IMsg *stp_msg, STP" + enc + "OMsg *stp_reply, int stp_id) override;");
  if (!peer.messages.empty()) {
    h.blank();
    h.line("  // Senders of the messages role \"" + peer.name + "\" receives.");
    for (const Message *m : sortedMessages(peer)) h.line("  " + senderDecl(itf, *m, "", true) + ";");
    emitEncoderDecls(h, itf, peer);
  }
  if (!role.messages.empty()) {
    h.blank();
    h.line("  // Handlers, in declaration order.");
    for (const Message &m : role.messages) h.line("  " + handlerDecl(itf, m));
  }
  h.line("};");
  return h.text();
}

std::string emitClassSource(const Interface &itf, int r) {
  const Role &role = itf.roles[r];
  const Role &peer = itf.peer(r);
  const std::string cls = className(itf, role);
  auto sent = sortedMessages(peer);
  Code c;
  c.raw(banner(itf, "Endpoint class of role \"" + role.name + "\" of the " + itf.name + " interface."));
  c.line("#include \"" + fileStem(itf) + "_" + role.name + "_impl.h\"");
  c.blank();
  c.line("#include \"shared/stp_transport/stp_msg.h\"");
  c.blank();
  emitSupportHelpers(c, itf);
  std::string peerCount = tableName(itf, peer) + "_count";
  c.open(cls + "::" + cls + "() {");
  c.line("setInterface(" + cString(itf.name) + ", " + cString(role.name) + ", " + cString(itf.vstamp) + ", 0, " +
         tableName(itf, role) + ", " + tableName(itf, role) + "_count, " + tableName(itf, peer) + ", " + peerCount +
         ", " + (itf.binary ? itf.name + "_tagNames, " + itf.name + "_tagCount" : "nullptr, 0") + ");");
  c.close();
  c.blank();
  c.line("int " + cls + "::getDefaultLocalRN() { return " + (role.serving ? "2" : "1") + "; }");
  c.line("int " + cls + "::getDefaultRemoteRN() { return " + (role.serving ? "1" : "2") + "; }");
  c.blank();
  emitDispatcher(c, itf, role);
  for (size_t i = 0; i < sent.size(); ++i) emitSender(c, itf, role, *sent[i], (int)i);
  for (const Message *m : sent)
    if (encodesOnce(itf, *m)) emitEncoder(c, itf, role, *m);
  return c.text();
}

}  // namespace stpgen
