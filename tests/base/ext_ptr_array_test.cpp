#include "base/ext_ptr_array.h"

#include <gtest/gtest.h>

namespace quillon {
namespace {

// Counts destructions so ownership rules can be checked.
struct Tracked : QuillonObject {
  explicit Tracked(int* destroyed) : destroyed_(destroyed) {}
  ~Tracked() override { ++*destroyed_; }
  int* destroyed_;
};

TEST(ExtPtrArrayTest, OutOfRangeIndexesGiveNull) {
  ExtPtrArray array;
  QuillonObject a;
  EXPECT_EQ(array.get(0), nullptr);
  EXPECT_EQ(array.last(), nullptr);
  EXPECT_EQ(array.pop(), nullptr);
  ASSERT_TRUE(array.append(&a));
  EXPECT_EQ(array.get(-1), nullptr);
  EXPECT_EQ(array.get(1), nullptr);
  EXPECT_EQ(array.get(0), &a);
  EXPECT_EQ(array.removeAt(-1), nullptr);
}

TEST(ExtPtrArrayTest, RemovingShiftsLaterElementsDown) {
  ExtPtrArray array;
  QuillonObject items[5];
  for (auto& item : items) ASSERT_TRUE(array.append(&item));
  EXPECT_EQ(array.removeAt(1), &items[1]);
  EXPECT_EQ(array.count(), 4);
  EXPECT_EQ(array.get(1), &items[2]);
  EXPECT_EQ(array.pop(), &items[4]);
  EXPECT_EQ(array.last(), &items[3]);
  array.clear();
  EXPECT_EQ(array.count(), 0);
}

TEST(ExtPtrArrayTest, GrowsThroughManyElementsKeepingOrder) {
  ExtPtrArray array;
  QuillonObject item;
  for (int i = 0; i < 300000; ++i) ASSERT_TRUE(array.append(i % 2 ? &item : nullptr));
  EXPECT_EQ(array.count(), 300000);
  EXPECT_EQ(array.get(299999), &item);
  EXPECT_EQ(array.get(299998), nullptr);
}

TEST(ExtPtrArrayTest, DeletesElementsOnlyWhenAsked) {
  int destroyed = 0;
  {
    ExtPtrArray borrowed;
    Tracked kept(&destroyed);
    borrowed.append(&kept);
  }
  EXPECT_EQ(destroyed, 1);  // only `kept` itself, at the end of its scope
  {
    OwningPtrArray owned;
    owned.append(new Tracked(&destroyed));
    owned.append(new Tracked(&destroyed));
  }
  EXPECT_EQ(destroyed, 3);
}

TEST(ExtIntArrayTest, StoresAndRemovesIntegers) {
  ExtIntArray numbers;
  for (int i = 0; i < 1000; ++i) ASSERT_TRUE(numbers.append(i * 3));
  EXPECT_EQ(numbers.get(999), 2997);
  EXPECT_EQ(numbers.get(1000), 0);
  EXPECT_EQ(numbers.get(-1), 0);
  EXPECT_TRUE(numbers.removeAt(0));
  EXPECT_EQ(numbers.get(0), 3);
  EXPECT_FALSE(numbers.removeAt(999));
}

}  // namespace
}  // namespace quillon
