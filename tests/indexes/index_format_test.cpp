// Index file format: header and node images read and written through IndexFile, with the bytes
// checked against the layout; damaged images of every kind raise dbf_index_file_corrupted.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>
#include <string>

#include "index_support.h"
#include "tables/dbf_exceptions.h"

using namespace qzbase;
using namespace qzbase::index_testing;

namespace {

void put16(std::string& s, size_t at, uint16_t v) { idx_store_le16(&s[at], v); }
void put32(std::string& s, size_t at, uint32_t v) { idx_store_le32(&s[at], v); }

// A header image built from the layout by hand.
std::string header_image(uint16_t key_length, uint16_t options, const std::string& collation,
                         const std::string& key, const std::string& filter) {
  std::string s(1024, '\0');
  put32(s, 0, 1536);
  put32(s, 4, 0);
  put32(s, 8, 7);
  put16(s, 12, key_length);
  put16(s, 14, options);
  std::memcpy(&s[494], collation.data(), collation.size());
  put16(s, 502, 0);
  put16(s, 504, static_cast<uint16_t>(key.size() + 1));
  put16(s, 506, static_cast<uint16_t>(filter.size() + 1));
  put16(s, 508, 0);
  put16(s, 510, static_cast<uint16_t>(key.size() + 1));
  std::memcpy(&s[512], key.data(), key.size());
  std::memcpy(&s[512 + key.size() + 1], filter.data(), filter.size());
  return s;
}

std::string read_bytes(IndexFile& f, size_t at, size_t n) {
  std::string s(n, '\0');
  EXPECT_EQ(f.file->readex(static_cast<std::streampos>(at), s.data(), n), n);
  return s;
}

void write_bytes(IndexFile& f, size_t at, const std::string& s) {
  f.file->writeex(static_cast<std::streampos>(at), s.data(), s.size());
}

}  // namespace

TEST(IndexHeader, UnknownBitsAndReservedBytesSurviveARoundTrip) {
  auto f = memory_index_file();
  // Bits 6 to 9 and 11 to 15 set, reserved bytes 16..493 filled with a pattern.
  std::string image = header_image(12, 0xFBE9, "MACHINE", "UPPER(name)", "!DELETED()");
  for (size_t i = 16; i < 494; ++i) image[i] = static_cast<char>(i * 7 + 3);
  write_bytes(*f, 0, image);
  idx_header_st h;
  f->read_header(&h, 0);
  EXPECT_EQ(h.root, 1536u);
  EXPECT_EQ(h.version, 7u);
  EXPECT_EQ(h.key_length, 12);
  EXPECT_EQ(h.options, 0xFBE9);
  EXPECT_TRUE(h.option(IDX_OPT_UNIQUE));
  EXPECT_TRUE(h.option(IDX_OPT_FOR));
  EXPECT_FALSE(h.option(IDX_OPT_BINARY));
  EXPECT_TRUE(h.option(IDX_OPT_MACHINE) && h.option(IDX_OPT_COLLATED));
  EXPECT_EQ(h.key_expression.u8str(), "UPPER(name)");
  EXPECT_EQ(h.for_expression.u8str(), "!DELETED()");
  EXPECT_EQ(h.key_expression.get_charset(), cp1252());
  EXPECT_EQ(h.collation_name.u8str(), "MACHINE");
  f->write_header(&h, 2048);
  EXPECT_EQ(read_bytes(*f, 2048, 1024), image);
}

TEST(IndexHeader, ChangedFieldsAreEncodedAtTheirOffsets) {
  auto f = memory_index_file();
  idx_header_st h;
  h.root = 0x12345600;
  h.free_list = 0xA0B0C0D0;
  h.version = 0x1'0000'0005ull;  // the file keeps the low 32 bits
  h.key_length = 8;
  h.options = IDX_OPT_COMPACT | IDX_OPT_CREATED | IDX_OPT_COLLATED;
  h.descending = true;
  h.collation_name = String("general");
  h.key_expression = String("amount");
  h.for_expression = String("");
  f->write_header(&h, 0);
  const std::string s = read_bytes(*f, 0, 1024);
  EXPECT_EQ(hex(bytes_of(s.data(), 16)), "00 56 34 12 D0 C0 B0 A0 05 00 00 00 08 00 60 02");
  EXPECT_EQ(s.substr(494, 8), std::string("GENERAL\0", 8));
  EXPECT_EQ(hex(bytes_of(s.data() + 502, 10)), "01 00 07 00 01 00 00 00 07 00");
  EXPECT_EQ(s.substr(512, 9), std::string("amount\0\0\0", 9));
  EXPECT_EQ(s.substr(521), std::string(1024 - 521, '\0'));
}

