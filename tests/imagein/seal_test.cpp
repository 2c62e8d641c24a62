// The sealed-file cipher and header recognition, and the buffered source
// reader that deciphers sealed files for the format readers.

#include "imagein/seal.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "fixtures/seal_writer.h"
#include "imagein/image_source.h"
#include "imagein/load_codes.h"
#include "raster/jpeg_error.h"
#include "support/hash.h"

namespace {

std::vector<uint8_t> Pattern(size_t size, uint32_t seed = 1) {
  std::vector<uint8_t> bytes(size);
  uint32_t x = seed;
  for (auto& b : bytes) {
    x = x * 1103515245u + 12345u;
    b = static_cast<uint8_t>(x >> 16);
  }
  return bytes;
}

std::vector<uint8_t> Deciphered(std::vector<uint8_t> bytes, TSealCipher& cipher) {
  SealDecode(&cipher, bytes.data(), static_cast<int32_t>(bytes.size()));
  return bytes;
}

// The key stream written out from the rule: pairs of bytes from the hash table
// entry of each key byte rotated left by 0..6 bits, the rotation advancing at
// every wrap of the key.
std::vector<uint8_t> ExpectedKeyStream(const std::string& key) {
  std::vector<uint8_t> stream;
  size_t p = 0;
  int r = 0;
  while (stream.size() < 256) {
    const uint8_t b = static_cast<uint8_t>(key[p]);
    const uint8_t v = static_cast<uint8_t>(((b << r) & 0xFF) | (b >> (8 - r)));
    const uint32_t entry = HashTableEntry(v);
    stream.push_back(static_cast<uint8_t>(entry));
    stream.push_back(static_cast<uint8_t>(entry >> 8));
    if (++p == key.size()) {
      p = 0;
      r = r == 6 ? 0 : r + 1;
    }
  }
  return stream;
}

std::vector<uint8_t> KeyStreamOf(const char* key) {
  TSealCipher cipher;
  SealCipherInit(&cipher, key);
  return Deciphered(std::vector<uint8_t>(256, 0), cipher);
}

TEST(SealCipher, KeySumIsTheByteSumModulo256) {
  EXPECT_EQ(KeySum(""), 0);
  EXPECT_EQ(KeySum("A"), 65);
  EXPECT_EQ(KeySum("ab"), 195);
  EXPECT_EQ(KeySum("ab\xff\x01"), 195);  // 451 - 256
  EXPECT_EQ(KeySum("\x80\x80"), 0);
}

TEST(SealCipher, KeyStreamFollowsTheRotationRule) {
  for (const char* key : {"A", "Zq", "secret", "\xff\x80\x01"}) {
    SCOPED_TRACE(key);
    EXPECT_EQ(KeyStreamOf(key), ExpectedKeyStream(key));
  }
}

TEST(SealCipher, OneCharacterKeyRotatesThroughSevenSteps) {
  const std::vector<uint8_t> stream = KeyStreamOf("A");
  // 'A' = 0x41 rotated by 0..6 bits: 0x41, 0x82, 0x05, 0x0A, 0x14, 0x28, 0x50.
  const uint8_t rotated[7] = {0x41, 0x82, 0x05, 0x0A, 0x14, 0x28, 0x50};
  for (int step = 0; step < 128; ++step) {
    const uint32_t entry = HashTableEntry(rotated[step % 7]);
    ASSERT_EQ(stream[2 * step], static_cast<uint8_t>(entry)) << step;
    ASSERT_EQ(stream[2 * step + 1], static_cast<uint8_t>(entry >> 8)) << step;
  }
}

TEST(SealCipher, KeyStreamStartsAgainAfter256Bytes) {
  TSealCipher cipher;
  SealCipherInit(&cipher, "wrap");
  const std::vector<uint8_t> stream = Deciphered(std::vector<uint8_t>(600, 0), cipher);
  for (size_t i = 256; i < stream.size(); ++i) ASSERT_EQ(stream[i], stream[i - 256]) << i;
}

TEST(SealCipher, SplittingTheBytesDoesNotChangeTheResult) {
  const std::vector<uint8_t> plain = Pattern(20000);
  TSealCipher whole;
  SealCipherInit(&whole, "split key");
  const std::vector<uint8_t> expected = Deciphered(plain, whole);
  for (size_t piece : {size_t{1}, size_t{7}, size_t{255}, size_t{256}, size_t{4096}, size_t{16384}}) {
    TSealCipher cipher;
    SealCipherInit(&cipher, "split key");
    std::vector<uint8_t> bytes = plain;
    for (size_t at = 0; at < bytes.size(); at += piece) {
      const size_t n = std::min(piece, bytes.size() - at);
      SealDecode(&cipher, bytes.data() + at, static_cast<int32_t>(n));
    }
    EXPECT_EQ(bytes, expected) << "pieces of " << piece;
  }
}

TEST(SealCipher, EncipheringTwiceGivesThePlainBytes) {
  const std::vector<uint8_t> plain = Pattern(1000);
  std::vector<uint8_t> bytes = plain;
  SealDecodeBlock(bytes.data(), static_cast<int32_t>(bytes.size()), "k");
  EXPECT_NE(bytes, plain);
  SealDecodeBlock(bytes.data(), static_cast<int32_t>(bytes.size()), "k");
  EXPECT_EQ(bytes, plain);
}

int32_t Detect(const std::vector<uint8_t>& bytes, const char* key, TSealCipher* cipher = nullptr) {
  TSealCipher local;
  return SealDetect(cipher != nullptr ? cipher : &local, key, bytes.data(),
                    static_cast<int32_t>(bytes.size()));
}

std::vector<uint8_t> Prefix(const std::vector<uint8_t>& bytes, size_t n) {
  return std::vector<uint8_t>(bytes.begin(), bytes.begin() + static_cast<long>(n));
}

TEST(SealDetect, KeyTextHeader) {
  const std::vector<uint8_t> sealed = SealWithKeyText(Pattern(100), "key");
  struct Case {
    const char* what;
    std::vector<uint8_t> bytes;
    const char* key;
    int32_t expected;
  };
  const std::vector<Case> cases = {
      {"right key", sealed, "key", 40},
      {"no key", sealed, nullptr, kSealRejected},
      {"empty key counts as none", sealed, "", kSealRejected},
      {"wrong key", sealed, "kez", kSealRejected},
      {"other key with the same byte sum", sealed, "kye", 40},
      {"key sum 256 higher", SealWithKeyText(Pattern(10), "ab"), "ab\xff\x01", 40},
      {"7 bytes are plain data", Prefix(sealed, 7), "key", kSealNotSealed},
      {"8 bytes without a key", Prefix(sealed, 8), nullptr, kSealRejected},
      {"39 bytes with the right key are plain", Prefix(sealed, 39), "key", kSealNotSealed},
      {"exactly the header", Prefix(sealed, 40), "key", 40},
      {"no zero after the signature", [&] { auto b = sealed; b[6] = 1; return b; }(), "key",
       kSealNotSealed},
      {"other signature", std::vector<uint8_t>(64, 'Q'), "key", kSealNotSealed},
  };
  for (const Case& c : cases) EXPECT_EQ(Detect(c.bytes, c.key), c.expected) << c.what;
}

TEST(SealDetect, FileKeyHeader) {
  TFileKeySeal seal = FileKeySeal("file key");
  seal.block2 = Pattern(40, 7);
  seal.skipped = Pattern(12, 9);
  const std::vector<uint8_t> sealed = SealWithFileKey(Pattern(100), "given", seal);
  const int32_t header = 28 + 128 + 40 + 12;

  auto with = [&](auto change) {
    TFileKeySeal s = seal;
    change(s);
    return SealWithFileKey(Pattern(100), "given", s);
  };
  struct Case {
    const char* what;
    std::vector<uint8_t> bytes;
    const char* key;
    int32_t expected;
  };
  const std::vector<Case> cases = {
      {"right key", sealed, "given", header},
      {"no key", sealed, nullptr, kSealRejected},
      {"empty key", sealed, "", kSealRejected},
      {"wrong key", sealed, "givem", kSealRejected},
      {"short file without a key", Prefix(sealed, 9), nullptr, kSealRejected},
      {"27 bytes", Prefix(sealed, 27), "given", kSealNotSealed},
      {"block 1 past the bytes", Prefix(sealed, 28 + 127), "given", kSealNotSealed},
      {"L1 over 128", with([](TFileKeySeal& s) { s.l1 = 129; }), "given", kSealNotSealed},
      {"L2 over 256", with([](TFileKeySeal& s) { s.l2 = 257; }), "given", kSealNotSealed},
      {"block 2 past the bytes", Prefix(sealed, 28 + 128 + 39), "given", kSealNotSealed},
      {"skipped block past the bytes", Prefix(sealed, header - 1), "given", kSealNotSealed},
      {"header fills the bytes exactly", Prefix(sealed, header), "given", header},
      {"huge L3", with([](TFileKeySeal& s) { s.l3 = 0xFFFFFFF0u; }), "given", kSealNotSealed},
      {"huge L1", with([](TFileKeySeal& s) { s.l1 = 0xFFFFFFF0u; }), "given", kSealNotSealed},
  };
  for (const Case& c : cases) EXPECT_EQ(Detect(c.bytes, c.key), c.expected) << c.what;
}

TEST(SealDetect, FileKeyDecipheresTheData) {
  const std::vector<uint8_t> plain = Pattern(3000, 3);
  TFileKeySeal seal = FileKeySeal("the file key");
  seal.block2 = {1, 2, 3};
  const std::vector<uint8_t> sealed = SealWithFileKey(plain, "given", seal);
  TSealCipher cipher;
  const int32_t header = Detect(sealed, "given", &cipher);
  ASSERT_EQ(header, 28 + 128 + 3);
  EXPECT_STREQ(cipher.key_material, "the file key");
  std::vector<uint8_t> data(sealed.begin() + header, sealed.end());
  EXPECT_EQ(Deciphered(data, cipher), plain);
}

// A block 1 without a zero byte runs on into block 2; without a zero byte in
// either, the key is the whole 384 bytes of key material and nothing past it.
TEST(SealDetect, FileKeyWithoutZeroByteEndsAtTheKeyMaterial) {
  const std::vector<uint8_t> plain = Pattern(2000, 5);
  for (size_t block2_size : {size_t{0}, size_t{17}, size_t{256}}) {
    SCOPED_TRACE(block2_size);
    TFileKeySeal seal;
    seal.block1 = std::vector<uint8_t>(128, 'k');
    seal.block2 = std::vector<uint8_t>(block2_size, 'm');
    const std::vector<uint8_t> sealed = SealWithFileKey(plain, "given", seal);
    TSealCipher cipher;
    const int32_t header = Detect(sealed, "given", &cipher);
    ASSERT_EQ(header, static_cast<int32_t>(28 + 128 + block2_size));
    std::vector<uint8_t> data(sealed.begin() + header, sealed.end());
    EXPECT_EQ(Deciphered(data, cipher), plain);
  }
}

TEST(SealDetect, EmptyFileKeyIsRefused) {
  TFileKeySeal seal;  // block 1 all zero: the file key is empty
  const std::vector<uint8_t> sealed = SealWithFileKey(Pattern(50), "given", seal);
  EXPECT_EQ(Detect(sealed, "given"), kSealRejected);
}

// A small source over a temporary file, driven like a format reader drives it.
class SourceReaderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    context_.common.err = JpegErrorInit(&err_);
    ASSERT_TRUE(SourceInit(&source_));
  }
  void TearDown() override {
    SourceRelease(&source_);
    if (source_.reader.file != nullptr) std::fclose(source_.reader.file);
  }
  void Open(const std::vector<uint8_t>& bytes, const char* key = nullptr) {
    FILE* file = std::tmpfile();
    ASSERT_NE(file, nullptr);
    if (!bytes.empty()) {
      ASSERT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), file), bytes.size());
    }
    std::rewind(file);
    source_.reader.file = file;
    source_.reader.key = key;
  }
  std::vector<uint8_t> ReadAllBytewise() {
    std::vector<uint8_t> out;
    for (int c; (c = SourceReadByte(&context_, &source_)) >= 0;) out.push_back(static_cast<uint8_t>(c));
    return out;
  }

  TJpegErrorManager err_;
  TReaderContext context_;
  TImageSource source_;
};

