// CArray and CMap: the growable array and the chained hash map used in place
// of the standard containers. Memory comes from the allocation library;
// failures are return codes, except an out-of-range index, which raises
// InvalidIndexException (-301). Neither container locks; owners do.
#ifndef TERVO_SRC_COMMON_ARRAY_H_
#define TERVO_SRC_COMMON_ARRAY_H_

#include <stdint.h>
#include <string.h>

#include <new>
#include <type_traits>
#include <utility>

#include "common/asalloc.h"
#include "common/bbobject.h"
#include "src/exceptions/asexception.h"

namespace ascommon {

// Status codes of the containers.
enum : int32_t {
  kArrayOk = 0,
  kArrayNoMemory = -2,
  kMapKeyNotFound = -450,
  kMapDuplicateKey = -451,
};

// A growable array with growth step N. Capacity grows in whole steps, and a
// request for room for n elements always allocates strictly more than n:
// ((n / N) + 1) * N. So an array keeps at least one free slot, and adding the
// N-th element already grows it.
template <class T, uint64_t N>
class CArray : public CBlackBoxObject {
  static_assert(N > 0, "the growth step must be positive");

 public:
  CArray() = default;
  CArray(const CArray&) = delete;
  CArray& operator=(const CArray&) = delete;
  ~CArray() override { Reset(); }

  // The element at `i`; raises InvalidIndexException (code -301, no log line)
  // when `i` is not below the count.
  T& operator[](uint64_t i) {
    if (i >= count_) throw InvalidIndexException();
    return data_[i];
  }
  const T& operator[](uint64_t i) const {
    if (i >= count_) throw InvalidIndexException();
    return data_[i];
  }

  // Appends a copy of `x`. Answers 0, or -2 (array unchanged) when the array
  // cannot grow.
  int32_t Add(const T& x) {
    if (count_ + 1 < capacity_) {
      new (data_ + count_) T(x);
      ++count_;
      return kArrayOk;
    }
    // A count at the top of its range cannot grow (and growing never frees).
    if (count_ == UINT64_MAX) return kArrayNoMemory;
    // `x` may live in the block about to be replaced.
    T copy(x);
    int32_t rc = SetSize(count_ + 1, false);
    if (rc != kArrayOk) return rc;
    new (data_ + count_) T(std::move(copy));
    ++count_;
    return kArrayOk;
  }

  // Reallocates for `n` elements by the capacity rule and keeps the first
  // min(n, count) elements; n = 0 frees everything. With `set_count` and n
  // above the count, the count becomes n; the new elements are
  // default-initialised (left as they are for plain types). Answers 0, or -2
  // with the array unchanged.
  int32_t SetSize(uint64_t n, bool set_count) {
    if (n == 0) {
      Reset();
      return kArrayOk;
    }
    const uint64_t capacity = (n / N + 1) * N;
    if (capacity > SIZE_MAX / sizeof(T)) return kArrayNoMemory;
    T* block = static_cast<T*>(as_new_nt_2_9(capacity * sizeof(T), &kNoThrow));
    if (block == nullptr) return kArrayNoMemory;
    const uint64_t kept = n < count_ ? n : count_;
    MoveInto(block, kept);
    DestroyRange(kept, count_);
    as_delete_nt_2_9(data_, &kNoThrow);
    data_ = block;
    capacity_ = capacity;
    count_ = kept;
    if (set_count && n > count_) {
      for (uint64_t i = count_; i < n; ++i) new (data_ + i) T;
      count_ = n;
    }
    return kArrayOk;
  }

  // Destroys every element but keeps the block for the next ones.
  void RemoveAll() {
    DestroyRange(0, count_);
    count_ = 0;
  }

  uint64_t GetCount() const { return count_; }
  uint64_t GetCapacity() const { return capacity_; }
  uint64_t GetStep() const { return step_; }
  T* GetData() { return data_; }
  const T* GetData() const { return data_; }

  T* begin() { return data_; }
  T* end() { return data_ + count_; }
  const T* begin() const { return data_; }
  const T* end() const { return data_ + count_; }

 private:
  void MoveInto(T* block, uint64_t n) {
    if (n == 0) return;
    if constexpr (std::is_trivially_copyable_v<T>) {
      memcpy(static_cast<void*>(block), data_, n * sizeof(T));
    } else {
      for (uint64_t i = 0; i < n; ++i) {
        new (block + i) T(std::move(data_[i]));
        data_[i].~T();
      }
    }
  }

  // Destroys the elements [from, to) that MoveInto did not move out.
  void DestroyRange(uint64_t from, uint64_t to) {
    if constexpr (!std::is_trivially_destructible_v<T>) {
      for (uint64_t i = from; i < to; ++i) data_[i].~T();
    }
  }

  void Reset() {
    DestroyRange(0, count_);
    as_delete_nt_2_9(data_, &kNoThrow);
    data_ = nullptr;
    count_ = 0;
    capacity_ = 0;
  }

