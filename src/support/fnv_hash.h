#pragma once
// FNV-1a, 64 bits: the one content hash of the program. Stable across runs,
// builds and machines, so its values may be stored (generated names, the
// manifests' checksums, the page record's input digests).

#include <cstddef>
#include <cstdint>
#include <string_view>

class TFnvHash {
 public:
  static constexpr uint64_t kOffset = 0xcbf29ce484222325ull;
  static constexpr uint64_t kPrime = 0x100000001b3ull;

  // A hash that goes on from `state` (an earlier Value()).
  explicit TFnvHash(uint64_t state = kOffset) : value_(state) {}

  void Add(const void* data, size_t size) {
    const unsigned char* p = static_cast<const unsigned char*>(data);
    uint64_t h = value_;
    for (size_t i = 0; i < size; ++i) {
      h ^= p[i];
      h *= kPrime;
    }
    value_ = h;
  }
  // The bytes of `text` after its length, so that two texts added one after
  // the other never read as another pair.
  void AddText(std::string_view text) {
    AddNumber(text.size());
    Add(text.data(), text.size());
  }
  // The eight bytes of `number`, low byte first.
  void AddNumber(uint64_t number) {
    unsigned char bytes[8];
    for (int i = 0; i < 8; ++i) bytes[i] = static_cast<unsigned char>(number >> (8 * i));
    Add(bytes, sizeof bytes);
  }
  uint64_t Value() const { return value_; }

 private:
  uint64_t value_;
};

inline uint64_t Fnv1a64(const void* data, size_t size) {
  TFnvHash hash;
  hash.Add(data, size);
  return hash.Value();
}
