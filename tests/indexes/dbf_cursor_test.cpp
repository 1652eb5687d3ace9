// The table cursor over a tag of its structural index file: the tag list, the order of a tag in
// both directions, BOF and EOF, seeks, the busy flag, the lock guard, and refused key upkeep.
// The fixture table and index file are written by this library in a temporary directory.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "../tables/dbf_support.h"
#include "btree_support.h"
#include "indexes/dbf_index_hooks.h"
#include "temp_dir.h"

namespace qzbase::index_testing {
namespace {

using testing_dbf::create_table;
using testing_dbf::field;

std::string key4(const std::string& s) { return (s + "    ").substr(0, 4); }

// t.dbf with NAME C(4): DD BB AA CC BB (records 1 to 5), and t.cdx with the tags NAME
// (ascending), NAMED (descending) and EMPTY (no keys), written in that order.
struct CursorFixture : ::testing::Test {
  void SetUp() override {
    install_dbf_index_hooks();
    table = dir.path / "t.dbf";
    const std::vector<std::string> names = {"DD", "BB", "AA", "CC", "BB"};
    {
      auto dbf = create_table(table, {field("NAME", FIELDINFO_CHAR, 4)}, testing_dbf::options(), OPEN_WRITE);
      for (const auto& n : names) {
        dbf->begin_append();
        dbf->set_string(0, String(n.c_str()));
        dbf->update(nullptr);
      }
      IndexFile cdx(create_file(String(dir.path / "t.cdx"), OPEN_WRITE), dbf->charset());
      cdx.create_compound();
      Index directory(&cdx, 0);
      cdx.read_header(&directory.header, 0);
      directory.set_collation(nullptr);
      cdx.lock();
      for (const char* tag_name : {"NAME", "NAMED", "EMPTY"}) {
        Index tag(&cdx, 0);
        create_tag(&cdx, &tag, 4, kCompactOptions);
        if (std::string(tag_name) == "NAMED") {
          tag.header.descending = true;
          cdx.write_header(&tag.header, tag.header_offset);
        }
        if (std::string(tag_name) != "EMPTY") {
          for (size_t i = 0; i < names.size(); ++i) ASSERT_TRUE(tag.insert_key(key4(names[i]).data(), i + 1));
        }
        const std::string dkey = (std::string(tag_name) + "          ").substr(0, 10);
        ASSERT_TRUE(directory.insert_key(dkey.data(), static_cast<size_t>(tag.header_offset)));
      }
      cdx.unlock();
      dbf->has_structural_index = true;
      dbf->write_dbf_header();
    }
    dbf = open_dbf_file(String(table), OPEN_WRITE);
    cursor = table_cursor(dbf.get());
    ASSERT_NE(cursor, nullptr);
  }

  std::vector<size_t> walk_forward() {
    std::vector<size_t> order;
    dbf->go_top();
    while (!dbf->eof) {
      order.push_back(dbf->recno);
      dbf->go_next();
    }
    return order;
  }

