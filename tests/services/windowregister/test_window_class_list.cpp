// One client's windows by class: registration, retitling, deletion with
// the last record moving into the gap, class-name matching, relay walks
// and their filters, growth, and allocation failure while growing.
#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "services/windowregister/window_class_list.h"
#include "shared/indgen.h"

namespace {

using Lines = std::vector<std::string>;

// Every class with its windows in record order: "Ed[e1:1 e2:2] -[n:1]"
// ("-" for the class without a name).
std::string dump(const WindowClassList &list) {
  std::string out;
  for (int c = 0; c < list.getCount(); ++c) {
    const WindowClass *cls = list.getClass(c);
    out += std::string(c ? " " : "") + (cls->getName() ? cls->getName() : "-") + "[";
    for (int i = 0; i < cls->getCount(); ++i) {
      const WindowRecord *r = cls->getWindow(i);
      out += std::string(i ? " " : "") + (r->title ? r->title : "(null)") + ":" + std::to_string(r->id);
    }
    out += "]";
  }
  return out;
}

// Collects relayed hits as "kind class title id".
void record(void *context, WindowRelayKind kind, const char *cls, const char *title,
            unsigned long id) {
  const char *k = kind == kWindowRelayShow ? "show" : kind == kWindowRelayIconify ? "iconify" : "close";
  static_cast<Lines *>(context)->push_back(std::string(k) + " " + (cls ? cls : "(null)") + " " +
                                           (title ? title : "(null)") + " " + std::to_string(id));
}

// Same class and id retitle one record, the same id in another class is
// another window; deletion takes the first class holding the id and moves
// the last record into the gap; emptied classes stay.
TEST(WindowClassList, AddRetitlesAndDeleteMovesTheLastRecordIntoTheGap) {
  WindowClassList list;
  for (auto [cls, title, id] : {std::tuple{"C", "old", 1}, {"C", "one", 1}, {"C", "two", 2},
                                {"C", "three", 3}, {"D", "d1", 1}})
    EXPECT_TRUE(list.AddWindow(cls, title, id));
  EXPECT_EQ(dump(list), "C[one:1 two:2 three:3] D[d1:1]");
  EXPECT_TRUE(list.DeleteWindow(1));
  EXPECT_EQ(dump(list), "C[three:3 two:2] D[d1:1]");
  EXPECT_TRUE(list.DeleteWindow(1));
  EXPECT_FALSE(list.DeleteWindow(1));
  EXPECT_TRUE(list.DeleteWindow(3));
  EXPECT_TRUE(list.DeleteWindow(2));
  EXPECT_EQ(dump(list), "C[] D[]");
  EXPECT_EQ(list.GetWindowNumber(), 0);
}

TEST(WindowClassList, NullAndEmptyClassNamesShareAClassAndCaseMatters) {
  WindowClassList list;
  list.AddWindow(nullptr, "n", 1);
  list.AddWindow("", "e", 2);
  list.AddWindow("a", "lower", 3);
  list.AddWindow("A", "upper", 4);
  EXPECT_EQ(dump(list), "-[n:1 e:2] a[lower:3] A[upper:4]");
  EXPECT_EQ(list.FindClass(""), list.getClass(0));
  EXPECT_EQ(list.FindClass("A"), list.getClass(2));
  EXPECT_EQ(list.FindClass("b"), nullptr);
}

TEST(WindowClassList, RetitleSearchesTheNamedClassOrTheFirstHoldingTheId) {
  WindowClassList list;
  list.AddWindow("A", "a9", 9);
  list.AddWindow("B", "b9", 9);
  EXPECT_TRUE(list.ChangeWindowTitle("B", "B-new", 9));
  EXPECT_EQ(dump(list), "A[a9:9] B[B-new:9]");
  EXPECT_TRUE(list.ChangeWindowTitle(nullptr, "first", 9));
  EXPECT_EQ(dump(list), "A[first:9] B[B-new:9]");
  EXPECT_TRUE(list.ChangeWindowTitle("", "again", 9));
  // Nothing is created by a retitle.
  EXPECT_FALSE(list.ChangeWindowTitle("C", "x", 9));
  EXPECT_FALSE(list.ChangeWindowTitle("A", "x", 10));
  EXPECT_FALSE(list.ChangeWindowTitle(nullptr, "x", 10));
  EXPECT_EQ(dump(list), "A[again:9] B[B-new:9]");
}

// A class name skips null-named and other classes (the empty name too);
// id 0 hits every record and is true even without a match; a non-zero id
// stops at the first hit; close forgets what it hit, show and iconify
// forget nothing.
TEST(WindowClassList, RelayFiltersByClassAndIdAndCloseForgets) {
  WindowClassList list;
  list.AddWindow(nullptr, "anon", 1);
  list.AddWindow("Ed", "e1", 1);
  list.AddWindow("Ed", "e2", 2);
  list.AddWindow("Ed", "e3", 3);
  list.AddWindow("Sh", "s1", 1);
  const struct {
    WindowRelayKind kind;
    const char *cls;
    unsigned long id;
    bool result;
    Lines hits;
  } cases[] = {
      {kWindowRelayShow, "Ed", 0, true, {"show Ed e1 1", "show Ed e2 2", "show Ed e3 3"}},
      {kWindowRelayIconify, nullptr, 1, true, {"iconify (null) anon 1"}},
      {kWindowRelayShow, "Sh", 2, false, {}},
      {kWindowRelayShow, "None", 0, true, {}},
      {kWindowRelayShow, "", 0, true, {}},
      {kWindowRelayClose, "Ed", 1, true, {"close Ed e1 1"}},
      {kWindowRelayClose, "Ed", 0, true, {"close Ed e3 3", "close Ed e2 2"}},
  };
  for (const auto &c : cases) {
    Lines hits;
    EXPECT_EQ(list.Relay(c.kind, c.cls, c.id, record, &hits), c.result) << c.cls << c.id;
    EXPECT_EQ(hits, c.hits) << (c.cls ? c.cls : "-") << " " << c.id;
  }
  EXPECT_EQ(dump(list), "-[anon:1] Ed[] Sh[s1:1]");
}

// While set, allocations of pointer-sized elements (the growing arrays)
// fail; records and strings still get memory.
struct FailingAllocations {
  gen_calloc_func saved = gen_calloc_hook;
  FailingAllocations() {
    static gen_calloc_func real;
    real = gen_calloc_hook;
    gen_calloc_hook = [](size_t n, size_t size) -> void * {
      return size == sizeof(void *) ? nullptr : real(n, size);
    };
  }
  ~FailingAllocations() { gen_calloc_hook = saved; }
};

TEST(WindowClassList, NoMemoryToGrowRegistersNothing) {
  WindowClassList list;
  {
    FailingAllocations fail;
    EXPECT_FALSE(list.AddWindow("C", "t", 1));  // the class array cannot grow
  }
  EXPECT_EQ(list.getCount(), 0);
  for (int w = 1; w <= 8; ++w) ASSERT_TRUE(list.AddWindow("C", "t", w));
  {
    FailingAllocations fail;
    // The ninth record still fits the first block, the tenth needs more.
    EXPECT_TRUE(list.AddWindow("C", "t", 9));
    EXPECT_FALSE(list.AddWindow("C", "t", 10));
    EXPECT_TRUE(list.AddWindow("C", "retitled", 1));  // no growth needed
    EXPECT_FALSE(list.AddWindow("D", "t", 1));         // a new class would need memory
  }
  EXPECT_EQ(list.GetWindowNumber(), 9);
  EXPECT_EQ(list.getCount(), 1);
  EXPECT_TRUE(list.AddWindow("C", "t", 10));
  int **none = nullptr;  // no step: nothing allocated
  EXPECT_EQ(gen_ExtendPointerArray(none, 0, 0, 0), 0);
}

}  // namespace