  T* data_ = nullptr;
  uint64_t count_ = 0;
  uint64_t capacity_ = 0;
  uint64_t step_ = N;
};

// The default hashes of CMap.
// 64-bit keys: djb2-xor over the key's 8 bytes in memory order, each taken as
// a signed byte.
inline uint32_t HashKey(const uint64_t& key) {
  const signed char* bytes = reinterpret_cast<const signed char*>(&key);
  uint32_t h = 5381;
  for (int i = 0; i < 8; ++i) h = (h * 33) ^ static_cast<uint32_t>(bytes[i]);
  return h;
}

// 32-bit keys: an integer mix of shifts and multiplications.
inline uint32_t HashKey(const uint32_t& key) {
  uint32_t k = key;
  k *= 0x1001;
  k ^= k >> 22;
  k *= 0x11;
  k ^= k >> 9;
  k *= 0x401;
  k ^= k >> 2;
  k *= 0x81;
  k ^= k >> 12;
  return k;
}

// Keys of other types bring their own HashKey overload, found by argument-
// dependent lookup (sstring's is in its header).

// A hash table of singly linked chains, keyed by K. 32 buckets unless the
// constructor says otherwise; the bucket of a key is its hash modulo the
// bucket count. With the sorted flag each chain is kept in ascending key
// order (K needs operator<). The map owns its nodes, keys and values; a
// pointer stored as a value is not freed.
template <class K, class V>
class CMap : public CBlackBoxObject {
 public:
  // One entry of a chain.
  struct Node {
    K key;
    V value;
    Node* next;
  };

  typedef uint32_t (*HashFunction)(const K& key);

  // Allocates both chain arrays with the throwing allocation: std::bad_alloc
  // passes on when either cannot be had. A null `hash` selects HashKey.
  explicit CMap(HashFunction hash = nullptr) : CMap(32, hash) {}
  CMap(uint32_t buckets, HashFunction hash) : buckets_(buckets), hash_(hash) {
    heads_ = static_cast<Node**>(as_new_2_9(buckets_ * sizeof(Node*)));
    try {
      tails_ = static_cast<Node**>(as_new_2_9(buckets_ * sizeof(Node*)));
    } catch (...) {
      as_delete_2_9(heads_);
      throw;
    }
    memset(heads_, 0, buckets_ * sizeof(Node*));
    memset(tails_, 0, buckets_ * sizeof(Node*));
  }
  CMap(const CMap&) = delete;
  CMap& operator=(const CMap&) = delete;
  ~CMap() override { Clear(); }

  // Keeps each chain in ascending key order from now on (set it while the map
  // is empty).
  void SetSorted(bool sorted) { sorted_ = sorted; }
  bool IsSorted() const { return sorted_; }

  // Stores a copy of (key, value). Answers 0; -451 when the key is present
  // (nothing changes); -2 when a node cannot be allocated or the chain arrays
  // are gone (after Clear).
  int32_t Insert(const K& key, const V& value) {
    if (heads_ == nullptr) return kArrayNoMemory;
    const uint32_t b = Bucket(key);
    Node* before = nullptr;
    for (Node* n = heads_[b]; n != nullptr; n = n->next) {
      if (n->key == key) return kMapDuplicateKey;
      if (sorted_ && !(n->key < key)) break;
      before = n;
    }
    void* memory = as_new_nt_2_9(sizeof(Node), &kNoThrow);
    if (memory == nullptr) return kArrayNoMemory;
    Node* node = new (memory) Node{key, value, nullptr};
    Link(b, before, node);
    ++entries_;
    return kArrayOk;
  }

  // The stored value of `key`, or null. The pointer stays valid until the
  // entry is removed or the map cleared.
  V* Lookup(const K& key) {
    if (heads_ == nullptr) return nullptr;
    for (Node* n = heads_[Bucket(key)]; n != nullptr; n = n->next) {
      if (n->key == key) return &n->value;
    }
    return nullptr;
  }
  const V* Lookup(const K& key) const { return const_cast<CMap*>(this)->Lookup(key); }

  // As Lookup(key), with `hash` what the map's hash function answers for
  // `key`, computed once by a caller that looks one key up in several maps.
  V* Lookup(const K& key, uint32_t hash) {
    if (heads_ == nullptr) return nullptr;
    for (Node* n = heads_[hash % buckets_]; n != nullptr; n = n->next) {
      if (n->key == key) return &n->value;
    }
    return nullptr;
  }

  // Unlinks and frees the entry of `key`. Answers 0, -450 when absent, -2 when
  // the chain arrays are gone.
  int32_t Remove(const K& key) {
    if (heads_ == nullptr) return kArrayNoMemory;
    const uint32_t b = Bucket(key);
    Node* before = nullptr;
    for (Node* n = heads_[b]; n != nullptr; before = n, n = n->next) {
      if (!(n->key == key)) continue;
      (before == nullptr ? heads_[b] : before->next) = n->next;
      if (tails_[b] == n) tails_[b] = before;
      DestroyNode(n);
      --entries_;
      return kArrayOk;
    }
    return kMapKeyNotFound;
  }

