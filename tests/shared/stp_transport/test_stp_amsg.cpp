// The ASCII codec: exact wire text of every writer and the reader's handling
// of well-formed and malformed bodies.
#include "shared/stp_transport/stp_amsg.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "stp_msg_testutil.h"

namespace {

struct AsciiOut : STPAsciiOMsg {
  explicit AsciiOut(const char *prefix = nullptr)
      : STPAsciiOMsg(1, 2, STP_TYPE_ASCII, 0, 0, 0, 0, 0, prefix) {}
};

// Reads a string field and frees it, returning "<null>" for null.
std::string str(char *s) {
  std::string r = s ? s : "<null>";
  std::free(s);
  return r;
}

// The word readers return a pointer and a length; these give the word.
std::string word(const char *p, int len) { return std::string(p, static_cast<size_t>(len)); }
std::string ident(STPAsciiIMsg &r) {
  int len = -1;
  const char *p = r.getIdent(&len);
  return word(p, len);
}
std::string ident(STPAsciiIMsg &r, const char *name) {
  int len = -1;
  const char *p = r.getIdent(name, &len);
  return word(p, len);
}
std::string peek(STPAsciiIMsg &r) {
  int len = -1;
  const char *p = r.peekIdent(&len);
  return word(p, len);
}
std::string quoted(STPAsciiIMsg &r, const char *name = nullptr) {
  int len = -1;
  const char *p = name ? r.getQuotedIdent(name, &len) : r.getQuotedIdent(&len);
  return word(p, len);
}

TEST(AsciiWire, NumbersAndLargeNumbers) {
  AsciiOut m("Msg");
  m.putNumber("a", 26);
  m.putNumber("neg", -1);
  m.putNumber(0);
  m.putLargeNumber("big", 0x100000002LL);
  m.putLargeNumber("small", 5);
  m.putLargeNumber("minus", -2);
  EXPECT_EQ(std::string(m.getAsciiContent()),
            "Msg a:0x1a neg:0xffffffff 0x0 big:0x100000002 small:0x000000005 "
            "minus:0xfffffffffffffffe ");
  std::string text = m.getAsciiContent();
  auto in = receive(m);
  EXPECT_EQ(bodyText(m), text);  // the closing word ends the text

  STPAsciiIMsg r(in.get());
  EXPECT_EQ(ident(r), "Msg");
  EXPECT_EQ(r.getNumber("a"), 26);
  EXPECT_EQ(static_cast<unsigned>(r.getNumber("neg")), 0xffffffffu);
  EXPECT_EQ(r.getLargeNumber("big"), 0x100000002LL);
  EXPECT_EQ(r.getLargeNumber("small"), 5);
  EXPECT_EQ(r.getLargeNumber("minus"), -2);
  EXPECT_EQ(r.getNumber("missing"), 0);
  EXPECT_EQ(r.getLargeNumber("missing"), 0);
}

TEST(AsciiRead, NumberBasesAndSigns) {
  STPAsciiIMsg r("M oct:017 dec:42 hex:0XfF l1:-0x10 l2:-42 l3:+7 l4:0xFFFFFFFFFFFFFFFF ");
  EXPECT_EQ(r.getNumber("oct"), 15);
  EXPECT_EQ(r.getNumber("dec"), 42);
  EXPECT_EQ(r.getNumber("hex"), 255);
  EXPECT_EQ(r.getLargeNumber("l1"), -16);
  EXPECT_EQ(r.getLargeNumber("l2"), -42);
  EXPECT_EQ(r.getLargeNumber("l3"), 7);
  EXPECT_EQ(r.getLargeNumber("l4"), -1);
}

TEST(AsciiWire, StringsEscapeQuoteBackslashNewline) {
  AsciiOut m;
  m.putString("s", "a\"b\\c\nd");
  m.putString("n", nullptr);
  m.putString("e", "");
  m.putString("tab\there");
  EXPECT_EQ(std::string(m.getAsciiContent()),
            "s:\"a\\\"b\\\\c\\nd\" n:null e:\"\" \"tab\there\" ");
  auto in = receive(m);
  STPAsciiIMsg r(in.get());
  EXPECT_EQ(str(r.getString("s")), "a\"b\\c\nd");
  EXPECT_EQ(r.getString("n"), nullptr);
  char *empty = r.getString("e");
  ASSERT_NE(empty, nullptr);
  EXPECT_STREQ(empty, "");
  std::free(empty);
  EXPECT_EQ(str(r.getString()), "tab\there");  // unnamed: at the read cursor
  EXPECT_EQ(r.getString("missing"), nullptr);
}

TEST(AsciiWire, IdentsRawQuotedAndPrefix) {
  AsciiOut m("Prefix");
  m.putIdent("id", "word");
  m.putQuotedIdent("q", "two words");
  m.putIdent("bare");
  m.putQuotedIdent("x\\y");
  m.putRawString("raw");
  m.putRawString("abcdef", 2);
  m.putRawString(nullptr);
  m.putRawString("");
  EXPECT_EQ(std::string(m.getAsciiContent()),
            "Prefix id:word q:\"two words\" bare \"x\\y\" rawab");

  STPAsciiIMsg r("Prefix id:word q:\"two words\" bare \"x\\y\" ");
  EXPECT_EQ(peek(r), "Prefix");
  EXPECT_EQ(ident(r), "Prefix");
  EXPECT_EQ(ident(r, "id"), "word");
  EXPECT_EQ(quoted(r, "q"), "two words");
  EXPECT_EQ(ident(r), "bare");
  EXPECT_EQ(quoted(r), "x\\y");  // no escapes
  EXPECT_EQ(ident(r, "nope"), "");
  EXPECT_EQ(ident(r), "");  // end of text
}

TEST(AsciiWire, RecordWithCountedStringArray) {
  AsciiOut m;
  m.putStartStruct("configItems");
  m.putNumber("count", 2);
  m.putStartArray("data", 2);
  m.putString("x=1");
  m.putString("y");
  m.putEndArray();
  m.putEndStruct();
  EXPECT_EQ(std::string(m.getAsciiContent()),
            "configItems:{ count:0x2 data:(0x2 )[ \"x=1\" \"y\" ] } ");

  auto in = receive(m);
  STPAsciiIMsg r(in.get());
  STPAsciiIMsgParamState rec, arr;
  ASSERT_TRUE(r.getStartStruct(rec, "configItems"));
  EXPECT_EQ(r.getNumber("count"), 2);
  ASSERT_EQ(r.getStartArray(arr, "data"), 2);
  EXPECT_EQ(str(r.getString()), "x=1");
  EXPECT_EQ(str(r.getString()), "y");
  EXPECT_EQ(r.getString(), nullptr);  // at "]": absent, nothing consumed
  r.getEndArray(arr);
  r.getEndStruct(rec);
  EXPECT_EQ(std::string(r.getRemainder()), "");
}

TEST(AsciiWire, ArrayWithoutCountAndEmptyForms) {
  AsciiOut m;
  m.putStartArray("list", -1);
  m.putNumber(1);
  m.putEndArray();
  m.putStartArray("none", 0);
  m.putEndArray();
  m.putStartStruct();
  m.putEndStruct();
  m.putNumber("after", 3);
  EXPECT_EQ(std::string(m.getAsciiContent()),
            "list:[ 0x1 ] none:(0x0 )[ ] { } after:0x3 ");

  auto in = receive(m);
  STPAsciiIMsg r(in.get());
  STPAsciiIMsgParamState st;
  testing::internal::CaptureStderr();
  EXPECT_EQ(r.getStartArray(st, "list"), 0);  // elements skipped
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find("unspecified stp ascii array size"), std::string::npos) << err;
  r.getEndArray(st);
  EXPECT_EQ(r.getStartArray(st, "none"), 0);
  r.getEndArray(st);
  EXPECT_EQ(r.getNumber("after"), 3);

