#include "base/hash_map.h"

#include <zlib.h>

#include <cstring>
#include <new>

#include "base/md5.h"
#include "base/memory.h"

namespace quillon {

// One entry; the key's bytes and a terminator follow the node in the same block, and the record
// (when the map keeps records) comes before it.
struct HashMap::Node {
  Node* next;
  QuillonObject* value;
  uint32_t hash;
  uint32_t keyLength;

  const char* key() const { return reinterpret_cast<const char*>(this + 1); }
  char* key() { return reinterpret_cast<char*>(this + 1); }
};

namespace {

std::string_view KeyView(const char* key) { return key == nullptr ? std::string_view() : key; }

}  // namespace

HashMap::HashMap(uint32_t bucketCount, Growth growth, uint32_t recordBytes)
    : recordBytes_((recordBytes + 7u) & ~7u), growth_(growth) {
  if (bucketCount == 0) bucketCount = kDefaultBucketCount;
  initialBucketCount_ = bucketCount;
  void* block = AllocBytes(sizeof(Node*) * static_cast<size_t>(bucketCount));
  if (block == nullptr) return;  // every put fails from here on
  buckets_ = static_cast<Node**>(block);
  for (uint32_t i = 0; i < bucketCount; ++i) buckets_[i] = nullptr;
  bucketCount_ = bucketCount;
}

HashMap::~HashMap() {
  deleteEntries();
  FreeBytes(buckets_);
}

void HashMap::deleteEntries() {
  for (uint32_t i = 0; i < bucketCount_; ++i) {
    Node* node = buckets_[i];
    while (node != nullptr) {
      Node* next = node->next;
      delete node->value;
      freeNode(node);
      node = next;
    }
    buckets_[i] = nullptr;
  }
  count_ = 0;
}

void HashMap::clear() {
  deleteEntries();
  if (bucketCount_ == initialBucketCount_) return;
  // Give back a grown bucket array; a map that cannot get the first one back fails every put.
  FreeBytes(buckets_);
  buckets_ = static_cast<Node**>(AllocBytes(sizeof(Node*) * size_t{initialBucketCount_}));
  bucketCount_ = buckets_ == nullptr ? 0 : initialBucketCount_;
  for (uint32_t i = 0; i < bucketCount_; ++i) buckets_[i] = nullptr;
}

namespace {

uint32_t Md5Crc(std::string_view key) {
  uint8_t digest[Md5::kDigestLength];
  Md5::digest(key.empty() ? "" : key.data(), key.size(), digest);
  return static_cast<uint32_t>(crc32(crc32(0L, Z_NULL, 0), digest, Md5::kDigestLength));
}

}  // namespace

uint32_t HashMap::BucketOf(std::string_view key, uint32_t bucketCount) {
  if (bucketCount == 0) return 0;
  return Md5Crc(key) % bucketCount;
}

uint32_t HashMap::HashOf(std::string_view key) const {
  if (growth_ == Growth::kFixed) return Md5Crc(key);
  const Bytef* bytes = reinterpret_cast<const Bytef*>(key.empty() ? "" : key.data());
  return static_cast<uint32_t>(crc32(crc32(0L, Z_NULL, 0), bytes, static_cast<uInt>(key.size())));
}

HashMap::Node** HashMap::find(std::string_view key, uint32_t hash) const {
  if (bucketCount_ == 0) return nullptr;
  Node** link = &buckets_[hash % bucketCount_];
  while (*link != nullptr) {
    Node* node = *link;
    if (node->hash == hash && node->keyLength == key.size() &&
        (key.empty() || std::memcmp(node->key(), key.data(), key.size()) == 0)) {
      break;
    }
    link = &node->next;
  }
  return link;
}

void HashMap::growIfFull() {
  if (growth_ != Growth::kDoubling || count_ <= bucketCount_) return;
  const uint64_t grown = uint64_t{bucketCount_} * 2 + 1;
  if (grown > UINT32_MAX / sizeof(Node*)) return;
  void* block = AllocBytes(sizeof(Node*) * static_cast<size_t>(grown));
  if (block == nullptr) return;
  Node** buckets = static_cast<Node**>(block);
  const uint32_t count = static_cast<uint32_t>(grown);
  for (uint32_t i = 0; i < count; ++i) buckets[i] = nullptr;
  for (uint32_t i = 0; i < bucketCount_; ++i) {
    for (Node* node = buckets_[i]; node != nullptr;) {
      Node* next = node->next;
      Node*& head = buckets[node->hash % count];
      node->next = head;
      head = node;
      node = next;
    }
  }
  FreeBytes(buckets_);
  buckets_ = buckets;
  bucketCount_ = count;
}

bool HashMap::contains(const char* key) const { return key != nullptr && contains(KeyView(key)); }

bool HashMap::contains(std::string_view key) const {
  Node** link = find(key, HashOf(key));
  return link != nullptr && *link != nullptr;
}

QuillonObject* HashMap::get(const char* key) const {
  return key == nullptr ? nullptr : get(KeyView(key));
}

QuillonObject* HashMap::get(std::string_view key) const {
  Node** link = find(key, HashOf(key));
  return link == nullptr || *link == nullptr ? nullptr : (*link)->value;
}

bool HashMap::put(const char* key, QuillonObject* value) {
  if (key == nullptr) {
    delete value;
    return false;
  }
  return put(KeyView(key), value);
}

bool HashMap::put(std::string_view key, QuillonObject* value) {
  const uint32_t hash = HashOf(key);
  Node** link = find(key, hash);
  if (link == nullptr) {
    delete value;
    return false;
  }
  if (*link != nullptr) {
    Node* node = *link;
    if (node->value != value) {
      delete node->value;
      node->value = value;
    }
    return true;
  }
  if (insert(link, key, hash, value) == nullptr) {
    delete value;
    return false;
  }
  return true;
}

HashMap::Node* HashMap::insert(Node** link, std::string_view key, uint32_t hash,
                               QuillonObject* value) {
  void* block = nullptr;
  if (key.size() < UINT32_MAX - sizeof(Node) - recordBytes_) {
    block = AllocBytes(recordBytes_ + sizeof(Node) + key.size() + 1);
  }
  if (block == nullptr) return nullptr;
  std::memset(block, 0, recordBytes_);
  Node* node = new (static_cast<char*>(block) + recordBytes_)
      Node{nullptr, value, hash, static_cast<uint32_t>(key.size())};
  if (!key.empty()) std::memcpy(node->key(), key.data(), key.size());
  node->key()[key.size()] = '\0';
  *link = node;
  ++count_;
  // Growing relinks the nodes into new buckets; the nodes themselves stay where they are.
  growIfFull();
  return node;
}

const char* HashMap::storeKey(std::string_view key, bool& added) {
  added = false;
  const uint32_t hash = HashOf(key);
  Node** link = find(key, hash);
  if (link == nullptr) return nullptr;
  if (*link != nullptr) return (*link)->key();
  Node* node = insert(link, key, hash, nullptr);
  added = node != nullptr;
  return node == nullptr ? nullptr : node->key();
}

void HashMap::freeNode(Node* node) {
  node->~Node();
  FreeBytes(reinterpret_cast<char*>(node) - recordBytes_);
}

void* HashMap::recordOf(const char* storedKey) const {
  if (storedKey == nullptr || recordBytes_ == 0) return nullptr;
  const char* node = storedKey - sizeof(Node);
  return const_cast<char*>(node - recordBytes_);
}

void* HashMap::record(std::string_view key) const {
  Node** link = find(key, HashOf(key));
  return link == nullptr || *link == nullptr ? nullptr : recordOf((*link)->key());
}

bool HashMap::add(const char* key) {
  if (key == nullptr) return false;
  return add(KeyView(key));
}

bool HashMap::add(std::string_view key) {
  QuillonObject* marker = new (std::nothrow) QuillonObject();
  if (marker == nullptr) return false;
  return put(key, marker);
}

bool HashMap::remove(const char* key) { return key != nullptr && remove(KeyView(key)); }

bool HashMap::remove(std::string_view key) {
  Node** link = find(key, HashOf(key));
  if (link == nullptr || *link == nullptr) return false;
  Node* node = *link;
  *link = node->next;
  delete node->value;
  freeNode(node);
  --count_;
  return true;
}

}  // namespace quillon
