#include "support/strman.h"

#include <atomic>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "support/hash.h"

// Checked in every build: a broken contract or a failed allocation must never
// be written through.
// The text is the expression as the table's contract states it.
#define STRMAN_ASSERT(expr, text) \
  ((expr) ? static_cast<void>(0) : StrmanAssertFailed(text, __LINE__))

namespace {

[[noreturn]] void StrmanAssertFailed(const char* expression, int line) {
  std::fprintf(stderr, "Assertion failed: %s, file strman, line %d\n", expression, line);
  std::fflush(stderr);
  std::abort();
}

std::atomic<int64_t> g_entries_allocated{0};
std::atomic<int64_t> g_entries_released{0};

// Slots are padded so that the pointers inside every entry stay aligned.
size_t PaddedEntrySize(size_t entry_size) {
  constexpr size_t kAlign = alignof(TStrEntry) > 4 ? alignof(TStrEntry) : 4;
  return (entry_size + kAlign - 1) / kAlign * kAlign;
}

#define MALLOC(n) std::malloc(n)

}  // namespace

int64_t StrEntriesAllocated() { return g_entries_allocated.load(std::memory_order_relaxed); }
int64_t StrEntriesReleased() { return g_entries_released.load(std::memory_order_relaxed); }

// ---- free list --------------------------------------------------------------

// Each heap block starts with this header, followed by its entry slots.
struct TStringFreeList::TBlock {
  TBlock* next;
};

namespace {
constexpr size_t kBlockHeaderBytes = alignof(std::max_align_t);
static_assert(kBlockHeaderBytes >= sizeof(void*));
}  // namespace

TStringFreeList::~TStringFreeList() {
  while (blocks_ != nullptr) {
    TBlock* next = blocks_->next;
    std::free(blocks_);
    blocks_ = next;
  }
}

TStrEntry* TStringFreeList::Take(size_t entrysize, size_t alloc_quantum) {
  if (EntrySize_ == 0) EntrySize_ = entrysize;
  STRMAN_ASSERT(EntrySize_ == entrysize, "EntrySize==entrysize");
  if (first_free_ == nullptr) {
    const size_t pad4size = PaddedEntrySize(EntrySize_);
    TBlock* block;
    STRMAN_ASSERT((block = static_cast<TBlock*>(
                       MALLOC(kBlockHeaderBytes + pad4size * alloc_quantum))) != NULL,
                  "(block = (TStrEntry *) MALLOC(pad4size*AllocQuantum))!=NULL");
    block->next = blocks_;
    blocks_ = block;
    // Pushed in address order, so the last slot is taken first.
    for (size_t i = 0; i < alloc_quantum; ++i) {
      auto* slot = reinterpret_cast<TStrEntry*>(reinterpret_cast<unsigned char*>(block) +
                                                kBlockHeaderBytes + i * pad4size);
      slot->chain = first_free_;
      first_free_ = slot;
    }
  }
  TStrEntry* entry = first_free_;
  first_free_ = entry->chain;
  std::memset(static_cast<void*>(entry), 0, EntrySize_);
  return entry;
}

void TStringFreeList::Give(TStrEntry* entry) {
  entry->chain = first_free_;
  first_free_ = entry;
}

// ---- table ------------------------------------------------------------------