  // Moves every entry into `buckets` new chains (0 does nothing). Answers 0,
  // or -2 with the map unchanged.
  int32_t ReHash(uint32_t buckets) {
    if (buckets == 0) return kArrayOk;
    Node** heads = static_cast<Node**>(as_new_nt_2_9(buckets * sizeof(Node*), &kNoThrow));
    Node** tails = static_cast<Node**>(as_new_nt_2_9(buckets * sizeof(Node*), &kNoThrow));
    if (heads == nullptr || tails == nullptr) {
      as_delete_nt_2_9(heads, &kNoThrow);
      as_delete_nt_2_9(tails, &kNoThrow);
      return kArrayNoMemory;
    }
    memset(heads, 0, buckets * sizeof(Node*));
    memset(tails, 0, buckets * sizeof(Node*));
    Node** old_heads = heads_;
    Node** old_tails = tails_;
    const uint32_t old_buckets = old_heads == nullptr ? 0 : buckets_;
    heads_ = heads;
    tails_ = tails;
    buckets_ = buckets;
    for (uint32_t b = 0; b < old_buckets; ++b) {
      Node* n = old_heads[b];
      while (n != nullptr) {
        Node* next = n->next;
        n->next = nullptr;
        Place(n);
        n = next;
      }
    }
    as_delete_2_9(old_heads);
    as_delete_2_9(old_tails);
    return kArrayOk;
  }

  // Frees every entry and both chain arrays; the map then refuses inserts
  // (-2) until ReHash gives it chains again.
  void Clear() {
    RemoveAll();
    as_delete_2_9(heads_);
    as_delete_2_9(tails_);
    heads_ = nullptr;
    tails_ = nullptr;
    entries_ = 0;
  }

  // Frees every entry but keeps both chain arrays, emptied, with their bucket
  // count; the map takes inserts again at once.
  void RemoveAll() {
    if (heads_ != nullptr) {
      for (uint32_t b = 0; b < buckets_; ++b) {
        Node* n = heads_[b];
        while (n != nullptr) {
          Node* next = n->next;
          DestroyNode(n);
          n = next;
        }
      }
      memset(heads_, 0, buckets_ * sizeof(Node*));
      memset(tails_, 0, buckets_ * sizeof(Node*));
    }
    entries_ = 0;
  }

  uint32_t GetCount() const { return entries_; }
  uint32_t GetBucketCount() const { return buckets_; }

  // Walks the entries from bucket 0 upwards, each chain from head to tail.
  class Iterator {
   public:
    Node& operator*() const { return *node_; }
    Node* operator->() const { return node_; }
    Iterator& operator++() {
      node_ = node_->next;
      Settle();
      return *this;
    }
    bool operator==(const Iterator& other) const { return node_ == other.node_; }

   private:
    friend class CMap;
    Iterator(CMap* map, uint32_t bucket, Node* node) : map_(map), bucket_(bucket), node_(node) {}
    // Moves past empty chains to the next entry, or to the end.
    void Settle() {
      while (node_ == nullptr && map_->heads_ != nullptr && ++bucket_ < map_->buckets_) {
        node_ = map_->heads_[bucket_];
      }
    }
    CMap* map_;
    uint32_t bucket_;
    Node* node_;
  };

  Iterator begin() {
    Iterator it(this, 0, heads_ == nullptr ? nullptr : heads_[0]);
    it.Settle();
    return it;
  }
  Iterator end() { return Iterator(this, buckets_, nullptr); }

 private:
  uint32_t Bucket(const K& key) const {
    return (hash_ != nullptr ? hash_(key) : HashKey(key)) % buckets_;
  }

  // Links `node` after `before` (or as the head) in bucket `b`.
  void Link(uint32_t b, Node* before, Node* node) {
    Node*& slot = before == nullptr ? heads_[b] : before->next;
    node->next = slot;
    slot = node;
    if (node->next == nullptr) tails_[b] = node;
  }

  // Puts an unlinked node into its bucket: at the tail, or in key order.
  void Place(Node* node) {
    const uint32_t b = Bucket(node->key);
    if (!sorted_) {
      Link(b, tails_[b], node);
      return;
    }
    Node* before = nullptr;
    for (Node* n = heads_[b]; n != nullptr && n->key < node->key; n = n->next) before = n;
    Link(b, before, node);
  }

  static void DestroyNode(Node* n) {
    n->~Node();
    as_delete_nt_2_9(n, &kNoThrow);
  }

  uint32_t buckets_;
  uint32_t entries_ = 0;
  Node** heads_ = nullptr;
  Node** tails_ = nullptr;
  bool sorted_ = false;
  HashFunction hash_;
};

}  // namespace ascommon

#endif  // TERVO_SRC_COMMON_ARRAY_H_