TEST(IndexHeader, LowerCaseCollationNameReadsBackUpperCased) {
  auto f = memory_index_file();
  write_bytes(*f, 0, header_image(10, IDX_OPT_COMPACT, "spanish", "name", ""));
  idx_header_st h;
  f->read_header(&h, 0);
  EXPECT_EQ(h.collation_name.u8str(), "SPANISH");
  // Eight letters fill the field without a terminator.
  write_bytes(*f, 0, header_image(10, IDX_OPT_COMPACT, "abcdefgh", "name", ""));
  f->read_header(&h, 0);
  EXPECT_EQ(h.collation_name.u8str(), "ABCDEFGH");
}

TEST(IndexHeader, BitFourIsRefusedWithError1001) {
  auto f = memory_index_file();
  write_bytes(*f, 0, header_image(10, IDX_OPT_COMPACT | IDX_OPT_UNKNOWN4, "", "name", ""));
  idx_header_st h;
  try {
    f->read_header(&h, 0);
    FAIL() << "no error";
  } catch (const RuntimeError& e) {
    EXPECT_EQ(e.code, 1001);
    EXPECT_EQ(e.detail.u8str(), "Index header unknown bit 5 is set");
  }
}

TEST(IndexHeader, DamagedHeadersAreCorrupted) {
  struct Case {
    const char* what;
    size_t at;
    std::string bytes;
  };
  const Case cases[] = {
      {"key length 0", 12, std::string("\0\0", 2)},
      {"key length 241", 12, std::string("\xF1\0", 2)},
      {"misaligned root", 0, std::string("\x01\x06\0\0", 4)},
      {"FOR text beyond the pool", 504, std::string("\xFF\x01\x02\0", 4)},
      {"key text beyond the pool", 508, std::string("\x00\x02\x01\x00", 4)},
      {"non-ASCII collation name", 494, std::string("\xC3\xA9", 2)},
  };
  for (const Case& c : cases) {
    auto f = memory_index_file();
    std::string image = header_image(10, IDX_OPT_COMPACT, "", "name", "");
    image.replace(c.at, c.bytes.size(), c.bytes);
    write_bytes(*f, 0, image);
    idx_header_st h;
    EXPECT_THROW(f->read_header(&h, 0), dbf_index_file_corrupted) << c.what;
  }
  // A short read, and a header offset off the block grid.
  auto f = memory_index_file();
  write_bytes(*f, 0, header_image(10, IDX_OPT_COMPACT, "", "name", "").substr(0, 1000));
  idx_header_st h;
  EXPECT_THROW(f->read_header(&h, 0), dbf_index_file_corrupted);
  EXPECT_THROW(f->read_header(&h, 100), dbf_index_file_corrupted);
}

TEST(IndexHeader, TextsThatDoNotFitAreRefusedBeforeAnythingIsWritten) {
  auto f = memory_index_file();
  idx_header_st h;
  h.key_length = 10;
  h.root = 1536;
  h.key_expression = String(std::string(510, 'k').c_str());
  h.for_expression = String("");
  f->write_header(&h, 0);  // 510 + NUL + empty FOR + NUL = 512 fits
  const std::string before = read_bytes(*f, 0, 1024);
  h.key_expression = String(std::string(511, 'k').c_str());
  EXPECT_THROW(f->write_header(&h, 0), dbf_invalid_index_key_len);
  h.key_expression = String(std::string(300, 'k').c_str());
  h.for_expression = String(std::string(211, 'f').c_str());
  EXPECT_THROW(f->write_header(&h, 0), dbf_invalid_index_key_len);
  EXPECT_EQ(read_bytes(*f, 0, 1024), before);
  EXPECT_EQ(f->file->get_size(), 1024u);
  // Texts in another character set are stored in the table's.
  h.key_expression = String::fromBytes("\xC3\xA9t\xC3\xA9", 5, Charset::utf8);
  h.for_expression = String("");
  f->write_header(&h, 0);
  EXPECT_EQ(read_bytes(*f, 512, 4), std::string("\xE9t\xE9\0", 4));
  idx_header_st back;
  f->read_header(&back, 0);
  EXPECT_EQ(back.key_expression.u8str(), "\xC3\xA9t\xC3\xA9");
}

TEST(IndexNode, EmptyCompactLeafReadsBackWith488FreeBytes) {
  auto f = memory_index_file();
  Index tag(f.get(), 0);
  make_compact_tag(&tag, 10);
  index_node_st n;
  tag.init_compact_node(&n, 10, 255, 10, 10, true);
  n.offset = 1024;
  n.root = true;
  f->write_node(&n);
  EXPECT_EQ(hex(bytes_of(read_bytes(*f, 1024, 24).data(), 24)),
            "03 00 00 00 FF FF FF FF FF FF FF FF E8 01 FF 00 00 00 0F 0F 08 04 04 02");
  index_node_st back;
  f->read_node(&tag, 1024, &back);
  EXPECT_TRUE(back.leaf && back.root && back.compact && !back.bitmap);
  EXPECT_EQ(back.count, 0u);
  EXPECT_EQ(back.free_bytes, 488u);
  EXPECT_EQ(back.left, kIndexNoNode);
  EXPECT_EQ(back.geometry.entry_bytes, 2);
  EXPECT_EQ(back.offset, 1024);
}

