// The memo file: its layout, appending values, the block size limits, damaged pointers and
// lengths, and the character sets of the memo codecs.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "dbf_support.h"
#include "tables/fpt_file.h"

namespace qzbase {
namespace {

using namespace testing_dbf;
using testing_files::TempDir;

uint32_t be32(const std::string& bytes, size_t at) {
  return static_cast<uint32_t>(static_cast<unsigned char>(bytes[at])) << 24 |
         static_cast<uint32_t>(static_cast<unsigned char>(bytes[at + 1])) << 16 |
         static_cast<uint32_t>(static_cast<unsigned char>(bytes[at + 2])) << 8 |
         static_cast<uint32_t>(static_cast<unsigned char>(bytes[at + 3]));
}

std::unique_ptr<FptFile> new_memo(const std::filesystem::path& p, size_t block_size) {
  File* file = create_file(String(p), 0);
  return std::unique_ptr<FptFile>(FptFile::create(file, block_size));
}

TEST(FptFile, LayoutOfANewFileAndOfStoredValues) {
  TempDir dir;
  auto p = dir.path / "m.fpt";
  auto fpt = new_memo(p, 0);
  EXPECT_EQ(fpt->block_size, 64u);
  EXPECT_EQ(fpt->next_free, 8u);
  EXPECT_EQ(std::filesystem::file_size(p), 512u);
  std::string hundred(100, 'a');
  EXPECT_EQ(fpt->store(String(hundred.data(), hundred.size(), Charset::binary), Charset::binary, 1), 8u);
  EXPECT_EQ(fpt->next_free, 10u);
  EXPECT_EQ(std::filesystem::file_size(p), 640u);
  EXPECT_EQ(fpt->store(String(static_cast<size_t>(0), Charset::binary), Charset::binary, 1), 10u);
  EXPECT_EQ(fpt->next_free, 11u);  // an empty value takes its header's block
  std::string bytes = read_bytes(p);
  EXPECT_EQ(be32(bytes, 0), 11u);
  EXPECT_EQ(bytes.substr(4, 4), std::string("\0\0\0\x40", 4));
  EXPECT_EQ(be32(bytes, 512), 1u);
  EXPECT_EQ(be32(bytes, 516), 100u);
  EXPECT_EQ(bytes.substr(520, 100), hundred);
  int type = 0;
  EXPECT_EQ(fpt->load(8, Charset::binary, &type).size(), 100u);
  EXPECT_EQ(type, 1);
  EXPECT_EQ(fpt->size_of(10), 0u);
  EXPECT_EQ(fpt->size_of(0), 0u);
}

// The header keeps the block size in 16 bits: larger sizes are refused, not cut to their low bits.
TEST(FptFile, BlockSizes) {
  struct Case {
    size_t asked;
    uint32_t size;  // 0: refused
    uint32_t first_free;
  };
  const Case cases[] = {{0, 64, 8}, {1, 1, 512}, {33, 33, 16}, {512, 512, 1}, {65535, 65535, 1},
                        {65536, 0, 0}, {0x100000, 0, 0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.asked);
    TempDir dir;
    auto p = dir.path / "b.fpt";
    if (c.size == 0) {
      try {
        new_memo(p, c.asked);
        ADD_FAILURE() << "accepted";
      } catch (const RuntimeError& e) {
        EXPECT_EQ(e.code, 11);
      }
      continue;
    }
    {
      auto fpt = new_memo(p, c.asked);
      EXPECT_EQ(fpt->store(String("abc"), Charset::binary, 1), c.first_free);
    }
    std::unique_ptr<FptFile> again(FptFile::open(String(p), 0));
    EXPECT_EQ(again->block_size, c.size);
    int type;
    EXPECT_EQ(again->load(c.first_free, Charset::binary, &type).u8str(), "abc");
  }
}

TEST(FptFile, DamagedHeadersPointersAndLengths) {
  TempDir dir;
  auto p = dir.path / "d.fpt";
  {
    auto fpt = new_memo(p, 64);
    fpt->store(String("value"), Charset::binary, 1);
  }
  std::string good = read_bytes(p);
  auto open = [&] { return std::unique_ptr<FptFile>(FptFile::open(String(p), 0)); };
  int type;

  std::string bytes = good;
  bytes[6] = bytes[7] = 0;  // block size 0
  write_bytes(p, bytes);
  EXPECT_THROW(open(), dbf_error_file_corruption);
  write_bytes(p, good.substr(0, 7));
  EXPECT_THROW(open(), dbf_error_file_corruption);

  write_bytes(p, good);
  auto fpt = open();
  EXPECT_THROW(fpt->load(0, Charset::binary, &type), dbf_error_file_corruption);
  EXPECT_THROW(fpt->load(9, Charset::binary, &type), dbf_error_file_corruption);  // past the end
  EXPECT_THROW(fpt->load(0xFFFFFFFF, Charset::binary, &type), dbf_error_file_corruption);
  EXPECT_THROW(fpt->size_of(0x7FFFFFFF), dbf_error_file_corruption);
  fpt.reset();

  bytes = good;
  bytes[516] = bytes[517] = bytes[518] = static_cast<char>(0xFF);  // length near 4 GiB
  write_bytes(p, bytes);
  fpt = open();
  EXPECT_THROW(fpt->load(8, Charset::binary, &type), dbf_error_file_corruption);
  EXPECT_THROW(fpt->size_of(8), dbf_error_file_corruption);
  fpt.reset();

  bytes = good;
  bytes[519] = 56;  // the file ends 8 + 56 bytes behind block 8
  write_bytes(p, bytes);
  EXPECT_EQ(open()->load(8, Charset::binary, &type).size(), 56u);
  bytes[519] = 57;
  write_bytes(p, bytes);
  EXPECT_THROW(open()->load(8, Charset::binary, &type), dbf_error_file_corruption);

  // With one-byte blocks, blocks 1 to 7 are the file header.
  auto tiny = new_memo(dir.path / "t.fpt", 1);
  EXPECT_THROW(tiny->load(3, Charset::binary, &type), dbf_error_file_corruption);
}

std::string raw(const Variant& v) { return std::string(v.string.read(), v.string.size()); }

TEST(FptMemoFields, CharsetsBlocksAndRewrites) {
  TempDir dir;
  std::vector<fielddef_st> defs = {field("M", FIELDINFO_MEMO), field("MB", FIELDINFO_MEMO), field("W", FIELDINFO_BLOB),
                                   field("G", FIELDINFO_GENERAL)};
  defs[1].binary = 1;
  auto p = dir.path / "cp.dbf";
  auto d = create_table(p, defs, options(1252));
  d->begin_append();
  // Blank pointers read as empty values of size 0.
  for (size_t n = 0; n < 4; ++n) {
    Variant v;
    d->get_variant(n, &v);
    EXPECT_EQ(v.string.size(), 0u);
    EXPECT_EQ(d->get_memo_size(n), 0u);
  }
  String e("é");  // UTF-8
  for (size_t n = 0; n < 3; ++n) d->set_string(n, e);
  d->update(nullptr);
  std::string memo = read_bytes(dir.path / "cp.fpt");
  EXPECT_EQ(memo.substr(512, 9), std::string("\0\0\0\x01\0\0\0\x01\xE9", 9));      // M: the table's code page
  EXPECT_EQ(memo.substr(576, 10), std::string("\0\0\0\x01\0\0\0\x02\xC3\xA9", 10));  // MB: as given
  EXPECT_EQ(memo.substr(640, 10), std::string("\0\0\0\x01\0\0\0\x02\xC3\xA9", 10));  // W: raw
  Variant m, mb, w;
  d->get_variant(0, &m);
  d->get_variant(1, &mb);
  d->get_variant(2, &w);
  EXPECT_EQ(m.string.u8str(), "é");
  EXPECT_EQ(m.string.get_charset(), d->charset());
  EXPECT_EQ(raw(mb), "\xC3\xA9");
  EXPECT_EQ(mb.string.get_charset(), d->binary_charset());
  EXPECT_EQ(raw(w), "\xC3\xA9");
  EXPECT_EQ(w.string.get_charset(), Charset::binary);
  EXPECT_EQ(d->get_memo_size(0), 1u);

  // A rewrite appends; the old value stays in the file and the record points to the new one.
  d->set_string(0, String("second"));
  d->update(nullptr);
  memo = read_bytes(dir.path / "cp.fpt");
  EXPECT_EQ(memo.size(), 768u);
  EXPECT_EQ(memo.substr(512 + 8, 1), "\xE9");
  EXPECT_EQ(memo.substr(704 + 8, 6), "second");
  d.reset();
  d = open_dbf_file(String(p), 0);
  d->go_top();
  Variant again;
  d->get_variant(0, &again);
  EXPECT_EQ(again.string.u8str(), "second");
}

}  // namespace
}  // namespace qzbase