  testing_files::TempDir dir;
  std::filesystem::path table;
  std::unique_ptr<DbfFile> dbf;
  IndexCursorHooks* cursor = nullptr;
};

TEST_F(CursorFixture, TagsAreListedAndNumberedByHeaderOffset) {
  ASSERT_EQ(dbf->index_count(), 3u);
  EXPECT_EQ(cursor->index(0)->name.u8str(), "NAME");
  EXPECT_EQ(cursor->index(1)->name.u8str(), "NAMED");
  EXPECT_EQ(cursor->index(2)->name.u8str(), "EMPTY");
  EXPECT_EQ(cursor->find_tag(String("named"))->number, 1u);
  EXPECT_THROW(cursor->find_tag(String("NOPE")), dbf_error_unknown_index_tag);
  EXPECT_THROW(cursor->select_index(String("NOPE"), SEEK_DIR_SELECTED), dbf_error_unknown_index_tag);
  EXPECT_FALSE(dbf->busy);
}

TEST_F(CursorFixture, AscendingOrderAndSteppingPastTheEnd) {
  cursor->select_index(String("NAME"), SEEK_DIR_SELECTED);
  EXPECT_FALSE(dbf->selected_backward());
  EXPECT_EQ(walk_forward(), (std::vector<size_t>{3, 2, 5, 4, 1}));
  EXPECT_TRUE(dbf->eof);
  EXPECT_EQ(dbf->recno, 6u);  // record count + 1
  dbf->go_next();             // nothing more at EOF
  EXPECT_TRUE(dbf->eof);
  EXPECT_EQ(dbf->recno, 6u);
  Variant v;
  dbf->get_variant(0, &v);
  EXPECT_EQ(v.string.u8str(), "    ");
  dbf->go_prev();  // from EOF to the last of the order
  EXPECT_EQ(dbf->recno, 1u);
  dbf->go_top();
  dbf->go_prev();  // before the first key: BOF on the same record
  EXPECT_TRUE(dbf->bof);
  EXPECT_EQ(dbf->recno, 3u);
}

TEST_F(CursorFixture, DirectionZeroOnADescendingTagRunsBackward) {
  cursor->select_index(String("NAMED"), SEEK_DIR_SELECTED);
  EXPECT_TRUE(dbf->selected_backward());
  EXPECT_EQ(walk_forward(), (std::vector<size_t>{1, 4, 5, 2, 3}));
  // Forward asked for explicitly overrides the tag's own direction; backward on an ascending tag.
  cursor->select_index(String("NAMED"), SEEK_DIR_FORWARD);
  EXPECT_EQ(walk_forward(), (std::vector<size_t>{3, 2, 5, 4, 1}));
  cursor->select_index(String("NAME"), SEEK_DIR_BACKWARD);
  EXPECT_EQ(walk_forward(), (std::vector<size_t>{1, 4, 5, 2, 3}));
}

TEST_F(CursorFixture, TopOfAnEmptyTagSetsBofAndEof) {
  cursor->select_index(String("EMPTY"), SEEK_DIR_SELECTED);
  dbf->go_top();
  EXPECT_TRUE(dbf->bof);
  EXPECT_TRUE(dbf->eof);
  dbf->go_bottom();
  EXPECT_TRUE(dbf->eof);
}

TEST_F(CursorFixture, SelectAndGoToPlaceTheCursorOnTheCurrentRecord) {
  dbf->go_to_in_file(5);
  cursor->select_index(String("NAME"), SEEK_DIR_SELECTED);
  EXPECT_EQ(dbf->recno, 5u);
  dbf->go_next();
  EXPECT_EQ(dbf->recno, 4u);
  cursor->go_to(2);
  dbf->go_next();
  EXPECT_EQ(dbf->recno, 5u);
  // At EOF the new order stands at its EOF too.
  dbf->go_next();
  dbf->go_next();
  dbf->go_next();
  ASSERT_TRUE(dbf->eof);
  cursor->select_index(String("NAMED"), SEEK_DIR_SELECTED);
  EXPECT_TRUE(dbf->eof);
  EXPECT_EQ(dbf->recno, 6u);
}

TEST_F(CursorFixture, SeeksLandOnTheRightRecords) {
  EXPECT_THROW(cursor->seek("BB  ", 4, 0, SEEK_DIR_SELECTED, false), dbf_error_no_index_selected);
  cursor->select_index(String("NAME"), SEEK_DIR_SELECTED);
  struct Case {
    const char* key;
    size_t n;
    int rng;
    int dir;
    bool near;
    bool found;
    size_t recno;  // 6: EOF
  };
  const Case cases[] = {
      {"BB", 2, 0, SEEK_DIR_SELECTED, false, true, 2},   // first of two equal keys
      {"BA", 2, 0, SEEK_DIR_SELECTED, false, false, 6},  // a nearer key only
      {"BA", 2, 0, SEEK_DIR_SELECTED, true, false, 2},   // near: stands on it, still not found
      {"BB", 2, SEEK_RNG_OPEN, SEEK_DIR_FORWARD, false, true, 4},   // exclusive: the next greater
      {"ZZ", 2, 0, SEEK_DIR_FORWARD, true, false, 6},               // beyond the greatest
      {"BB", 2, 0, SEEK_DIR_BACKWARD, false, true, 5},              // backward: the last BB
      {"BB", 2, SEEK_RNG_OPEN, SEEK_DIR_BACKWARD, false, true, 3},  // backward exclusive: AA
      {"A", 1, 0, SEEK_DIR_BACKWARD, false, true, 3},               // prefix
      {"0", 1, 0, SEEK_DIR_BACKWARD, false, false, 6},              // below the smallest
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.key) + " dir " + std::to_string(c.dir) + " rng " + std::to_string(c.rng));
    EXPECT_EQ(cursor->seek(c.key, c.n, c.rng, c.dir, c.near), c.found);
    EXPECT_EQ(dbf->recno, c.recno);
    EXPECT_EQ(dbf->eof, c.recno == 6);
  }
  // Direction 0 follows the order: on the descending tag a seek finds the last BB.
  cursor->select_index(String("NAMED"), SEEK_DIR_SELECTED);
  EXPECT_TRUE(cursor->seek("BB", 2, 0, SEEK_DIR_SELECTED, false));
  EXPECT_EQ(dbf->recno, 5u);
  // Seek unique finds the pair only.
  EXPECT_TRUE(cursor->seek_unique(key4("BB").data(), 5));
  EXPECT_EQ(dbf->recno, 5u);
  EXPECT_TRUE(cursor->seek_unique(key4("BB").data(), 2));
  EXPECT_EQ(dbf->recno, 2u);
  EXPECT_FALSE(cursor->seek_unique(key4("BB").data(), 3));
  EXPECT_TRUE(dbf->eof);
}