TEST(IndexNode, BitmapBaseIsBigEndianUnderALittleEndianHead) {
  auto f = memory_index_file();
  Index tag(f.get(), 0);
  tag.header.key_length = 1;
  tag.header.options = IDX_OPT_BINARY | IDX_OPT_CREATED;
  index_node_st n;
  n.offset = 512 * 5;
  n.leaf = true;
  n.compact = true;
  n.bitmap = true;
  n.count = 0x0102;
  n.left = 0x00000400;
  n.right = kIndexNoNode;
  n.bitmap_base = 0x11223344;
  n.raw[16] = 0x05;  // records base + 0 and base + 2
  f->write_node(&n);
  EXPECT_EQ(hex(bytes_of(read_bytes(*f, 2560, 17).data(), 17)),
            "02 00 02 01 00 04 00 00 FF FF FF FF 11 22 33 44 05");
  index_node_st back;
  f->read_node(&tag, 2560, &back);
  EXPECT_TRUE(back.bitmap && back.compact && back.leaf);
  EXPECT_EQ(back.bitmap_base, 0x11223344u);
  EXPECT_EQ(back.count, 0x0102u);
  EXPECT_EQ(back.key_length, 0u);
}

TEST(IndexNode, BasicLeafBuiltByHandDecodesEntryByEntry) {
  auto f = memory_index_file();
  Index tag(f.get(), 0);
  tag.header.key_length = 4;
  tag.header.options = IDX_OPT_CREATED;  // neither compact nor binary: basic leaves
  std::string block(512, '\0');
  put16(block, 0, IDX_NODE_LEAF);
  put16(block, 2, 3);
  put32(block, 4, kIndexNoNode);
  put32(block, 8, 0x00000C00);
  const char* keys[] = {"ABCD", "ABXY", "ZZZZ"};
  for (int i = 0; i < 3; ++i) {
    std::memcpy(&block[12 + i * 12], keys[i], 4);
    idx_store_be32(&block[12 + i * 12 + 4], 0x01020300u + i);
  }
  write_bytes(*f, 1024, block);
  index_node_st n;
  f->read_node(&tag, 1024, &n);
  EXPECT_TRUE(n.leaf && !n.compact && !n.bitmap);
  EXPECT_EQ(n.right, 0xC00u);
  key_iterator_st it;
  tag.goto_first_key(n, &it);
  for (int i = 0; i < 3; ++i) {
    ASSERT_EQ(it.index, i);
    EXPECT_EQ(std::string(it.key(), 4), keys[i]);
    EXPECT_EQ(it.record, 0x01020300u + i);
    EXPECT_EQ(it.child, 0u);
    tag.goto_next_key(n, &it);
  }
  EXPECT_EQ(it.index, 3);
  EXPECT_THROW(tag.goto_next_key(n, &it), dbf_error_eof);
  tag.goto_prev_key(n, &it);
  EXPECT_EQ(std::string(it.key(), 4), "ZZZZ");
  // Basic leaves are read, never written.
  EXPECT_THROW(f->write_node(&n), assert_failed_exception);
}

