#include "base/hash_map.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/memory.h"

namespace quillon {
namespace {

// A value that counts its own destruction.
class Tracked : public QuillonObject {
 public:
  Tracked(int id, int* destroyed) : id_(id), destroyed_(destroyed) {}
  ~Tracked() override { ++*destroyed_; }
  int id() const { return id_; }

 private:
  int id_;
  int* destroyed_;
};

int IdOf(const HashMap& map, const std::string& key) {
  auto* value = static_cast<Tracked*>(map.get(key.c_str()));
  return value == nullptr ? -1 : value->id();
}

TEST(HashMapTest, BucketCountDefaultsToOneHundred) {
  EXPECT_EQ(HashMap().bucketCount(), 100u);
  EXPECT_EQ(HashMap(0).bucketCount(), 100u);
  EXPECT_EQ(HashMap(7).bucketCount(), 7u);
}

// Expected values computed independently: crc32(md5(key)) modulo the bucket count.
TEST(HashMapTest, BucketIsCrc32OfTheMd5Digest) {
  struct Case {
    const char* key;
    uint32_t bucketOf100;
    uint32_t bucketOf7;
  };
  const Case cases[] = {
      {"", 24, 2},
      {"example.com", 23, 1},
      {"http://www.example.com/", 36, 1},
      {"Key", 32, 0},
      {"key", 36, 6},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(HashMap::BucketOf(c.key, 100), c.bucketOf100) << c.key;
    EXPECT_EQ(HashMap::BucketOf(c.key, 7), c.bucketOf7) << c.key;
  }
}

TEST(HashMapTest, PutThenGetAndContains) {
  int destroyed = 0;
  HashMap map;
  EXPECT_FALSE(map.contains("a"));
  EXPECT_EQ(map.get("a"), nullptr);
  EXPECT_TRUE(map.put("a", new Tracked(1, &destroyed)));
  EXPECT_TRUE(map.put("b", new Tracked(2, &destroyed)));
  EXPECT_TRUE(map.contains("a"));
  EXPECT_EQ(IdOf(map, "a"), 1);
  EXPECT_EQ(IdOf(map, "b"), 2);
  EXPECT_EQ(map.count(), 2u);
  EXPECT_EQ(destroyed, 0);
}

TEST(HashMapTest, NamesCompareExactly) {
  int destroyed = 0;
  HashMap map;
  map.put("Key", new Tracked(1, &destroyed));
  EXPECT_FALSE(map.contains("key"));
  EXPECT_FALSE(map.contains("Key "));
  EXPECT_FALSE(map.contains("Ke"));
  EXPECT_TRUE(map.contains(std::string_view("Key")));
  map.put(std::string_view("Key\0x", 5), new Tracked(2, &destroyed));
  EXPECT_EQ(IdOf(map, "Key"), 1);
  EXPECT_EQ(static_cast<Tracked*>(map.get(std::string_view("Key\0x", 5)))->id(), 2);
}

TEST(HashMapTest, PutReplacesAndDeletesThePreviousValue) {
  int destroyed = 0;
  HashMap map;
  map.put("k", new Tracked(1, &destroyed));
  EXPECT_TRUE(map.put("k", new Tracked(2, &destroyed)));
  EXPECT_EQ(destroyed, 1);
  EXPECT_EQ(IdOf(map, "k"), 2);
  EXPECT_EQ(map.count(), 1u);
}

TEST(HashMapTest, PuttingTheStoredValueAgainKeepsIt) {
  int destroyed = 0;
  HashMap map;
  auto* value = new Tracked(1, &destroyed);
  map.put("k", value);
  EXPECT_TRUE(map.put("k", value));
  EXPECT_EQ(destroyed, 0);
  EXPECT_EQ(IdOf(map, "k"), 1);
}

TEST(HashMapTest, RemoveDeletesEntryAndValue) {
  int destroyed = 0;
  HashMap map;
  map.put("k", new Tracked(1, &destroyed));
  map.put("other", new Tracked(2, &destroyed));
  EXPECT_TRUE(map.remove("k"));
  EXPECT_EQ(destroyed, 1);
  EXPECT_FALSE(map.contains("k"));
  EXPECT_FALSE(map.remove("k"));
  EXPECT_EQ(IdOf(map, "other"), 2);
  EXPECT_EQ(map.count(), 1u);
}

TEST(HashMapTest, AddMakesASetOfKeys) {
  HashMap map;
  EXPECT_TRUE(map.add("seen"));
  EXPECT_TRUE(map.contains("seen"));
  EXPECT_NE(map.get("seen"), nullptr);
  EXPECT_TRUE(map.add("seen"));
  EXPECT_EQ(map.count(), 1u);
  EXPECT_TRUE(map.add(""));
  EXPECT_TRUE(map.contains(""));
}

TEST(HashMapTest, DestructionDeletesEveryValue) {
  int destroyed = 0;
  {
    HashMap map(3);
    for (int i = 0; i < 50; ++i) map.put(std::to_string(i).c_str(), new Tracked(i, &destroyed));
  }
  EXPECT_EQ(destroyed, 50);
}

TEST(HashMapTest, ManyKeysAcrossFewBuckets) {
  int destroyed = 0;
  HashMap map(3);
  const int kKeys = 2000;
  for (int i = 0; i < kKeys; ++i) {
    ASSERT_TRUE(map.put("http://example.com/page" + std::to_string(i), new Tracked(i, &destroyed)));
  }
  EXPECT_EQ(map.count(), static_cast<uint32_t>(kKeys));
  EXPECT_EQ(map.bucketCount(), 3u);
  for (int i = 0; i < kKeys; ++i) {
    ASSERT_EQ(IdOf(map, "http://example.com/page" + std::to_string(i)), i);
  }
  for (int i = 0; i < kKeys; i += 2) {
    ASSERT_TRUE(map.remove("http://example.com/page" + std::to_string(i)));
  }
  EXPECT_EQ(destroyed, kKeys / 2);
  for (int i = 0; i < kKeys; ++i) {
    ASSERT_EQ(map.contains("http://example.com/page" + std::to_string(i)), i % 2 == 1) << i;
  }
  EXPECT_FALSE(map.contains("http://example.com/page"));
}

// The stored copy is what lists of URLs point at: it must not move while the map doubles, and
// clearing deletes the values and returns to the first bucket count.
TEST(HashMapTest, StoredKeysStayPutAsTheMapGrowsAndClearStartsOver) {
  int destroyed = 0;
  HashMap map(5, HashMap::Growth::kDoubling);
  bool added = false;
  const char* first = map.storeKey("first", added);
  ASSERT_NE(first, nullptr);
  EXPECT_TRUE(added);
  EXPECT_EQ(map.get("first"), nullptr);
  for (int i = 0; i < 500; ++i) map.put(std::to_string(i), new Tracked(i, &destroyed));
  EXPECT_GT(map.bucketCount(), 5u);
  EXPECT_EQ(map.storeKey("first", added), first);
  EXPECT_FALSE(added);
  EXPECT_STREQ(first, "first");

  map.clear();
  EXPECT_EQ(destroyed, 500);
  EXPECT_EQ(map.count(), 0u);
  EXPECT_EQ(map.bucketCount(), 5u);
  EXPECT_FALSE(map.contains("first"));
  SetAllocationFailureForTests(true);
  EXPECT_EQ(map.storeKey("k", added), nullptr);
  SetAllocationFailureForTests(false);
  EXPECT_FALSE(added);
}

TEST(HashMapTest, NullKeyIsNeverStored) {
  int destroyed = 0;
  HashMap map;
  EXPECT_FALSE(map.put(static_cast<const char*>(nullptr), new Tracked(1, &destroyed)));
  EXPECT_EQ(destroyed, 1);  // the map took the value and deleted it
  EXPECT_FALSE(map.contains(static_cast<const char*>(nullptr)));
  EXPECT_EQ(map.get(static_cast<const char*>(nullptr)), nullptr);
  EXPECT_FALSE(map.remove(static_cast<const char*>(nullptr)));
  EXPECT_FALSE(map.add(static_cast<const char*>(nullptr)));
}

TEST(HashMapTest, OutOfMemoryFailsThePutAndDeletesTheValue) {
  int destroyed = 0;
  HashMap map;
  auto* value = new Tracked(1, &destroyed);
  SetAllocationFailureForTests(true);
  bool ok = map.put("k", value);
  SetAllocationFailureForTests(false);
  EXPECT_FALSE(ok);
  EXPECT_EQ(destroyed, 1);
  EXPECT_FALSE(map.contains("k"));
  EXPECT_TRUE(map.put("k", new Tracked(2, &destroyed)));
}

TEST(HashMapTest, MapWhoseBucketsCouldNotBeAllocatedRefusesEverything) {
  int destroyed = 0;
  SetAllocationFailureForTests(true);
  HashMap map;
  SetAllocationFailureForTests(false);
  EXPECT_EQ(map.bucketCount(), 0u);
  EXPECT_FALSE(map.put("k", new Tracked(1, &destroyed)));
  EXPECT_EQ(destroyed, 1);
  EXPECT_FALSE(map.contains("k"));
  EXPECT_FALSE(map.remove("k"));
}

// The record beside each key starts zeroed, is the same whether reached by the stored key or by
// a lookup, and stays put while a growing map doubles its buckets.
TEST(HashMapTest, RecordsBesideKeysStartZeroedAndSurviveGrowth) {
  HashMap map(3, HashMap::Growth::kDoubling, 12);
  EXPECT_EQ(HashMap().record("x"), nullptr);
  std::vector<const char*> keys;
  for (int i = 0; i < 200; ++i) {
    bool added = false;
    keys.push_back(map.storeKey("key" + std::to_string(i), added));
    auto* record = static_cast<uint64_t*>(map.recordOf(keys.back()));
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(record[0], 0u);
    EXPECT_EQ(record[1], 0u);  // rounded up to 16 bytes
    record[0] = static_cast<uint64_t>(i) * 7;
  }
  EXPECT_GT(map.bucketCount(), 200u);
  for (int i = 0; i < 200; ++i) {
    void* record = map.record("key" + std::to_string(i));
    EXPECT_EQ(record, map.recordOf(keys[static_cast<size_t>(i)]));
    EXPECT_EQ(*static_cast<uint64_t*>(record), static_cast<uint64_t>(i) * 7);
  }
  EXPECT_EQ(map.record("absent"), nullptr);
  EXPECT_TRUE(map.remove("key5"));
}

}  // namespace
}  // namespace quillon
