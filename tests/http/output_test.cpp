#include "http/output.h"

#include <gtest/gtest.h>

#include <string>

#include "base/log_base.h"
#include "tests/support/test_support.h"

namespace quillon {
namespace {

const uint8_t* Bytes(const char* text) { return reinterpret_cast<const uint8_t*>(text); }

TEST(OutputDataBufferTest, AppendsAfterWhatTheBufferHolds) {
  DataBuffer buffer("ab", 2);
  OutputDataBuffer sink(buffer);
  LogNull log;
  ASSERT_TRUE(sink.writeBytes(Bytes("cd"), 2, log));
  ASSERT_TRUE(sink.writeBytes64(Bytes("ef"), 2, log));
  EXPECT_EQ(buffer.view(), "abcdef");
  EXPECT_EQ(sink.size(), 6u);
  EXPECT_EQ(sink.dataBuffer(), &buffer);
}

TEST(OutputDataBufferTest, WritesAtItsOwnPosition) {
  DataBuffer buffer;
  OutputDataBuffer sink(buffer);
  LogNull log;
  sink.writeBytes(Bytes("hello world"), 11, log);
  ASSERT_TRUE(sink.seek(6));
  sink.writeBytes(Bytes("WORLD!!"), 7, log);
  EXPECT_EQ(buffer.view(), "hello WORLD!!");
  EXPECT_FALSE(sink.seek(14));
  ASSERT_TRUE(sink.seek(0));
  sink.writeBytes(Bytes("J"), 1, log);
  EXPECT_EQ(buffer.view(), "Jello WORLD!!");
}

TEST(OutputDataBufferTest, TakesTheNewEndAfterTheBufferWasReplaced) {
  DataBuffer buffer;
  OutputDataBuffer sink(buffer);
  LogNull log;
  sink.writeBytes(Bytes("compressed"), 10, log);
  buffer.clear();
  buffer.append("plain text body", 15);
  sink.takeEndAsPosition();
  sink.writeBytes(Bytes("!"), 1, log);
  EXPECT_EQ(buffer.view(), "plain text body!");
}

TEST(OutputDataBufferTest, ClearCopyAndDescribe) {
  DataBuffer buffer;
  OutputDataBuffer sink(buffer);
  LogNull log;
  sink.writeBytes(Bytes("abc"), 3, log);
  DataBuffer copy("x", 1);
  ASSERT_TRUE(sink.copyTo(copy, log));
  EXPECT_EQ(copy.view(), "xabc");
  StringBuffer name;
  sink.describe(name);
  EXPECT_EQ(name.view(), "memory");
  ASSERT_TRUE(sink.clear(log));
  EXPECT_EQ(sink.size(), 0u);
  sink.writeBytes(Bytes("z"), 1, log);
  EXPECT_EQ(buffer.view(), "z");
}

TEST(OutputFileTest, WritesSeeksAndCopiesBack) {
  std::string path = testing::FreshDir("output") + "body.bin";
  OutputFile sink;
  LogNull log;
  ASSERT_TRUE(sink.open(path.c_str(), log));
  ASSERT_TRUE(sink.writeBytes(Bytes("hello world"), 11, log));
  ASSERT_TRUE(sink.seek(6));
  ASSERT_TRUE(sink.writeBytes(Bytes("there!"), 6, log));
  EXPECT_EQ(sink.size(), 12u);
  EXPECT_FALSE(sink.seek(13));
  DataBuffer copy;
  ASSERT_TRUE(sink.copyTo(copy, log));
  EXPECT_EQ(copy.view(), "hello there!");
  EXPECT_EQ(testing::ReadFileBytes(path), "hello there!");
  StringBuffer name;
  sink.describe(name);
  EXPECT_EQ(name.view(), path);
  EXPECT_EQ(sink.dataBuffer(), nullptr);
}

TEST(OutputFileTest, ClearEmptiesTheFile) {
  std::string path = testing::FreshDir("output-clear") + "body.bin";
  OutputFile sink;
  LogNull log;
  ASSERT_TRUE(sink.open(path.c_str(), log));
  sink.writeBytes(Bytes("old body"), 8, log);
  ASSERT_TRUE(sink.clear(log));
  sink.writeBytes(Bytes("new"), 3, log);
  sink.takeEndAsPosition();
  sink.writeBytes(Bytes("!"), 1, log);
  EXPECT_EQ(testing::ReadFileBytes(path), "new!");
}

TEST(OutputFileTest, OpeningInAMissingFolderFails) {
  std::string path = testing::ScratchDir() + "no/such/folder/body.bin";
  OutputFile sink;
  LogNull log;
  EXPECT_FALSE(sink.open(path.c_str(), log));
  EXPECT_FALSE(sink.writeBytes(Bytes("x"), 1, log));
}

}  // namespace
}  // namespace quillon
