#include "base/data_buffer.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "base/memory.h"

namespace quillon {
namespace {

TEST(DataBufferGrowthTest, SmallAppendsReserveATwentyThousandByteStep) {
  DataBuffer data;
  ASSERT_TRUE(data.appendByte(7));
  EXPECT_EQ(data.capacity(), 20000u);
  std::string chunk(19999, 'x');
  ASSERT_TRUE(data.append(chunk));
  EXPECT_EQ(data.capacity(), 20000u);
  ASSERT_TRUE(data.appendByte(1));
  EXPECT_EQ(data.capacity(), 40000u);  // length + 20,000
}

TEST(DataBufferGrowthTest, LargeAppendsGetExactlyWhatTheyNeed) {
  DataBuffer data;
  std::string big(50000, 'y');
  ASSERT_TRUE(data.append(big));
  EXPECT_EQ(data.capacity(), 50000u);
  EXPECT_EQ(data.view(), big);
}

TEST(DataBufferGrowthTest, SizesPast32BitsAreOutOfMemory) {
  uint32_t capacity = 0;
  EXPECT_TRUE(DataBuffer::grownCapacity(0xFFFFFFFFu - 20000, 1, capacity));
  EXPECT_EQ(capacity, 0xFFFFFFFFu);
  EXPECT_FALSE(DataBuffer::grownCapacity(0xFFFFFFFFu - 19999, 1, capacity));
  EXPECT_TRUE(DataBuffer::grownCapacity(0x80000000u, 0x7FFFFFFFu, capacity));
  EXPECT_FALSE(DataBuffer::grownCapacity(0x80000000u, 0x80000000u, capacity));
  EXPECT_FALSE(DataBuffer::grownCapacity(0, uint64_t{1} << 32, capacity));
}

TEST(DataBufferGrowthTest, FailedReallocationEmptiesTheBuffer) {
  DataBuffer data("abc", 3);
  std::string big(30000, 'z');
  SetAllocationFailureForTests(true);
  EXPECT_FALSE(data.append(big));
  SetAllocationFailureForTests(false);
  EXPECT_EQ(data.length(), 0u);
  EXPECT_EQ(data.capacity(), 0u);
  ASSERT_TRUE(data.append("ok", 2));
  EXPECT_EQ(data.view(), "ok");
}

TEST(DataBufferOwnershipTest, BorrowedMemoryIsCopiedBeforeAnyWrite) {
  char external[] = "borrowed";
  DataBuffer data;
  data.borrow(external, 8);
  EXPECT_TRUE(data.isBorrowed());
  EXPECT_EQ(data.length(), 8u);
  EXPECT_EQ(data.capacity(), 8u);
  ASSERT_TRUE(data.append("!", 1));
  EXPECT_FALSE(data.isBorrowed());
  EXPECT_EQ(data.view(), "borrowed!");
  EXPECT_STREQ(external, "borrowed");
  DataBuffer swapped;
  char word[] = "abcd";
  swapped.borrow(word, 4);
  swapped.swapByteOrder32();
  EXPECT_EQ(swapped.view(), "dcba");
  EXPECT_STREQ(word, "abcd");
}

TEST(DataBufferOwnershipTest, MoveLeavesTheSourceEmpty) {
  DataBuffer source("payload", 7);
  DataBuffer target("old", 3);
  target.moveFrom(source);
  EXPECT_EQ(target.view(), "payload");
  EXPECT_EQ(source.length(), 0u);
  EXPECT_EQ(source.data(), nullptr);
  ASSERT_TRUE(source.append("again", 5));
  EXPECT_EQ(source.view(), "again");
}

TEST(DataBufferOwnershipTest, TakesAndReleasesBlocks) {
  auto* block = static_cast<uint8_t*>(AllocBytes(16));
  std::memcpy(block, "0123", 4);
  DataBuffer data;
  data.takeOwnership(block, 4, 16);
  EXPECT_EQ(data.view(), "0123");
  EXPECT_EQ(data.capacity(), 16u);
  uint32_t length = 0;
  uint32_t capacity = 0;
  void* released = data.releaseBlock(length, capacity);
  EXPECT_EQ(released, block);
  EXPECT_EQ(length, 4u);
  EXPECT_EQ(capacity, 16u);
  EXPECT_EQ(data.length(), 0u);
  FreeBytes(released);
}

TEST(DataBufferContentTest, WideTextIsLittleEndianWithItsTerminator) {
  DataBuffer data;
  ASSERT_TRUE(data.appendWideText(u"A\u00E9"));
  EXPECT_EQ(data.view(), std::string("A\0\xE9\0\0\0", 6));
  DataBuffer empty;
  ASSERT_TRUE(empty.appendWideText(nullptr));
  EXPECT_EQ(empty.view(), std::string("\0\0", 2));
  // Its own bytes appended again, although the buffer grows and moves meanwhile.
  DataBuffer own;
  ASSERT_TRUE(own.appendWideText(std::u16string(30000, u'x').c_str()));
  ASSERT_TRUE(own.appendWideText(reinterpret_cast<const char16_t*>(own.data())));
  EXPECT_EQ(own.length(), 4u * 30001u);
}

TEST(DataBufferContentTest, SwapByteOrderLeavesAPartialUnitAlone) {
  DataBuffer data("\x01\x02\x03\x04\x05\x06", 6);
  data.swapByteOrder32();
  EXPECT_EQ(data.view(), "\x04\x03\x02\x01\x05\x06");
}

TEST(DataBufferContentTest, IndexesOutOfRangeGiveZero) {
  DataBuffer data("ab", 2);
  EXPECT_EQ(data.byteAt(1), 'b');
  EXPECT_EQ(data.byteAt(2), 0);
  EXPECT_FALSE(data.setLength(data.capacity() + 1));
  EXPECT_TRUE(data.reserve(100));
  ASSERT_GE(data.capacity(), 100u);
  data.data()[2] = 'c';
  EXPECT_TRUE(data.setLength(3));
  EXPECT_EQ(data.view(), "abc");
}

}  // namespace
}  // namespace quillon
