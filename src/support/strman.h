#pragma once
// The hashed string table: a set of names, each with a 32-bit payload, walked
// in table order or sorted by a caller's before-relation. Entries come from a
// free list that takes them from the heap in blocks.
//
// Broken contracts and allocation failures stop the program with
// "Assertion failed: EXPR, file strman, line N" (checked in every build).

#include <cstddef>
#include <cstdint>

class TStringManager;

struct TStrEntry {
  const char* name;        // null only in a bucket's head entry
  int32_t count;           // payload: 1 when added, +1 per successful Find
  int32_t tag;             // the table's tag when the entry was added
  TStrEntry* chain;        // next entry of the bucket; next free entry while free
  TStrEntry* walk;         // next entry of the current walk
  TStringManager* owner;   // the table that added the entry
};

// Before-relation of a sorted walk: true when a must stand before b; false
// for an entry and itself.
using TStrRelation = bool (*)(const TStrEntry* a, const TStrEntry* b, intptr_t user_data);

// Table flags.
inline constexpr uint32_t kStrNamesNotOwned = 8;      // names stored as passed, never copied or freed
inline constexpr uint32_t kStrEntriesFromHeap = 16;   // entries allocated one by one

// Entries of one size, handed out from heap blocks and taken back for reuse.
// Blocks stay with the list until the list itself is destroyed.
class TStringFreeList {
 public:
  TStringFreeList() = default;
  ~TStringFreeList();  // releases every block
  TStringFreeList(const TStringFreeList&) = delete;
  TStringFreeList& operator=(const TStringFreeList&) = delete;

  // A zeroed entry of `entry_size` bytes; a new block of `alloc_quantum`
  // entries is taken from the heap when the list is empty.
  TStrEntry* Take(size_t entry_size, size_t alloc_quantum);
  void Give(TStrEntry* entry);

  size_t EntrySize() const { return EntrySize_; }

 private:
  struct TBlock;
  TStrEntry* first_free_ = nullptr;
  size_t EntrySize_ = 0;  // 0 until the first Take
  TBlock* blocks_ = nullptr;
};

class TStringManager {
 public:
  // `entry_size` at least sizeof(TStrEntry); 2^bits buckets (1 <= bits <= 24);
  // `free_list` may be shared by tables of the same entry size; when none is
  // given the table makes its own and releases it with itself.
  TStringManager(size_t entry_size, int bits, uint32_t flags, TStringFreeList* free_list);
  ~TStringManager();
  TStringManager(const TStringManager&) = delete;
  TStringManager& operator=(const TStringManager&) = delete;

  // Each table belongs to one thread: no locking.
  void Invalidate();
  void ReleaseEntry(TStrEntry* entry, bool free_name);

  // The entry named exactly `name` (case matters), its count raised by 1, or
  // null. `head`, when given, receives the head entry of the name's bucket.
  TStrEntry* Find(const char* name, TStrEntry** head = nullptr);
  // Null for a null name; else the existing entry (count raised) or a new one with count 1.
  TStrEntry* FindOrAdd(const char* name);
  // First entry of the walk (table order unless a sorted walk is still valid).
  TStrEntry* Walk();
  // Sorts the walk by `relation` (plain byte order of the names when null).
  TStrEntry* SortedWalk(intptr_t user_data, TStrRelation relation);
  void Clear();

  // Default relation: a's name before b's in unsigned byte order.
  static bool ByteOrderBefore(const TStrEntry* a, const TStrEntry* b, intptr_t user_data);

  int bits() const { return bits_; }
  uint32_t mask() const { return mask_; }
  size_t bucket_count() const { return bucket_count_; }
  size_t H_Bytes() const { return H_Bytes_; }
  size_t EntrySize() const { return EntrySize_; }
  size_t AllocQuantum() const { return AllocQuantum_; }
  uint32_t flags() const { return flags_; }
  int32_t tag() const { return tag_; }
  void set_tag(int32_t tag) { tag_ = tag; }
  int32_t longest_chain() const { return longest_chain_; }
  int32_t mean_search_length() const { return mean_search_length_; }
  int32_t TotalEntries() const { return TotalEntries_; }
  bool walk_valid() const { return walk_valid_; }
  bool sorted() const { return sorted_; }
  uint64_t total_name_length() const { return total_name_length_; }
  intptr_t user_data() const { return user_data_; }
  TStringManager* pool() const { return pool_; }
  void set_pool(TStringManager* pool) { pool_ = pool; }
  TStringFreeList* FreeList() const { return FreeList_; }

 private:
  TStrEntry* TakeEntry();
  void SortRange(int32_t lo, int32_t hi);

  int bits_ = 0;
  uint32_t mask_ = 0;
  size_t bucket_count_ = 0;
  size_t H_Bytes_ = 0;
  size_t EntrySize_ = 0;
  size_t AllocQuantum_ = 0;
  uint32_t flags_ = 0;
  int32_t tag_ = 0;
  int32_t longest_chain_ = 0;
  int32_t mean_search_length_ = 0;
  int32_t TotalEntries_ = 0;
  bool walk_valid_ = false;
  bool sorted_ = false;
  uint64_t total_name_length_ = 0;
  intptr_t user_data_ = 0;
  TStrRelation relation_ = nullptr;
  TStringManager* pool_ = nullptr;
  TStringFreeList* FreeList_ = nullptr;
  bool owns_free_list_ = false;
  TStrEntry** SortIdx_ = nullptr;
  TStrEntry** Table_ = nullptr;
  TStrEntry* walk_head_ = nullptr;
};

// Process-wide diagnostics: entries taken from and given back to allocators.
int64_t StrEntriesAllocated();
int64_t StrEntriesReleased();
