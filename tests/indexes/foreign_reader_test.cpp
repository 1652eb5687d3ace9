// A compound index file written through IndexFile and the compact codec, read back by a reader
// this project did not write (Perl's XBase::Index): the tag directory, a two-level tag of
// character keys split by the 243-byte rule, and a tag of numeric keys.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "index_support.h"
#include "indexes/index_keys.h"
#include "run_command.h"
#include "temp_dir.h"

using namespace qzbase;
using namespace qzbase::index_testing;

namespace {

using qzbase::testing_files::run_command;

const char* kReader = R"(use strict; use XBase::Index;
my ($file, $tag, $type) = @ARGV;
my $index = XBase::Index->new($file, tag => $tag, type => $type) or die XBase::Index->errstr;
$index->prepare_select;
while (my ($key, $record) = $index->fetch) { print "$key $record\n"; }
)";

struct Writer {
  IndexFile* file;
  // A tag header at `offset` whose root is `root`.
  void tag_header(std::streampos offset, uint32_t root, uint16_t key_length, const char* expression) {
    idx_header_st h;
    h.root = root;
    h.key_length = key_length;
    h.options = IDX_OPT_COMPACT | IDX_OPT_CREATED | IDX_OPT_MACHINE;
    h.collation_name = String("MACHINE");
    h.key_expression = String(expression);
    h.for_expression = String("");
    file->write_header(&h, offset);
  }
};

}  // namespace

TEST(ForeignReader, PerlReadsDirectoryTagsBranchesAndLeaves) {
  testing_files::TempDir dir;
  const std::string path = (dir.path / "people.cdx").string();
  IndexFile file(create_file(String(path.c_str()), OPEN_WRITE), cp1252());
  file.create_compound();
  Writer w{&file};

  // Tag directory: NAME at 1536, AMOUNT at 4096 (keys in name order).
  Index directory(&file, 0);
  file.read_header(&directory.header, 0);
  directory.set_collation(nullptr);
  index_node_st dnode;
  file.read_node(&directory, 1024, &dnode);
  key_iterator_st it;
  directory.goto_first_key(dnode, &it);
  ASSERT_TRUE(directory.insert_compact_key(&dnode, &it, "AMOUNT    ", 4096));
  directory.goto_next_key(dnode, &it);
  ASSERT_TRUE(directory.insert_compact_key(&dnode, &it, "NAME      ", 1536));
  file.write_node(&dnode);

  // NAME: keys NAME000 .. NAME(n-1) with record = number + 1; a full leaf split in two.
  Index name(&file, 1536);
  w.tag_header(1536, 2560, 10, "NAME");
  file.read_header(&name.header, 1536);
  name.set_collation(nullptr);
  index_node_st full;
  name.init_compact_node(&full, 10, 255, 10, 10, true);
  std::vector<std::string> expected_names;
  key_iterator_st fit;
  name.goto_first_key(full, &fit);
  for (int i = 0;; ++i) {
    char key[24];  // ten key bytes are read; the rest only keeps snprintf from cutting the text short
    std::snprintf(key, sizeof key, "N%05dX   ", i * 37);
    if (!name.insert_compact_key(&full, &fit, key, static_cast<uint32_t>(i + 1))) break;
    name.goto_next_key(full, &fit);
    expected_names.push_back(std::string(key, 7) + " " + std::to_string(i + 1));
  }
  index_node_st left, right;
  key_iterator_st lit, rit;
  left.offset = 3072;
  right.offset = 3584;
  name.split_compact_node(full, &left, &lit, &right, &rit);
  left.right = 3584;
  right.left = 3072;
  file.write_node(&left);
  file.write_node(&right);
  index_node_st root;
  root.offset = 2560;
  root.root = true;
  root.key_length = 10;
  root.count = 2;
  uint32_t index = 0;
  for (index_node_st* child : {&left, &right}) {
    key_iterator_st last;
    name.goto_last_key(*child, &last);
    char* entry = root.raw + 12 + index * 18;
    std::memcpy(entry, last.key(), 10);
    idx_store_be32(entry + 10, last.record);
    idx_store_be32(entry + 14, static_cast<uint32_t>(child->offset));
    ++index;
  }
  file.write_node(&root);

  // AMOUNT: numeric keys.
  Index amount(&file, 4096);
  w.tag_header(4096, 5120, 8, "AMOUNT");
  file.read_header(&amount.header, 4096);
  amount.set_collation(nullptr);
  index_node_st leaf;
  amount.init_compact_node(&leaf, 8, 255, 8, 8, true);
  leaf.offset = 5120;
  leaf.root = true;
  const double values[] = {-1234.5, -1, 0, 0.25, 2, 1e6};
  key_iterator_st ait;
  amount.goto_first_key(leaf, &ait);
  for (int i = 0; i < 6; ++i) {
    char key[8];
    keyN8(values[i], key, 8);
    ASSERT_TRUE(amount.insert_compact_key(&leaf, &ait, key, static_cast<uint32_t>(10 + i)));
    amount.goto_next_key(leaf, &ait);
  }
  file.write_node(&leaf);
  file.file->close();

  std::ofstream(dir.path / "reader.pl") << kReader;
  const std::string reader = "/usr/bin/perl " + (dir.path / "reader.pl").string() + " " + path;
  std::ostringstream names;
  for (const auto& line : expected_names) names << line << "\n";
  EXPECT_GT(left.count, 10u);
  EXPECT_GT(right.count, 10u);
  EXPECT_EQ(run_command(reader + " NAME C"), names.str());
  EXPECT_EQ(run_command(reader + " AMOUNT N"), "-1234.5 10\n-1 11\n0 12\n0.25 13\n2 14\n1000000 15\n");
}