TEST(IndexNode, DamagedNodesAreCorrupted) {
  // A valid compact leaf with keys "AB  " (record 1) and "ABX " (record 2), key length 4.
  auto good = [] {
    std::string b(512, '\0');
    put16(b, 0, IDX_NODE_LEAF | IDX_NODE_ROOT);
    put16(b, 2, 2);
    put32(b, 4, kIndexNoNode);
    put32(b, 8, kIndexNoNode);
    put16(b, 12, 488 - 4 - 3);
    put32(b, 14, 0xFF);
    b[18] = 7;
    b[19] = 7;
    b[20] = 8;
    b[21] = 3;
    b[22] = 3;
    b[23] = 2;
    // key 0: d 0, t 2, stored "AB"; key 1: d 2, t 1, stored "X"
    put16(b, 24, static_cast<uint16_t>(1 | (0 << 8) | (2 << 11)));
    put16(b, 26, static_cast<uint16_t>(2 | (2 << 8) | (1 << 11)));
    b[510] = 'A';
    b[511] = 'B';
    b[509] = 'X';
    return b;
  };
  struct Case {
    const char* what;
    size_t at;
    std::string bytes;
  };
  const Case cases[] = {
      {"E of 0", 23, std::string("\0", 1)},
      {"E of 9", 23, std::string("\x09", 1)},
      {"record mask not matching its bits", 14, std::string("\x7F\0\0\0", 4)},
      {"duplicate bits over 8", 21, std::string("\x09", 1)},
      {"fields wider than E", 20, std::string("\x10", 1)},
      {"free bytes over 488", 12, std::string("\xE9\x01", 2)},
      {"free bytes off by one", 12, std::string("\xE0\x01", 2)},
      {"entries beyond the room", 2, std::string("\xF5\x00", 2)},
      {"first key with duplicates", 24, std::string("\x01\x08", 2)},
      {"duplicate and trailing over the key length", 26, std::string("\x02\x3B", 2)},
      {"misaligned right sibling", 8, std::string("\x00\x03\x00\x00", 4)},
  };
  for (const Case& c : cases) {
    auto f = memory_index_file();
    Index tag(f.get(), 0);
    make_compact_tag(&tag, 4);
    std::string block = good();
    block.replace(c.at, c.bytes.size(), c.bytes);
    write_bytes(*f, 1024, block);
    index_node_st n;
    EXPECT_THROW(f->read_node(&tag, 1024, &n), dbf_index_file_corrupted) << c.what;
  }
  auto f = memory_index_file();
  Index tag(f.get(), 0);
  make_compact_tag(&tag, 4);
  write_bytes(*f, 1024, good());
  index_node_st n;
  f->read_node(&tag, 1024, &n);  // the untouched block is fine
  EXPECT_EQ(reference_decode(n, ' ')[1].first, "ABX ");
  EXPECT_THROW(f->read_node(&tag, 1000, &n), dbf_index_file_corrupted);  // off the grid
  EXPECT_THROW(f->read_node(&tag, 1536, &n), dbf_index_file_corrupted);  // beyond the end
  // A basic node with more entries than its body holds.
  tag.header.options = IDX_OPT_CREATED;
  std::string basic(512, '\0');
  put16(basic, 2, 42);  // 42 x 12 > 500
  put32(basic, 4, kIndexNoNode);
  put32(basic, 8, kIndexNoNode);
  write_bytes(*f, 1536, basic);
  EXPECT_THROW(f->read_node(&tag, 1536, &n), dbf_index_file_corrupted);
}

TEST(IndexFileCompound, NewFileIsADirectoryHeaderAndAnEmptyRootLeaf) {
  auto f = memory_index_file();
  f->create_compound();
  EXPECT_EQ(f->file->get_size(), 1536u);
  EXPECT_EQ(f->end_offset, 1536);
  idx_header_st h;
  f->read_header(&h, 0);
  EXPECT_EQ(h.root, 1024u);
  EXPECT_EQ(h.key_length, 10);
  EXPECT_EQ(h.options, IDX_OPT_COMPACT | IDX_OPT_CREATED | IDX_OPT_DIRECTORY | IDX_OPT_MACHINE);
  EXPECT_EQ(h.key_expression.size(), 0u);
  EXPECT_EQ(h.collation_name.size(), 0u);
  Index directory(f.get(), 0);
  directory.header = h;
  index_node_st root;
  f->read_node(&directory, 1024, &root);
  EXPECT_TRUE(root.root && root.leaf && root.compact);
  EXPECT_EQ(root.free_bytes, 488u);
  EXPECT_EQ(root.geometry.record_mask, 0xFFFFFFFFu);
  EXPECT_EQ(root.geometry.entry_bytes, 5);
}

TEST(IndexFileCompound, ImagesOfAnotherEncoderDecode) {
  // The fuzz seeds were encoded from the layout by a separate script.
  auto load = [](const char* name) {
    std::ifstream in(std::string(QZ_TEST_SOURCE_DIR) + "/../fuzz/corpus/index_node/" + name, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  };
  auto f = memory_index_file();
  write_bytes(*f, 0, load("compact_tag"));
  Index tag(f.get(), 0);
  f->read_header(&tag.header, 0);
  EXPECT_EQ(tag.header.key_expression.u8str(), "UPPER(name)");
  index_node_st n;
  f->read_node(&tag, tag.header.root, &n);
  std::vector<std::string> keys;
  key_iterator_st it;
  for (tag.goto_first_key(n, &it); it.index < static_cast<int32_t>(n.count); tag.goto_next_key(n, &it)) {
    keys.push_back(std::string(it.key(), 10) + "/" + std::to_string(it.record));
  }
  EXPECT_EQ(keys, (std::vector<std::string>{"          /4", "ALPHA     /1", "ALPINE    /2", "BETA      /3",
                                             "BETAMAX   /7"}));
  auto g = memory_index_file();
  write_bytes(*g, 0, load("compact_damaged"));
  Index damaged(g.get(), 0);
  g->read_header(&damaged.header, 0);
  EXPECT_THROW(g->read_node(&damaged, 1024, &n), dbf_index_file_corrupted);
}
