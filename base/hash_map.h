// A map from text keys to QuillonObjects it owns, keys compared exactly (case-sensitive); it
// cannot be iterated. A fixed map keeps the bucket count chosen at construction, and the bucket
// of a key is the CRC-32 of the key's MD5 digest. A growing map (the crawl's seen set) doubles
// its buckets whenever it holds more keys than buckets, so a lookup stays cheap at any size;
// its keys are placed by the CRC-32 of their own bytes. A map may keep a small zeroed record of
// fixed size beside each key, in the key's own block, for facts too small to be worth an object.
#pragma once

#include <cstdint>
#include <string_view>

#include "base/quillon_object.h"

namespace quillon {

class HashMap : public QuillonObject {
 public:
  static constexpr uint32_t kDefaultBucketCount = 100;

  enum class Growth { kFixed, kDoubling };

  // 0 buckets means the default. recordBytes (rounded up to a multiple of 8) is the size of the
  // record kept beside each key; 0 keeps none.
  explicit HashMap(uint32_t bucketCount = kDefaultBucketCount, Growth growth = Growth::kFixed,
                   uint32_t recordBytes = 0);
  HashMap(const HashMap&) = delete;
  HashMap& operator=(const HashMap&) = delete;
  // Deletes every value.
  ~HashMap() override;

  // Keys are NUL-terminated texts (a null key is never present) or byte ranges.
  bool contains(const char* key) const;
  bool contains(std::string_view key) const;
  // The value of key, still owned by the map; null when absent.
  QuillonObject* get(const char* key) const;
  QuillonObject* get(std::string_view key) const;

  // Stores value under key, deleting the value it replaces (putting the value already stored is
  // a no-op). The map owns value from here on, even when the call fails: false (value deleted)
  // for a null key or when memory runs out.
  bool put(const char* key, QuillonObject* value);
  bool put(std::string_view key, QuillonObject* value);
  // Puts a fresh empty QuillonObject (the map used as a set of keys).
  bool add(const char* key);
  bool add(std::string_view key);
  // Deletes the entry and its value; false when the key was absent.
  bool remove(const char* key);
  bool remove(std::string_view key);
  // Deletes every entry and value; a growing map goes back to the buckets it started with.
  void clear();

  // The map's own copy of key (NUL-terminated), put with a null value when absent (added then
  // true), so that others can refer to it instead of keeping a copy of their own. The copy stays
  // where it is, however the map grows, until its entry is removed or the map cleared or
  // destroyed. Null when memory runs out.
  const char* storeKey(std::string_view key, bool& added);

  // The record beside a key this map stored (a pointer storeKey returned, still stored), zeroed
  // when the key was added; null when the map keeps no records.
  void* recordOf(const char* storedKey) const;
  // The record of key, or null when the key is absent or the map keeps no records.
  void* record(std::string_view key) const;

  uint32_t count() const { return count_; }
  uint32_t bucketCount() const { return bucketCount_; }
  // The bucket a key falls in: CRC-32 of its 16-byte MD5 digest, modulo the bucket count.
  static uint32_t BucketOf(std::string_view key, uint32_t bucketCount);

 private:
  struct Node;

  // The hash a key is placed by: its bucket is the hash modulo the bucket count.
  uint32_t HashOf(std::string_view key) const;
  Node** find(std::string_view key, uint32_t hash) const;
  // Links a new entry at link (the empty end of its bucket); null when memory runs out.
  Node* insert(Node** link, std::string_view key, uint32_t hash, QuillonObject* value);
  // Deletes every entry, leaving the buckets empty.
  void deleteEntries();
  // Frees a node's block, which starts with its record.
  void freeNode(Node* node);
  // Doubles the buckets of a growing map that holds more keys than buckets; a map that cannot
  // get the memory stays as it is (still correct, only slower).
  void growIfFull();

  Node** buckets_ = nullptr;
  uint32_t bucketCount_ = 0;
  uint32_t initialBucketCount_ = 0;
  uint32_t count_ = 0;
  uint32_t recordBytes_ = 0;
  Growth growth_ = Growth::kFixed;
};

}  // namespace quillon