TEST_F(SourceReaderTest, PlainFileReadsUnchangedAcrossBuffers) {
  const std::vector<uint8_t> plain = Pattern(3 * kSourceBufferSize + 17);
  Open(plain);
  std::vector<uint8_t> out(plain.size());
  ASSERT_TRUE(SourceReadBytes(&context_, &source_, out.data(), 5000));
  ASSERT_TRUE(SourceReadBytes(&context_, &source_, out.data() + 5000, static_cast<uint32_t>(plain.size() - 5000)));
  EXPECT_EQ(out, plain);
  EXPECT_EQ(source_.reader.was_sealed, 0);
  EXPECT_EQ(err_.pub.num_warnings, 0);
}

TEST_F(SourceReaderTest, SealedFileReadsAsThePlainBytes) {
  const std::vector<uint8_t> plain = Pattern(2 * kSourceBufferSize + 100, 11);
  Open(SealWithKeyText(plain, "key text"), "key text");
  EXPECT_EQ(ReadAllBytewise(), plain);
  EXPECT_EQ(source_.reader.was_sealed, 1);
}

TEST_F(SourceReaderTest, HeaderFillingTheWholeFirstBufferIsFollowedByData) {
  const std::vector<uint8_t> plain = Pattern(5000, 12);
  TFileKeySeal seal = FileKeySeal("fk");
  seal.skipped = std::vector<uint8_t>(kSourceBufferSize - 28 - 128, 0);  // header = 4096 bytes
  Open(SealWithFileKey(plain, "given", seal), "given");
  std::vector<uint8_t> out(plain.size());
  ASSERT_TRUE(SourceReadBytes(&context_, &source_, out.data(), static_cast<uint32_t>(out.size())));
  EXPECT_EQ(out, plain);
  EXPECT_EQ(source_.reader.was_sealed, 1);
}

