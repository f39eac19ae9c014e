#include "spider/devtools_client.h"

#include <gtest/gtest.h>

#include <string>

#include "base/platform.h"

namespace quillon {
namespace {

// A shell stands in for the browser: two messages, the second split across writes, then it
// sends back every command it is given.
TEST(DevToolsClientTest, MessagesEndAtNulWhateverTheReadsAndLongOnesEndTheTalk) {
  DevToolsClient client(1024);
  std::string error;
  ASSERT_TRUE(client.Start("/bin/sh",
                           {"sh", "-c",
                            "printf '{\"method\":\"A\"}\\0{\"id\":' >&4; sleep 0.2; "
                            "printf '7}\\0' >&4; exec cat <&3 >&4"},
                           {}, error))
      << error;
  const uint32_t deadline = TickCount() + 5000;
  StringBuffer message;
  ASSERT_EQ(client.Receive(message, deadline), DevToolsClient::Next::kMessage);
  EXPECT_EQ(message.view(), "{\"method\":\"A\"}");
  ASSERT_EQ(client.Receive(message, deadline), DevToolsClient::Next::kMessage);
  EXPECT_EQ(message.view(), "{\"id\":7}");

  int64_t id = 0;
  ASSERT_TRUE(client.Send("Page.navigate", "{\"url\":\"a\\\"b\"}", "S1", id, deadline));
  ASSERT_EQ(client.Receive(message, deadline), DevToolsClient::Next::kMessage);
  EXPECT_EQ(message.view(), "{\"id\":" + std::to_string(id) +
                                ",\"method\":\"Page.navigate\",\"params\":{\"url\":\"a\\\"b\"},"
                                "\"sessionId\":\"S1\"}");
  EXPECT_EQ(client.Receive(message, TickCount() + 100), DevToolsClient::Next::kTimedOut);

  // Longer than the limit before its end arrives.
  const std::string huge = "{\"x\":\"" + std::string(100000, 'x') + "\"}";
  ASSERT_TRUE(client.Send("Huge", huge, {}, id, deadline));
  EXPECT_EQ(client.Receive(message, deadline), DevToolsClient::Next::kTooLarge);
  client.Stop();
  EXPECT_EQ(client.Receive(message, deadline), DevToolsClient::Next::kClosed);
}

}  // namespace
}  // namespace quillon
