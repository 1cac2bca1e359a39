// What generated senders and dispatchers put on the wire: the ASCII text of
// representative messages and the bytes of representative binary ones, read
// from the socket before the receiving transport takes them.
#include <gtest/gtest.h>
#include <sys/socket.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "korvoeditor_testkit.h"
#include "servicerouter_testkit.h"
#include "tools/logged_pair.h"
#include "whiteboard_testkit.h"

namespace {

// One packet waiting on a socket, read without consuming it.
struct Peeked {
  std::vector<unsigned char> bytes;
  int word(int i) const {
    int v = 0;
    std::memcpy(&v, &bytes[4 * i], 4);
    return v;
  }
  std::vector<int> words(int first, int count) const {
    std::vector<int> out;
    for (int i = first; i < first + count; ++i) out.push_back(word(i));
    return out;
  }
  std::string text() const { return std::string(reinterpret_cast<const char *>(&bytes[44])); }
  std::vector<unsigned char> body() const { return {bytes.begin() + 44, bytes.begin() + 44 + word(1)}; }
};

Peeked peek(int fd) {
  Peeked p{std::vector<unsigned char>(4096)};
  ssize_t n = recv(fd, p.bytes.data(), p.bytes.size(), MSG_PEEK);
  p.bytes.resize(std::max<ssize_t>(n, 44));
  return p;
}

char *dup(const char *s) { return s ? strdup(s) : nullptr; }

char **strings(std::initializer_list<const char *> list) {
  char **out = static_cast<char **>(calloc(list.size() + 1, sizeof(char *)));
  int i = 0;
  for (const char *s : list) out[i++] = dup(s);
  return out;
}

TEST(GeneratedWire, WhiteBoardChangesWithAllFourArrays) {
  LoggedPair<WhiteBoard_server_Recorder, WhiteBoard_client_Recorder> p;
  ASSERT_TRUE(p.negotiated);
  BoolValueInfoArray bools{1, STPArray_new<BoolValueInfo>(1)};
  bools._info[0] = {dup("g"), dup("b"), true};
  Int32ValueInfoArray ints{2, STPArray_new<Int32ValueInfo>(2)};
  ints._info[0] = {dup("g"), dup("i"), -1};
  ints._info[1] = {nullptr, dup("say \"hi\"\n"), 16};
  StringValueInfoArray strs;  // empty
  StringListValueInfoArray lists{1, STPArray_new<StringListValueInfo>(1)};
  lists._info[0]._group = dup("g");
  lists._info[0]._name = dup("l");
  for (const char *item : {"x", ""}) lists._info[0]._value.push_back(item);
  TStat st;
  ASSERT_TRUE(p.a->send_Changes(bools, ints, strs, lists, true, &p.pump, &st));
  Peeked pk = peek(p.tp.b->getFD());
  // ASCII service message, row 0 of the client table, one-way.
  EXPECT_EQ(pk.words(6, 3), (std::vector<int>{14, 0, 2}));
  EXPECT_EQ(pk.text(),
            "Changes bool_info_array:{ _count:0x1 _info:(0x1 )[ { _group:\"g\" _name:\"b\" _value:0x1 } ] } "
            "int32_info_array:{ _count:0x2 _info:(0x2 )[ { _group:\"g\" _name:\"i\" _value:0xffffffff } "
            "{ _group:null _name:\"say \\\"hi\\\"\\n\" _value:0x10 } ] } "
            "string_info_array:{ _count:0x0 _info:(0x0 )[ ] } "
            "stringlist_info_array:{ _count:0x1 _info:(0x1 )[ { _group:\"g\" _name:\"l\" _value:(0x2 )[ \"x\" \"\" ] } ] } ");
  ASSERT_TRUE(p.pump.until([&] { return p.b->handled == 1; }));
  EXPECT_EQ(p.b->calls.entries[0],
            "Changes: bool_info_array:{_count:0x1 _info:{_group:\"g\" _name:\"b\" _value:0x1}, }, "
            "int32_info_array:{_count:0x2 _info:{_group:\"g\" _name:\"i\" _value:0xffffffff}, "
            "{_group:\"\" _name:\"say \"hi\"\n\" _value:0x10}, }, "
            "string_info_array:{_count:0x0 _info:}, "
            "stringlist_info_array:{_count:0x1 _info:{_group:\"g\" _name:\"l\" _value:\"x\", \"\", }, }\n");
  WhiteBoard_BoolValueInfoArray_free(&bools);
  WhiteBoard_Int32ValueInfoArray_free(&ints);
  WhiteBoard_StringListValueInfoArray_free(&lists);
}

TEST(GeneratedWire, EditBuildErrorArraysAndTheTransactionFlagOfEditFile) {
  LoggedPair<KorvoEditor_editor_Recorder, KorvoEditor_client_Recorder> p;
  ASSERT_TRUE(p.negotiated);
  KorvoEditor_FILENAME_ARRAY files{1, strings({"/src/a.c"})};
  int lineValues[] = {12, -1};
  KorvoEditor_INT_ARRAY lines{2, lineValues};
  KorvoEditor_INT_ARRAY cols{0, nullptr};
  char *msgText[] = {nullptr, const_cast<char *>("")};
  KorvoEditor_STRING_ARRAY messages{2, msgText};
  TStat st;
  ASSERT_TRUE(p.b->send_EditBuildError(3, files, lines, cols, messages, true, &p.pump, &st));
  Peeked pk = peek(p.tp.a->getFD());
  // The row of EditBuildError in the editor table; flags 130 carry no
  // transaction bit.
  EXPECT_EQ(pk.words(7, 2), (std::vector<int>{1, 2}));
  EXPECT_EQ(pk.text(),
            "EditBuildError errornumber:0x3 filenames:{ count:0x1 data:(0x1 )[ \"/src/a.c\" ] } "
            "lines:{ count:0x2 data:(0x2 )[ 0xc 0xffffffff ] } cols:{ count:0x0 data:(0x0 )[ ] } "
            "messages:{ count:0x2 data:(0x2 )[ null \"\" ] } ");
  ASSERT_TRUE(p.pump.until([&] { return p.a->handled == 1; }));
  KorvoEditor_FILENAME_ARRAY_free(&files);
  // A transaction message sets header flag 8.
  ASSERT_TRUE(p.b->send_EditFile("/a", 7, "v", true, &p.pump, &st));
  pk = peek(p.tp.a->getFD());
  EXPECT_EQ(pk.word(8), 10);
  EXPECT_EQ(pk.text(), "EditFile fullPath:\"/a\" line:0x7 version:\"v\" ");
}

// Every whole packet waiting on a socket, read without consuming them, with
// the serial and the token zeroed (a connection numbers a new transaction
// after the serial its first packet gets).
std::vector<std::vector<unsigned char>> peekPacketsSansSerial(int fd) {
  std::vector<unsigned char> all(8192);
  ssize_t n = recv(fd, all.data(), all.size(), MSG_PEEK);
  std::vector<std::vector<unsigned char>> out;
  for (size_t at = 0; n > 0 && at + 44 <= static_cast<size_t>(n);) {
    int lengths[2];
    std::memcpy(lengths, &all[at], 8);
    size_t size = (lengths[0] + lengths[1] + 3) & ~3;
    if (at + size > static_cast<size_t>(n)) break;
    out.emplace_back(all.begin() + at, all.begin() + at + size);
    std::memset(&out.back()[16], 0, 4);  // serial
    std::memset(&out.back()[36], 0, 4);  // token
    at += size;
  }
  return out;
}

// One change encoded once and queued to two connections (twice to the
// first) gives each the packet its sender gives, but for the serial, with
// the same send-log entry; a connection that is down refuses it as the
// sender does, and the message stays usable for the others.
TEST(GeneratedWire, EncodedOnceMatchesTheSenderOnEveryConnection) {
  LoggedPair<WhiteBoard_server_Recorder, WhiteBoard_client_Recorder> p, q, down;
  ASSERT_TRUE(p.negotiated && q.negotiated && down.negotiated);
  StringValueInfo info{dup("g"), dup("say \"hi\"\n"), dup("v")};
  TStat st;
  p.clearLogs();
  q.clearLogs();
  ASSERT_TRUE(p.a->send_SetStringValue(info, false, nullptr, &st));
  auto msg = WhiteBoard_server_Impl::encode_SetStringValue(info);
  WhiteBoard_StringValueInfo_free(&info);
  ASSERT_TRUE(p.a->sendEncoded_SetStringValue(msg.get(), &st));
  down.a->markSendingAsDown();
  down.clearLogs();
  EXPECT_FALSE(down.a->sendEncoded_SetStringValue(msg.get(), &st));
  EXPECT_EQ(st.code, kStatDown);
  ASSERT_TRUE(q.a->sendEncoded_SetStringValue(msg.get(), &st));
  ASSERT_TRUE(p.tp.a->serviceOnce(0, &st) && q.tp.a->serviceOnce(0, &st));
  auto sent = peekPacketsSansSerial(p.tp.b->getFD());
  auto other = peekPacketsSansSerial(q.tp.b->getFD());
  ASSERT_EQ(sent.size(), 2u);
  ASSERT_EQ(other.size(), 1u);
  EXPECT_EQ(sent[1], sent[0]);
  EXPECT_EQ(other[0], sent[0]);
  ASSERT_EQ(p.aSend.entries.size(), 2u);
  EXPECT_EQ(p.aSend.entries[1], p.aSend.entries[0]);
  EXPECT_EQ(q.aSend.entries, std::vector<std::string>{p.aSend.entries[0]});
  EXPECT_EQ(down.aSend.entries, std::vector<std::string>{"SEND FAILED: SetStringValue\n"});
  ASSERT_TRUE(p.pump.until([&] { return p.b->handled == 2; }));
  EXPECT_EQ(p.b->calls.entries[1], p.b->calls.entries[0]);
}

std::vector<unsigned char> words(std::initializer_list<unsigned> list) {
  std::vector<unsigned char> out;
  for (unsigned w : list)
    for (int i = 0; i < 4; ++i) out.push_back((w >> (8 * i)) & 0xff);
  return out;
}

// Binary messages: the header words and the tagged body, strings
// untranslated.
TEST(GeneratedWire, ServiceRouterBytes) {
  LoggedPair<ServiceRouter_router_Recorder, ServiceRouter_plugin_Recorder> p;
  ASSERT_TRUE(p.negotiated);
  TStat st;
  ASSERT_TRUE(p.b->send_ReleaseRN(5, true, &p.pump, &st));
  Peeked pk = peek(p.tp.a->getFD());
  // Binary service message, ReleaseRN is row 7 of the router table.
  EXPECT_EQ(pk.words(6, 3), (std::vector<int>{15, 7, 2}));
  // Tag "rn" is 35: (35 << 8) + 0x24, the value, the closing zero word.
  EXPECT_EQ(pk.body(), words({(35u << 8) + 0x24, 5, 0}));
  ASSERT_TRUE(p.pump.until([&] { return p.a->handled == 1; }));
  ServiceRouter_STRING_ARRAY names{2, strings({"a", "bc"})};
  ASSERT_TRUE(p.b->send_RegisterServiceList(names, true, &p.pump, &st));
  pk = peek(p.tp.a->getFD());
  // Record under tag 22 ("name_list"); inside: "count" (tag 6), the count
  // again under tag 22 and each string under tag 23, untranslated.
  std::vector<unsigned char> expect = words({(22u << 8) + 0x40, 39, (6u << 8) + 0x24, 2, (22u << 8) + 0x24, 2,
                                             (23u << 8) + 0x10, 2, 'a', (23u << 8) + 0x10, 3, 'b' + ('c' << 8), 0});
  EXPECT_EQ(pk.body(), expect);
  ASSERT_TRUE(p.pump.until([&] { return p.a->handled == 2; }));
  EXPECT_EQ(p.a->calls.entries[1], "RegisterServiceList: name_list:{count:0x2 data:\"a\", \"bc\", }\n");
  ServiceRouter_STRING_ARRAY_free(&names);
}

}  // namespace