TEST_F(SourceReaderTest, EmptyFileRaisesPrematureEndTwice) {
  Open({});
  EXPECT_EQ(SourceReadByte(&context_, &source_), -1);
  EXPECT_EQ(err_.pub.msg_code, kLoadPrematureEnd);
  EXPECT_EQ(err_.num_errors, 2);
}

TEST_F(SourceReaderTest, ReadingPastTheEndFails) {
  Open(Pattern(10));
  uint8_t out[11];
  EXPECT_FALSE(SourceReadBytes(&context_, &source_, out, 11));
  EXPECT_EQ(err_.pub.msg_code, kLoadPrematureEnd);
}

TEST_F(SourceReaderTest, SealedFileWithoutKeyIsRefusedAndStaysRefused) {
  Open(SealWithKeyText(Pattern(9000), "key"));
  uint8_t out[16];
  EXPECT_FALSE(SourceReadBytes(&context_, &source_, out, sizeof(out)));
  EXPECT_EQ(err_.pub.msg_code, kLoadSealRejected);
  // A reader that reads on gets no bytes past the refused header.
  EXPECT_EQ(SourceReadByte(&context_, &source_), -1);
  EXPECT_EQ(err_.pub.msg_code, kLoadSealRejected);
}

TEST_F(SourceReaderTest, ShortSealedFileWithoutKeyIsRefused) {
  std::vector<uint8_t> bytes = {'Q', 'Z', 'E', 'N', '1', '\n', 0, 0};
  Open(bytes);
  EXPECT_EQ(SourceReadByte(&context_, &source_), -1);
  EXPECT_EQ(err_.pub.msg_code, kLoadSealRejected);
}

TEST_F(SourceReaderTest, SevenByteFileIsPlain) {
  const std::vector<uint8_t> bytes = {'Q', 'Z', 'E', 'N', 'C', '\n', 0};
  Open(bytes);
  EXPECT_EQ(ReadAllBytewise(), bytes);
  EXPECT_EQ(source_.reader.was_sealed, 0);
}

}  // namespace