  testing::internal::CaptureStderr();
  STPAsciiIMsg e("empty:[ ] ");
  EXPECT_EQ(e.getStartArray(st, "empty"), 0);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");  // no elements, no warning
}

TEST(AsciiRead, FieldsInAnyOrder) {
  STPAsciiIMsg r("Msg first:0x1 second:\"two\" third:0x3 ");
  EXPECT_EQ(str(r.getString("second")), "two");
  EXPECT_EQ(r.getNumber("first"), 1);
  EXPECT_EQ(r.getNumber("third"), 3);
  // A name is matched whole, and only at the current level.
  STPAsciiIMsg n("M ab:0x1 a:0x2 rec:{ inner:0x5 } ");
  EXPECT_EQ(n.getNumber("a"), 2);
  EXPECT_EQ(n.getNumber("inner"), 0);
  EXPECT_EQ(n.getNumber("abc"), 0);
}

TEST(AsciiRead, SkipsNestedValuesWithTrickyStrings) {
  STPAsciiIMsg r("M r:{ s:\"} ] {\" a:(0x2 )[ { x:0x1 } \"\\\"]\" ] } k:0x9 ");
  EXPECT_EQ(r.getNumber("k"), 9);
  const char *v = r.findTag("r");
  ASSERT_NE(v, nullptr);
  EXPECT_EQ(std::string(r.skipValue(v)), "k:0x9 ");
}

TEST(AsciiRead, ArrayOfRecordsWithUnknownExtraFields) {
  // A newer peer added "extra" to each element: elements still line up.
  STPAsciiIMsg r("M items:(0x2 )[ { id:0x1 extra:{ z:0x0 } } { id:0x2 extra:\"}\" } ] tail:0x7 ");
  STPAsciiIMsgParamState arr, el;
  ASSERT_EQ(r.getStartArray(arr, "items"), 2);
  ASSERT_TRUE(r.getStartStruct(el));
  EXPECT_EQ(r.getNumber("id"), 1);
  r.getEndStruct(el);
  ASSERT_TRUE(r.getStartStruct(el));
  EXPECT_EQ(r.getNumber("id"), 2);
  r.getEndStruct(el);
  r.getEndArray(arr);
  EXPECT_EQ(r.getNumber("tail"), 7);
}