TStringManager::TStringManager(size_t entry_size, int bits, uint32_t flags,
                               TStringFreeList* free_list) {
  STRMAN_ASSERT(entry_size > 0, "entry_size>0");
  STRMAN_ASSERT(entry_size >= sizeof(TStrEntry), "entry_size>=sizeof(TStrEntry)");
  STRMAN_ASSERT(bits > 0, "bits>0");
  STRMAN_ASSERT(bits <= 24, "bits<=24");
  bits_ = bits;
  bucket_count_ = size_t{1} << bits;
  mask_ = static_cast<uint32_t>(bucket_count_ - 1);
  H_Bytes_ = bucket_count_ * sizeof(TStrEntry*);
  EntrySize_ = entry_size;
  AllocQuantum_ = bucket_count_ / 4;
  if (AllocQuantum_ < 1) AllocQuantum_ = 1;
  if (AllocQuantum_ > 32) AllocQuantum_ = 32;
  flags_ = flags;
  if (free_list == nullptr) {
    free_list = new (std::nothrow) TStringFreeList();
    owns_free_list_ = true;
  }
  FreeList_ = free_list;
  STRMAN_ASSERT(FreeList_ != NULL, "FreeList!=NULL");
  STRMAN_ASSERT((Table_ = (TStrEntry**)MALLOC(H_Bytes_)) != NULL,
                "(Table = (TStrEntry **) MALLOC(H_Bytes))!=NULL");
  for (size_t i = 0; i < bucket_count_; ++i) {
    Table_[i] = TakeEntry();  // zeroed: null name, null chain
  }
}

TStringManager::~TStringManager() {
  Clear();
  for (size_t i = 0; i < bucket_count_; ++i) ReleaseEntry(Table_[i], false);
  std::free(Table_);
  Table_ = nullptr;
  if (owns_free_list_) delete FreeList_;
  FreeList_ = nullptr;
}

TStrEntry* TStringManager::TakeEntry() {
  TStrEntry* result;
  if ((flags_ & kStrEntriesFromHeap) != 0) {
    STRMAN_ASSERT((result = (TStrEntry*)MALLOC(EntrySize_)) != NULL,
                  "(result = (TStrEntry *) MALLOC(EntrySize))!=NULL");
    std::memset(static_cast<void*>(result), 0, EntrySize_);
  } else {
    result = FreeList_->Take(EntrySize_, AllocQuantum_);
  }
  g_entries_allocated.fetch_add(1, std::memory_order_relaxed);
  return result;
}

void TStringManager::ReleaseEntry(TStrEntry* entry, bool free_name) {
  if (free_name && entry->name != nullptr) {
    std::free(const_cast<char*>(entry->name));
    entry->name = nullptr;
  }
  g_entries_released.fetch_add(1, std::memory_order_relaxed);
  if ((flags_ & kStrEntriesFromHeap) != 0) {
    std::free(entry);
  } else {
    FreeList_->Give(entry);
  }
}

void TStringManager::Invalidate() {
  walk_head_ = nullptr;
  walk_valid_ = false;
  sorted_ = false;
}

TStrEntry* TStringManager::Find(const char* name, TStrEntry** head) {
  STRMAN_ASSERT(name, "name");
  TStrEntry* bucket = Table_[HashString(name, 0) & mask_];
  if (head != nullptr) *head = bucket;
  TStrEntry* found = nullptr;
  for (TStrEntry* e = bucket; e != nullptr; e = e->chain) {
    if (e->name != nullptr && std::strcmp(e->name, name) == 0) {
      found = e;
      ++found->count;
      break;
    }
  }
  return found;
}

TStrEntry* TStringManager::FindOrAdd(const char* name) {
  if (name == nullptr) return nullptr;
  TStrEntry* head = nullptr;
  if (TStrEntry* existing = Find(name, &head)) return existing;
  const char* stored = name;
  if (pool_ != nullptr) stored = pool_->FindOrAdd(name)->name;
  const size_t length = std::strlen(stored);
  if ((flags_ & kStrNamesNotOwned) == 0) {
    char* copy;
    STRMAN_ASSERT((copy = (char*)MALLOC(length + 1)) != NULL, "(copy = MALLOC(length+1))!=NULL");
    std::memcpy(copy, stored, length + 1);
    stored = copy;
  }
  TStrEntry* entry = TakeEntry();
  total_name_length_ += length;
  entry->name = stored;
  entry->count = 1;
  entry->tag = tag_;
  entry->owner = this;
  entry->walk = nullptr;
  entry->chain = head->chain;
  head->chain = entry;
  ++TotalEntries_;
  Invalidate();
  return entry;
}