TEST_F(CursorFixture, ReentryRaisesIllegalRecursionAndTheFlagClearsAfterAnException) {
  cursor->select_index(String("NAME"), SEEK_DIR_SELECTED);
  dbf->busy = true;  // as while a key program runs on this table
  EXPECT_THROW(cursor->seek("BB", 2, 0, SEEK_DIR_SELECTED, false), dbf_illegal_recursion);
  EXPECT_THROW(cursor->seek_unique(key4("BB").data(), 2), dbf_illegal_recursion);
  EXPECT_THROW(cursor->select_index(size_t{0}, SEEK_DIR_SELECTED), dbf_illegal_recursion);
  EXPECT_THROW(cursor->go_to(1), dbf_illegal_recursion);
  EXPECT_THROW(dbf->go_top(), dbf_illegal_recursion);
  EXPECT_TRUE(dbf->busy);
  dbf->busy = false;
  EXPECT_THROW(cursor->go_to(99), dbf_error_record_out_of_range);
  EXPECT_FALSE(dbf->busy);
  EXPECT_THROW(cursor->select_index(size_t{7}, SEEK_DIR_SELECTED), dbf_error_unknown_index_tag);
  EXPECT_FALSE(dbf->busy);
  EXPECT_TRUE(cursor->seek("CC", 2, 0, SEEK_DIR_SELECTED, false));
  EXPECT_EQ(dbf->recno, 4u);
}

TEST_F(CursorFixture, WritesThatWouldLeaveTagsStaleAreRefusedBeforeAnythingIsWritten) {
  dbf->go_to_in_file(1);
  dbf->set_string(0, String("ZZ"));
  EXPECT_THROW(dbf->update(nullptr), RuntimeError);
  dbf->begin_append();
  dbf->set_string(0, String("EE"));
  EXPECT_THROW(dbf->update(nullptr), RuntimeError);
  EXPECT_FALSE(cursor->index_file()->is_locked());
  dbf.reset();
  auto again = open_dbf_file(String(table), 0);
  EXPECT_EQ(again->reccount(), 5u);
  again->go_to_in_file(1);
  Variant v;
  again->get_variant(0, &v);
  EXPECT_EQ(v.string.u8str(), "DD  ");
}

TEST_F(CursorFixture, OneLockGuardNestsAndReleasesOnAnyExit) {
  IndexFile* cdx = cursor->index_file();
  {
    LockAllIndizes all(dbf.get());
    EXPECT_TRUE(cdx->is_locked());
    { LockAllIndizes inner(dbf.get()); }  // nested: took nothing, releases nothing
    EXPECT_TRUE(cdx->is_locked());
  }
  EXPECT_FALSE(cdx->is_locked());
  try {
    LockAllIndizes all(dbf.get());
    throw std::runtime_error("leaves the scope");
  } catch (const std::runtime_error&) {
  }
  EXPECT_FALSE(cdx->is_locked());
}

TEST(StructuralIndex, NameFollowsTheTableAndAMissingFileIsRefused) {
  EXPECT_EQ(structural_index_name(String("/d/Orders.DBF")).u8str(), "/d/Orders.cdx");
  EXPECT_EQ(structural_index_name(String("/d/x.dbc")).u8str(), "/d/x.dcx");
  EXPECT_THROW(structural_index_name(String("/d/x.txt")), dbf_cdx_file_missing);
  install_dbf_index_hooks();
  testing_files::TempDir dir;
  const auto table = dir.path / "t.dbf";
  {
    auto dbf = create_table(table, {field("NAME", FIELDINFO_CHAR, 4)}, testing_dbf::options(), OPEN_WRITE);
    dbf->has_structural_index = true;
    dbf->write_dbf_header();
  }
  EXPECT_THROW(open_dbf_file(String(table), 0), dbf_cdx_file_missing);
}

}  // namespace
}  // namespace qzbase::index_testing