TEST(AsciiRead, MalformedInputReadsAsAbsent) {
  {  // unterminated string
    STPAsciiIMsg r("M s:\"abc\\\" n:0x1 ");
    EXPECT_EQ(r.getString("s"), nullptr);
    EXPECT_EQ(std::string(r.getRemainder()), "");
    EXPECT_EQ(r.getNumber("n"), 0);  // swallowed by the open string
  }
  {  // array whose count lies upwards: extra reads are absent, the rest still found
    STPAsciiIMsg r("M a:(0x5 )[ \"x\" \"y\" ] b:0x2 ");
    STPAsciiIMsgParamState st;
    ASSERT_EQ(r.getStartArray(st, "a"), 5);
    EXPECT_EQ(str(r.getString()), "x");
    EXPECT_EQ(str(r.getString()), "y");
    EXPECT_EQ(r.getString(), nullptr);
    EXPECT_EQ(r.getNumber(), 0);
    r.getEndArray(st);
    EXPECT_EQ(r.getNumber("b"), 2);
  }
  {  // a count no text of this size can hold, and a negative one
    STPAsciiIMsg r("M a:(0x7fffffff )[ 0x1 ] b:(0xffffffff )[ 0x1 ] c:0x3 ");
    STPAsciiIMsgParamState st;
    EXPECT_EQ(r.getStartArray(st, "a"), 0);
    r.getEndArray(st);
    EXPECT_EQ(r.getStartArray(st, "b"), 0);
    r.getEndArray(st);
    EXPECT_EQ(r.getNumber("c"), 3);
  }
  {  // record never closed: its fields read, the outer record still works
    STPAsciiIMsg r("M first:0x1 rec:{ in:0x4 ");
    STPAsciiIMsgParamState st;
    ASSERT_TRUE(r.getStartStruct(st, "rec"));
    EXPECT_EQ(r.getNumber("in"), 4);
    r.getEndStruct(st);
    EXPECT_EQ(std::string(r.getRemainder()), "");
    EXPECT_EQ(r.getNumber("first"), 1);
  }
  {  // absent record: everything inside is absent, outer fields still found
    STPAsciiIMsg r("M a:0x1 notrec:0x5 ");
    STPAsciiIMsgParamState st;
    EXPECT_FALSE(r.getStartStruct(st, "notrec"));
    EXPECT_EQ(r.getNumber("a"), 0);
    r.getEndStruct(st);
    EXPECT_EQ(std::string(r.getRemainder()), "");  // the read cursor stays at the end
    EXPECT_EQ(r.getNumber("a"), 1);
  }
  {  // array prefix without brackets, unclosed quoted ident, stray closers
    STPAsciiIMsg r("M a:(0x2 b:\"open ");
    STPAsciiIMsgParamState st;
    EXPECT_EQ(r.getStartArray(st, "a"), 0);
    r.getEndArray(st);
    STPAsciiIMsg q("M q:\"open ");
    EXPECT_EQ(quoted(q, "q"), "");
    STPAsciiIMsg c("} ] x:0x1 ");
    EXPECT_EQ(c.getNumber("x"), 0);
    EXPECT_EQ(c.getNumber(), 0);
  }
}

TEST(AsciiRead, BodyWithoutTerminatorStopsAtPacketEnd) {
  // The last byte of the packet is a quote with no zero after it.
  auto in = packetWithText("M s:\"abc");
  STPAsciiIMsg r(in.get());
  EXPECT_EQ(r.getString("s"), nullptr);
  auto num = packetWithText("M n:0x12345");
  STPAsciiIMsg rn(num.get());
  EXPECT_EQ(rn.getNumber("n"), 0x12345);
  auto empty = packetWithText("");
  STPAsciiIMsg re(empty.get());
  EXPECT_EQ(ident(re), "");
  EXPECT_EQ(re.getNumber("x"), 0);
}

TEST(AsciiRead, DeepNestingDoesNotRecurse) {
  std::string deep = "M d:";
  deep.append(200000, '{');
  deep += " k:0x1 ";
  STPAsciiIMsg r(deep.c_str());
  EXPECT_EQ(r.getNumber("k"), 0);  // inside the unclosed value
  const char *v = r.findTag("d");
  ASSERT_NE(v, nullptr);
  EXPECT_EQ(*r.skipValue(v), '\0');
}

TEST(AsciiRead, ViewsShareTheCursorsOfTheMessage) {
  auto in = packetWithText("Name 0x1 0x2 ");
  {
    STPAsciiIMsg first(in.get());
    EXPECT_EQ(ident(first), "Name");
    EXPECT_EQ(first.getNumber(), 1);
  }
  STPAsciiIMsg second(in.get());
  EXPECT_EQ(second.getNumber(), 2);  // continues where the first left off
  EXPECT_EQ(std::string(second.getAsciiContent()), "Name 0x1 0x2 ");
  in->rewind();
  EXPECT_EQ(ident(second), "Name");
}

}  // namespace
