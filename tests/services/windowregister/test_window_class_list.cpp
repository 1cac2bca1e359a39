// One client's windows by class: registration, retitling, deletion with
// the last record moving into the gap, class-name matching, relay walks
// and their filters, growth, and allocation failure while growing.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "services/windowregister/window_class_list.h"
#include "shared/indgen.h"

namespace {

using Lines = std::vector<std::string>;

// "title:id" of every window of a class, in record order.
Lines windowsOf(const WindowClass *cls) {
  Lines out;
  for (int i = 0; i < cls->getCount(); ++i) {
    const WindowRecord *r = cls->getWindow(i);
    out.push_back(std::string(r->title ? r->title : "(null)") + ":" + std::to_string(r->id));
  }
  return out;
}

const char *kindName(WindowRelayKind kind) {
  return kind == kWindowRelayShow ? "show" : kind == kWindowRelayIconify ? "iconify" : "close";
}

// Collects relayed hits as "kind class title id".
void record(void *context, WindowRelayKind kind, const char *cls, const char *title,
            unsigned long id) {
  static_cast<Lines *>(context)->push_back(std::string(kindName(kind)) + " " +
                                           (cls ? cls : "(null)") + " " +
                                           (title ? title : "(null)") + " " + std::to_string(id));
}

TEST(WindowClassList, SameClassAndIdRetitlesOneRecord) {
  WindowClassList list;
  EXPECT_TRUE(list.AddWindow("Editor", "old", 7));
  EXPECT_TRUE(list.AddWindow("Editor", "new", 7));
  ASSERT_EQ(list.getCount(), 1);
  EXPECT_EQ(windowsOf(list.getClass(0)), (Lines{"new:7"}));
  // The same id in another class is another window.
  EXPECT_TRUE(list.AddWindow("Shell", "sh", 7));
  EXPECT_EQ(list.GetWindowNumber(), 2);
}

TEST(WindowClassList, DeletionMovesTheLastRecordIntoTheGap) {
  WindowClassList list;
  list.AddWindow("C", "one", 1);
  list.AddWindow("C", "two", 2);
  list.AddWindow("C", "three", 3);
  EXPECT_TRUE(list.DeleteWindow(1));
  EXPECT_EQ(windowsOf(list.getClass(0)), (Lines{"three:3", "two:2"}));
  EXPECT_FALSE(list.DeleteWindow(1));
  EXPECT_TRUE(list.DeleteWindow(3));
  EXPECT_TRUE(list.DeleteWindow(2));
  EXPECT_EQ(list.getCount(), 1);  // the empty class stays
  EXPECT_EQ(list.GetWindowNumber(), 0);
}

TEST(WindowClassList, DeleteTakesTheFirstClassHoldingTheId) {
  WindowClassList list;
  list.AddWindow("A", "a5", 5);
  list.AddWindow("B", "b5", 5);
  EXPECT_TRUE(list.DeleteWindow(5));
  EXPECT_EQ(windowsOf(list.getClass(0)), Lines{});
  EXPECT_EQ(windowsOf(list.getClass(1)), (Lines{"b5:5"}));
}

TEST(WindowClassList, NullAndEmptyClassNamesShareAClassAndCaseMatters) {
  WindowClassList list;
  list.AddWindow(nullptr, "n", 1);
  list.AddWindow("", "e", 2);
  list.AddWindow("a", "lower", 3);
  list.AddWindow("A", "upper", 4);
  ASSERT_EQ(list.getCount(), 3);
  EXPECT_EQ(list.getClass(0)->getName(), nullptr);
  EXPECT_EQ(windowsOf(list.getClass(0)), (Lines{"n:1", "e:2"}));
  EXPECT_EQ(list.FindClass(""), list.getClass(0));
  EXPECT_EQ(list.FindClass("A"), list.getClass(2));
  EXPECT_EQ(list.FindClass("b"), nullptr);
}

TEST(WindowClassList, RetitleSearchesTheNamedClassOrTheFirstHoldingTheId) {
  WindowClassList list;
  list.AddWindow("A", "a9", 9);
  list.AddWindow("B", "b9", 9);
  EXPECT_TRUE(list.ChangeWindowTitle("B", "B-new", 9));
  EXPECT_EQ(windowsOf(list.getClass(0)), (Lines{"a9:9"}));
  EXPECT_EQ(windowsOf(list.getClass(1)), (Lines{"B-new:9"}));
  EXPECT_TRUE(list.ChangeWindowTitle(nullptr, "first", 9));
  EXPECT_EQ(windowsOf(list.getClass(0)), (Lines{"first:9"}));
  EXPECT_TRUE(list.ChangeWindowTitle("", "again", 9));
  EXPECT_EQ(windowsOf(list.getClass(0)), (Lines{"again:9"}));
  // Nothing is created by a retitle.
  EXPECT_FALSE(list.ChangeWindowTitle("C", "x", 9));
  EXPECT_FALSE(list.ChangeWindowTitle("A", "x", 10));
  EXPECT_FALSE(list.ChangeWindowTitle(nullptr, "x", 10));
  EXPECT_EQ(list.getCount(), 2);
  EXPECT_EQ(list.GetWindowNumber(), 2);
}

TEST(WindowClassList, RelayFiltersByClassAndId) {
  WindowClassList list;
  list.AddWindow(nullptr, "anon", 1);
  list.AddWindow("Ed", "e1", 1);
  list.AddWindow("Ed", "e2", 2);
  list.AddWindow("Sh", "s1", 1);
  Lines hits;
  // A class name skips null-named and other classes; id 0 hits every record.
  EXPECT_TRUE(list.Relay(kWindowRelayShow, "Ed", 0, record, &hits));
  EXPECT_EQ(hits, (Lines{"show Ed e1 1", "show Ed e2 2"}));
  // A non-zero id stops at the first hit.
  hits.clear();
  EXPECT_TRUE(list.Relay(kWindowRelayIconify, nullptr, 1, record, &hits));
  EXPECT_EQ(hits, (Lines{"iconify (null) anon 1"}));
  // An id the class does not hold: nothing, and false.
  hits.clear();
  EXPECT_FALSE(list.Relay(kWindowRelayShow, "Sh", 2, record, &hits));
  EXPECT_TRUE(hits.empty());
  // id 0 is true even when nothing matched.
  EXPECT_TRUE(list.Relay(kWindowRelayShow, "None", 0, record, &hits));
  EXPECT_TRUE(hits.empty());
  // The empty name is a name: it does not reach the null-named class.
  EXPECT_TRUE(list.Relay(kWindowRelayShow, "", 0, record, &hits));
  EXPECT_TRUE(hits.empty());
}

TEST(WindowClassList, CloseForgetsWhatItHit) {
  WindowClassList list;
  list.AddWindow("Ed", "e1", 1);
  list.AddWindow("Ed", "e2", 2);
  list.AddWindow("Ed", "e3", 3);
  list.AddWindow("Sh", "s1", 1);
  Lines hits;
  EXPECT_TRUE(list.Relay(kWindowRelayClose, "Ed", 1, record, &hits));
  EXPECT_EQ(hits, (Lines{"close Ed e1 1"}));
  EXPECT_EQ(windowsOf(list.getClass(0)), (Lines{"e3:3", "e2:2"}));
  EXPECT_EQ(windowsOf(list.getClass(1)), (Lines{"s1:1"}));
  hits.clear();
  EXPECT_TRUE(list.Relay(kWindowRelayClose, nullptr, 0, record, &hits));
  EXPECT_EQ(hits, (Lines{"close Ed e3 3", "close Ed e2 2", "close Sh s1 1"}));
  EXPECT_EQ(list.GetWindowNumber(), 0);
  EXPECT_EQ(list.getCount(), 2);
  // Show and iconify forget nothing.
  list.AddWindow("Ed", "e", 4);
  list.Relay(kWindowRelayShow, nullptr, 0, record, &hits);
  list.Relay(kWindowRelayIconify, nullptr, 4, record, &hits);
  EXPECT_EQ(list.GetWindowNumber(), 1);
}

TEST(WindowClassList, GrowsPastSeveralSteps) {
  WindowClassList list;
  for (int c = 0; c < 25; ++c)
    for (int w = 1; w <= 25; ++w)
      ASSERT_TRUE(list.AddWindow(("class" + std::to_string(c)).c_str(), "t", w));
  ASSERT_EQ(list.getCount(), 25);
  EXPECT_EQ(list.GetWindowNumber(), 625);
  EXPECT_STREQ(list.getClass(24)->getName(), "class24");
  EXPECT_EQ(list.getClass(24)->getWindow(24)->id, 25u);
  std::vector<WindowRegister__WindowInfo> info(625);
  EXPECT_EQ(list.GetWindowInfo(info.data(), "conn"), 625);
  EXPECT_STREQ(info[26].className, "class1");
  EXPECT_EQ(info[26].win, 2);
  EXPECT_STREQ(info[26].serviceName, "conn");
  for (auto &i : info) WindowRegister__WindowInfo_free(&i);
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
    // Ten slots: the ninth record still leaves one spare, the tenth needs more.
    EXPECT_TRUE(list.AddWindow("C", "t", 9));
    EXPECT_FALSE(list.AddWindow("C", "t", 10));
    EXPECT_TRUE(list.AddWindow("C", "retitled", 1));  // no growth needed
    EXPECT_FALSE(list.AddWindow("D", "t", 1));         // a new class would need memory
  }
  EXPECT_EQ(list.GetWindowNumber(), 9);
  EXPECT_EQ(list.getCount(), 1);
  EXPECT_TRUE(list.AddWindow("C", "t", 10));
  EXPECT_EQ(list.GetWindowNumber(), 10);
}

TEST(WindowClassList, ExtendPointerArray) {
  int **array = nullptr;
  EXPECT_EQ(gen_ExtendPointerArray(array, 0, 0, 0), 0);
  EXPECT_EQ(array, nullptr);
  ASSERT_EQ(gen_ExtendPointerArray(array, 0, 0, 3), 3);
  int a = 1, b = 2;
  array[0] = &a;
  array[1] = &b;
  ASSERT_EQ(gen_ExtendPointerArray(array, 2, 3, 10), 10);
  EXPECT_EQ(array[0], &a);
  EXPECT_EQ(array[1], &b);
  for (int i = 2; i < 13; ++i) EXPECT_EQ(array[i], nullptr);
  gen_free(array);
}

}  // namespace
