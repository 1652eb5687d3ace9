// DROP TABLE and RENAME TABLE on the files of a table: all or nothing.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "builtins_support.h"
#include "platform/file.h"
#include "tables/table_files.h"
#include "temp_dir.h"

namespace qzbase {
namespace {

namespace fs = std::filesystem;
using namespace testing_builtins;
using testing_files::TempDir;

std::string read_file(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// A table of three files whose contents name them, so a mix-up shows.
struct TableFiles {
  explicit TableFiles(const TempDir& dir, const std::string& stem = "orders") {
    for (const char* ext : {".dbf", ".fpt", ".cdx"}) files.push_back(dir.write(stem + ext, stem + ext));
  }
  bool all_present(const std::string& stem) const {
    for (const fs::path& f : files) {
      fs::path p = f.parent_path() / (stem + f.extension().string());
      if (!fs::exists(p) || read_file(p) != f.filename().string()) return false;
    }
    return true;
  }
  std::vector<fs::path> files;
};

// An exclusive open held by this process stands in for another user of the file.
std::unique_ptr<File> hold(const fs::path& p, OpenMode mode) { return std::unique_ptr<File>(open_file(String(p), mode)); }

TEST(DropTable, RemovesTheTableItsMemoAndItsIndex) {
  RuntimeFixture f;
  TempDir dir;
  TableFiles table(dir);
  dir.write("other.dbf", "x");
  drop_table(f.stack, String((dir.path / "orders").string().c_str()));
  for (const fs::path& p : table.files) EXPECT_FALSE(fs::exists(p)) << p;
  EXPECT_TRUE(fs::exists(dir.path / "other.dbf"));
}

TEST(DropTable, AFileInUseLeavesTheWholeTable) {
  RuntimeFixture f;
  TempDir dir;
  TableFiles table(dir);
  for (OpenMode mode : {OpenMode(OPEN_WRITE), OpenMode(OPEN_SHARED)}) {
    for (const fs::path& busy : table.files) {
      std::unique_ptr<File> held = hold(busy, mode);
      auto e = error_of([&] { drop_table(f.stack, String((dir.path / "orders.dbf").string().c_str())); });
      EXPECT_EQ(e.first, 1705) << busy;
      EXPECT_TRUE(table.all_present("orders")) << busy;
      held->close();
    }
  }
}

TEST(DropTable, Refusals) {
  RuntimeFixture f;
  TempDir dir;
  dir.write("notes.txt", "x");
  const std::string missing = (dir.path / "nosuch").string();
  auto e = error_of([&] { drop_table(f.stack, String(missing.c_str())); });
  EXPECT_EQ(e.first, 1);
  EXPECT_EQ(e.second, missing);
  e = error_of([&] { drop_table(f.stack, String((dir.path / "notes.txt").string().c_str())); });
  EXPECT_EQ(e.first, 11);
  EXPECT_TRUE(fs::exists(dir.path / "notes.txt"));
}

TEST(RenameTable, MovesEveryFileKeepingItsExtension) {
  RuntimeFixture f;
  TempDir dir;
  TableFiles table(dir);
  rename_table(f.stack, String((dir.path / "orders").string().c_str()), String((dir.path / "archive").string().c_str()));
  EXPECT_TRUE(table.all_present("archive"));
  for (const fs::path& p : table.files) EXPECT_FALSE(fs::exists(p)) << p;
}

TEST(RenameTable, OntoAnExistingTableRaises7AndChangesNothing) {
  RuntimeFixture f;
  TempDir dir;
  TableFiles table(dir);
  // Only the memo file of the target exists: still a table the rename would damage.
  dir.write("archive.fpt", "keep");
  const std::string target = (dir.path / "archive").string();
  auto e = error_of([&] { rename_table(f.stack, String((dir.path / "orders").string().c_str()), String(target.c_str())); });
  EXPECT_EQ(e.first, 7);
  EXPECT_EQ(e.second, target + ".fpt");
  EXPECT_TRUE(table.all_present("orders"));
  EXPECT_EQ(read_file(dir.path / "archive.fpt"), "keep");
  EXPECT_FALSE(fs::exists(dir.path / "archive.dbf"));
}

TEST(RenameTable, AMemoInUseMovesNothing) {
  RuntimeFixture f;
  TempDir dir;
  TableFiles table(dir);
  std::unique_ptr<File> held = hold(table.files[1], OPEN_SHARED);
  auto e = error_of([&] {
    rename_table(f.stack, String((dir.path / "orders").string().c_str()), String((dir.path / "archive").string().c_str()));
  });
  EXPECT_EQ(e.first, 1705);
  EXPECT_TRUE(table.all_present("orders"));
  EXPECT_FALSE(fs::exists(dir.path / "archive.dbf"));
  held->close();
}

TEST(RenameTable, AFailedLaterRenamePutsBackTheFilesAlreadyMoved) {
  // The memo's or the index's rename fails after the table file has moved: every file is back
  // under the old name and nothing is left under the new one.
  for (size_t failing : {size_t{1}, size_t{2}}) {
    RuntimeFixture f;
    TempDir dir;
    TableFiles table(dir);
    static size_t fail_at;
    fail_at = failing;
    set_rename_table_fault_hook([](size_t position) { return position == fail_at; });
    auto e = error_of([&] {
      rename_table(f.stack, String((dir.path / "orders").string().c_str()), String((dir.path / "archive").string().c_str()));
    });
    set_rename_table_fault_hook(nullptr);
    EXPECT_EQ(e.first, 1705) << failing;
    EXPECT_TRUE(table.all_present("orders")) << failing;
    for (const char* ext : {".dbf", ".fpt", ".cdx"}) EXPECT_FALSE(fs::exists(dir.path / ("archive" + std::string(ext)))) << failing;
  }
}

}  // namespace
}  // namespace qzbase