TStrEntry* TStringManager::Walk() {
  if (!walk_valid_) {
    TStrEntry* first = nullptr;
    TStrEntry* last = nullptr;
    int32_t total = 0;
    int32_t longest = 0;
    uint64_t inspections = 0;
    for (size_t i = 0; i < bucket_count_; ++i) {
      int32_t length = 0;
      for (TStrEntry* e = Table_[i]->chain; e != nullptr; e = e->chain) {
        ++length;
        inspections += static_cast<uint64_t>(length);
        e->walk = nullptr;
        if (last != nullptr) {
          last->walk = e;
        } else {
          first = e;
        }
        last = e;
      }
      total += length;
      if (length > longest) longest = length;
    }
    TotalEntries_ = total;
    longest_chain_ = longest;
    mean_search_length_ = total > 0 ? static_cast<int32_t>(inspections / static_cast<uint64_t>(total)) : 0;
    walk_head_ = first;
    walk_valid_ = true;
    sorted_ = false;
  }
  TStrEntry* head = walk_head_;
  return head;
}

bool TStringManager::ByteOrderBefore(const TStrEntry* a, const TStrEntry* b, intptr_t) {
  // strcmp compares as unsigned char.
  return std::strcmp(a->name, b->name) < 0;
}

// Hoare partition around the middle entry. Bounds guards keep a relation that
// breaks its contract from walking off the array; for a sound relation they
// never trigger. The larger part is handled by the loop, so the depth of the
// recursion stays logarithmic; the parts are disjoint, so the order in which
// they are sorted does not change the result.
void TStringManager::SortRange(int32_t lo, int32_t hi) {
  while (lo < hi) {
    TStrEntry* pivot = SortIdx_[lo + (hi - lo) / 2];
    int32_t i = lo;
    int32_t j = hi;
    do {
      while (i < hi && relation_(SortIdx_[i], pivot, user_data_)) ++i;
      while (j > lo && relation_(pivot, SortIdx_[j], user_data_)) --j;
      if (j >= i) {
        TStrEntry* swap = SortIdx_[i];
        SortIdx_[i] = SortIdx_[j];
        SortIdx_[j] = swap;
        ++i;
        --j;
      }
    } while (j >= i);
    if (j - lo < hi - i) {
      if (lo < j) SortRange(lo, j);
      lo = i;
    } else {
      if (i < hi) SortRange(i, hi);
      hi = j;
    }
  }
}

TStrEntry* TStringManager::SortedWalk(intptr_t user_data, TStrRelation relation) {
  TStrEntry* head = Walk();
  if (head == nullptr) return nullptr;
  STRMAN_ASSERT((SortIdx_ = (TStrEntry**)MALLOC(static_cast<size_t>(TotalEntries_) * sizeof(TStrEntry*))) != NULL,
                "(SortIdx = (TStrEntry **) MALLOC(TotalEntries*sizeof(TStrEntry*)))!=NULL");
  int32_t n = 0;
  for (TStrEntry* e = head; e != nullptr && n < TotalEntries_; e = e->walk) SortIdx_[n++] = e;
  user_data_ = user_data;
  relation_ = relation != nullptr ? relation : &TStringManager::ByteOrderBefore;
  SortRange(0, n - 1);
  for (int32_t k = 0; k + 1 < n; ++k) SortIdx_[k]->walk = SortIdx_[k + 1];
  SortIdx_[n - 1]->walk = nullptr;
  walk_head_ = SortIdx_[0];
  walk_valid_ = true;
  sorted_ = true;
  std::free(SortIdx_);
  SortIdx_ = nullptr;
  head = walk_head_;
  return head;
}

void TStringManager::Clear() {
  const bool free_names = (flags_ & kStrNamesNotOwned) == 0;
  for (size_t i = 0; i < bucket_count_; ++i) {
    TStrEntry* e = Table_[i]->chain;
    Table_[i]->chain = nullptr;
    while (e != nullptr) {
      TStrEntry* next = e->chain;
      ReleaseEntry(e, free_names);
      e = next;
    }
  }
  TotalEntries_ = 0;
  Invalidate();
}
