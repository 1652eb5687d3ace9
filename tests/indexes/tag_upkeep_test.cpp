// Tags of a table's structural file kept current: creating tags (names, numbering, binary and
// nullable keys, option rules), the key and FOR expressions, appends and changes of records with
// every kind of tag, enforced uniqueness, deleting tags, and tags made by another process while
// this one writes. Tables are real files in a temporary directory, opened through the table
// object so that key expressions run with the table bound.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "../tables/dbf_support.h"
#include "btree_support.h"
#include "capture_screen.h"
#include "host/runtime.h"
#include "indexes/dbf_index_hooks.h"
#include "indexes/index_keys.h"
#include "tables/table_dbf.h"
#include "tables/table_object.h"
#include "temp_dir.h"
#include "vm/vm_stack.h"

namespace qzbase::index_testing {
namespace {

namespace fs = std::filesystem;
using testing_dbf::create_table;
using testing_dbf::field;

struct TagDef {
  const char* name;
  const char* key;
  const char* condition = "";
  bool descending = false;
  bool candidate = false;
  bool binary = false;
  bool unique = false;
  const char* collation = "MACHINE";
};

internal_indexdef_st indexdef(const TagDef& d) {
  internal_indexdef_st def;
  def.tag_name = String(d.name);
  def.key_expression = String(d.key);
  def.for_expression = String(d.condition);
  def.collation_name = String(d.collation);
  def.descending = d.descending;
  def.candidate = d.candidate;
  def.unique = d.unique;
  def.binary = d.binary;
  return def;
}

std::string padded(const std::string& s, size_t n) { return (s + std::string(n, ' ')).substr(0, n); }

std::string int_key(int64_t v) {
  char k[4];
  keyI4(integer_type_st{v}, k, 4);
  return std::string(k, 4);
}

// t.dbf: NAME C(8), QTY I, CODE C(4), OK L, NOTE C(6) nullable.
struct TagFixture : ::testing::Test {
  TagFixture() : runtime(CreateRuntime(&screen)), stack(new VmStack(runtime, 1024, 128)), cwd(dir.path) {
    install_dbf_index_hooks();
    init_dbf_tables();
    fielddef_st note = field("NOTE", FIELDINFO_CHAR, 6);
    note.null_mode = FIELDINFO_NULL;
    path = dir.path / "t.dbf";
    create_table(path, {field("NAME", FIELDINFO_CHAR, 8), field("QTY", FIELDINFO_INTEGER),
                        field("CODE", FIELDINFO_CHAR, 4), field("OK", FIELDINFO_LOGICAL), note})
        ->close();
  }
  ~TagFixture() override {
    held.clear();
    delete stack;
    ReleaseRuntime(runtime);
  }

  void open(bool shared = false) {
    held.clear();
    held.push_back(Table_Object::use(stack, String("t"), shared, false));
    table = static_cast<Table_Object_QzDbf*>(held.back().get());
    dbf = table->dbf();
    hooks = table_cursor(dbf);
    ASSERT_NE(hooks, nullptr);
  }

  // Runs body with the table bound to the stack, as the table object runs its operations.
  template <typename F>
  auto bound(F body) {
    Current_Table_Guard guard(stack, table);
    return body();
  }

  void create(const TagDef& d, bool accept_altered = false) {
    createopts_st opts{};
    opts.accept_altered_tag_names = accept_altered;
    const internal_indexdef_st def = indexdef(d);
    bound([&] { hooks->create_index_tag(stack, &opts, &def); });
  }

  struct Row {
    std::string name;
    int64_t qty;
    std::string code;
    bool ok = false;
    bool note_null = false;
  };

  void set_row(const Row& r) {
    dbf->set_string(0, String(r.name.c_str()));
    dbf->set_integer(1, integer_type_st{r.qty});
    dbf->set_string(2, String(r.code.c_str()));
    dbf->set_logical(3, r.ok);
    if (r.note_null) {
      dbf->set_null(4);
    } else {
      dbf->set_string(4, String("n"));
    }
  }

  void append(const Row& r) {
    dbf->begin_append();
    set_row(r);
    bound([&] { dbf->update(stack); });
  }

  void replace(size_t recno, const Row& r) {
    dbf->go_to_in_file(recno);
    set_row(r);
    bound([&] { dbf->update(stack); });
  }

  DbfIndex* tag(const char* name) { return hooks->find_tag(String(name)); }

  // The (key, record) pairs of the tag in key order, checked for the tree's shape.
  std::vector<Pair> pairs(const char* name) {
    DbfIndex* t = tag(name);
    TreeChecker checker(t);
    return checker.check();
  }

  std::vector<uint32_t> records(const char* name) {
    std::vector<uint32_t> out;
    for (const Pair& p : pairs(name)) out.push_back(p.second);
    return out;
  }

  testing_screen::CaptureScreen screen;
  Runtime* runtime;
  VmStack* stack;
  testing_files::TempDir dir;
  testing_files::CwdGuard cwd;
  fs::path path;
  std::vector<ObjectPointer> held;
  Table_Object_QzDbf* table = nullptr;
  DbfFile* dbf = nullptr;
  IndexCursorHooks* hooks = nullptr;
};

int runtime_error_of(const std::function<void()>& body, std::string* detail = nullptr) {
  try {
    body();
  } catch (const RuntimeError& e) {
    if (detail != nullptr) *detail = e.detail.u8str();
    return e.code;
  }
  return 0;
}

TEST_F(TagFixture, TagsAreNumberedByTheirPlaceInTheFile) {
  open();
  append({"b", 2, "X"});
  append({"a", 1, "Y"});
  // A left-over file of the name, unknown to the table's header, is replaced.
  testing_dbf::write_bytes(dir.path / "t.cdx", std::string(3000, 'x'));
  create({"zz", "NAME"});
  create({"aa", "QTY"});
  EXPECT_TRUE(dbf->has_structural_index);
  EXPECT_TRUE(fs::exists(dir.path / "t.cdx"));
  open();
  ASSERT_EQ(hooks->index_count(), 2u);
  EXPECT_EQ(hooks->index(0)->name.u8str(), "ZZ");
  EXPECT_EQ(hooks->index(1)->name.u8str(), "AA");
  EXPECT_EQ(records("ZZ"), (std::vector<uint32_t>{2, 1}));
  EXPECT_EQ(pairs("AA"), (std::vector<Pair>{{int_key(1), 2}, {int_key(2), 1}}));
  internal_indexdef_st def;
  ASSERT_TRUE(hooks->get_indexdef(1, &def));
  EXPECT_EQ(def.tag_name.u8str(), "AA");
  EXPECT_EQ(def.tag_number, 1u);
  EXPECT_EQ(def.key_expression.u8str(), "QTY");
  EXPECT_EQ(def.key_flag, 0);
  EXPECT_FALSE(hooks->get_indexdef(2, &def));
}

TEST_F(TagFixture, TheStructuralFileTakesTheTablesNameWithItsOwnExtension) {
  create_table(dir.path / "Orders.DBF", {field("NAME", FIELDINFO_CHAR, 4)})->close();
  held.push_back(Table_Object::use(stack, String("Orders.DBF"), false, false));
  table = static_cast<Table_Object_QzDbf*>(held.back().get());
  dbf = table->dbf();
  hooks = table_cursor(dbf);
  create({"NAME", "NAME"});
  EXPECT_TRUE(fs::exists(dir.path / "Orders.cdx"));
  EXPECT_EQ(fs::path(hooks->index_file_name().u8str()).filename(), "Orders.cdx");
  held.clear();
  held.push_back(Table_Object::use(stack, String("orders.dbf"), false, false));
  table = static_cast<Table_Object_QzDbf*>(held.back().get());
  EXPECT_EQ(table_cursor(table->dbf())->index_count(), 1u);
}

// A memo holds text of any length: no key of fixed length can stand for it.
TEST_F(TagFixture, AMemoFieldIsNoKey) {
  create_table(dir.path / "m.dbf", {field("TEXT", FIELDINFO_MEMO), field("NAME", FIELDINFO_CHAR, 4)})->close();
  held.push_back(Table_Object::use(stack, String("m"), false, false));
  table = static_cast<Table_Object_QzDbf*>(held.back().get());
  dbf = table->dbf();
  hooks = table_cursor(dbf);
  EXPECT_THROW(create({"TEXT", "TEXT"}), dbf_error_type_index_expression);
  EXPECT_NO_THROW(create({"PART", "LEFT(TEXT, 10)"}));
}

// The root leaf of a tag made on an empty table has entries for small record numbers; later
// records widen them.
TEST_F(TagFixture, ATagMadeOnAnEmptyTableTakesAnyNumberOfRecords) {
  open();
  create({"QTY", "QTY"});
  create({"UP", "UPPER(NAME)"});
  const index_node_st root = hooks->index_file()->node(tag("QTY"), tag("QTY")->header.root);
  EXPECT_TRUE(root.root);
  EXPECT_GE(root.geometry.record_mask, 255u);
  EXPECT_LT(root.geometry.record_mask, 2000u);
  std::vector<Pair> expected;
  for (int i = 1; i <= 2000; ++i) {
    append({"n", 2000 - i, "X"});
    expected.emplace_back(int_key(2000 - i), static_cast<uint32_t>(i));
  }
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(pairs("QTY"), expected);
  internal_indexdef_st def;
  ASSERT_TRUE(hooks->get_indexdef(tag("UP")->number, &def));
  EXPECT_EQ(def.key_flag, 1);  // an expression, not a plain field
  EXPECT_EQ(def.collation_name.u8str(), "MACHINE");
  EXPECT_EQ(def.for_expression.u8str(), "");
}

TEST_F(TagFixture, TagNamesAreCleanedCutAndNumberedOnlyWhenAllowed) {
  open();
  append({"a", 1, "X"});
  create({"name", "NAME"});
  struct Case {
    const char* name;
    bool accept;
    const char* taken;  // the name the tag got; null when creation raised
    int raised;         // 1 invalid characters, 2 too long, 3 duplicate
  };
  const Case cases[] = {
      {"NAME", false, nullptr, 3},
      {"Name", true, "NAME2", 0},
      {"name", true, "NAME3", 0},
      {"ABCDEFGHIJKL", false, nullptr, 2},
      {"ABCDEFGHIJKL", true, "ABCDEFGHIJ", 0},
      {"BAD NAME", false, nullptr, 1},
      {"ABCDEFGHIJXY", true, "ABCDEFGHI2", 0},  // cut to ABCDEFGHIJ, which is taken now
  };
  for (const Case& c : cases) {
    const size_t before = hooks->index_count();
    int raised = 0;
    try {
      create({c.name, "QTY"}, c.accept);
    } catch (const dbf_error_index_tag_name_invalid_characters&) {
      raised = 1;
    } catch (const dbf_error_index_tag_name_too_long&) {
      raised = 2;
    } catch (const dbf_error_index_tag_name_duplicate&) {
      raised = 3;
    }
    EXPECT_EQ(raised, c.raised) << c.name;
    if (c.taken == nullptr) {
      EXPECT_EQ(hooks->index_count(), before) << c.name;
    } else {
      ASSERT_EQ(hooks->index_count(), before + 1) << c.name;
      EXPECT_EQ(hooks->index(before)->name.u8str(), c.taken);
    }
  }
  // What the refused attempts left in the file is unreachable: the directory lists the rest.
  open();
  std::vector<std::string> names;
  for (size_t i = 0; i < hooks->index_count(); ++i) names.push_back(hooks->index(i)->name.u8str());
  EXPECT_EQ(names, (std::vector<std::string>{"NAME", "NAME2", "NAME3", "ABCDEFGHIJ", "ABCDEFGHI2"}));
  EXPECT_EQ(records("NAME3"), (std::vector<uint32_t>{1}));
}

TEST_F(TagFixture, KeyLengthFollowsTypeWidthCollationAndNulls) {
  open();
  append({"abc", 1, "X"});
  struct Case {
    const char* key;
    const char* collation;
    uint32_t length;
    bool nullable;
  };
  const Case cases[] = {
      {"NAME", "MACHINE", 8, false}, {"QTY", "MACHINE", 4, false},      {"OK", "MACHINE", 1, false},
      {"NAME+CODE", "MACHINE", 12, false}, {"NOTE", "MACHINE", 7, true}, {"NAME", "GENERAL", 16, false},
      {"NOTE", "GENERAL", 13, true},
      // Arithmetic has no static type: the keys are numbers of 8 bytes, integer results or not.
      {"QTY % 20", "MACHINE", 8, false}, {"QTY * 2.5", "MACHINE", 8, false}, {"QTY / 3", "MACHINE", 8, false},
      {"QTY + 1", "MACHINE", 8, false},
  };
  int n = 0;
  for (const Case& c : cases) {
    const std::string name = "T" + std::to_string(++n);
    create({name.c_str(), c.key, "", false, false, false, false, c.collation});
    DbfIndex* t = tag(name.c_str());
    EXPECT_EQ(t->key_length(), c.length) << c.key << " " << c.collation;
    EXPECT_EQ(t->header.option(IDX_OPT_NULLABLE), c.nullable) << c.key;
    EXPECT_EQ(t->header.option(IDX_OPT_MACHINE), std::string(c.collation) == "MACHINE") << c.key;
    EXPECT_EQ(t->header.option(IDX_OPT_COLLATED), std::string(c.collation) != "MACHINE") << c.key;
    EXPECT_EQ(pairs(name.c_str()).size(), 1u) << c.key;
  }
  // Too long a key, and a FOR condition that is not logical.
  EXPECT_THROW(create({"LONG", "REPLICATE(NAME, 31)"}), dbf_invalid_index_key_len);
  EXPECT_THROW(create({"NOTLOGIC", "NAME", "QTY"}), dbf_index_filter_must_be_logical);
  EXPECT_THROW(create({"COLL", "NAME", "", false, false, false, false, "FRENCH"}), dbf_error_collation_not_supported);
}

TEST_F(TagFixture, NullKeysSortFirstInANullableTag) {
  open();
  Row null_note{"b", 2, "X"};
  null_note.note_null = true;
  append({"a", 1, "Y"});
  append(null_note);
  create({"NOTE", "NOTE"});
  append(null_note);
  const std::string null_key(7, '\0');
  const std::string n_key = std::string(1, '\x80') + padded("n", 6);
  EXPECT_EQ(pairs("NOTE"), (std::vector<Pair>{{null_key, 2}, {null_key, 3}, {n_key, 1}}));
  replace(2, {"b", 2, "X"});
  EXPECT_EQ(pairs("NOTE"), (std::vector<Pair>{{null_key, 3}, {n_key, 1}, {n_key, 2}}));
}

// The first record decides that this key cannot be null; a later null has no place in the tag.
TEST_F(TagFixture, ANullKeyInATagWithoutTheNullableOptionIsRefused) {
  open();
  append({"a", 1, "X"});
  create({"N", "IIF(QTY > 5, .NULL., NAME)"});
  EXPECT_FALSE(tag("N")->header.option(IDX_OPT_NULLABLE));
  EXPECT_THROW(append({"b", 9, "Y"}), dbf_error_index_cannot_store_null);
  dbf->revert();
  EXPECT_EQ(dbf->reccount(), 1u);
  EXPECT_THROW(replace(1, {"a", 9, "X"}), dbf_error_index_cannot_store_null);
  dbf->revert();
  EXPECT_EQ(pairs("N"), (std::vector<Pair>{{padded("a", 8), 1}}));
  // Creating such a tag over a record that gives null fails the same way.
  dbf->go_to_in_file(1);
  hooks->delete_index_tag(String("N"));
  append({"b", 9, "Y"});
  dbf->go_to_in_file(1);
  EXPECT_THROW(create({"N", "IIF(QTY > 5, .NULL., NAME)"}), dbf_error_index_cannot_store_null);
  EXPECT_EQ(hooks->index_count(), 0u);
}

TEST_F(TagFixture, BinaryTagsNeedALogicalKeyWithoutFilter) {
  open();
  append({"a", 1, "X", true});
  std::string detail;
  EXPECT_EQ(runtime_error_of([&] { create({"B", "QTY", "", false, false, true}); }), 2156);
  EXPECT_EQ(runtime_error_of([&] { create({"B", "OK", "QTY > 0", false, false, true}); }, &detail), 1001);
  EXPECT_EQ(detail, "Binary index with filter");
  EXPECT_FALSE(dbf->has_structural_index);  // refused before the file was made

  append({"b", 2, "Y", false});
  create({"ORD", "NAME"});
  create({"B", "OK", "", false, false, true});
  DbfIndex* b = tag("B");
  EXPECT_TRUE(b->binary());
  EXPECT_EQ(b->key_length(), 1u);
  // A binary tag is never the order, and the ordinary one stays selected.
  EXPECT_EQ(dbf->selected_index(), tag("ORD"));
  EXPECT_EQ(hooks->binary_tags(), (std::vector<DbfIndex*>{b}));
  EXPECT_THROW(hooks->select_index(String("B"), SEEK_DIR_SELECTED), dbf_select_binary_index_not_supported);
  append({"c", 3, "Z", true});
  replace(1, {"a", 1, "X", false});
  TreeChecker checker(b);
  EXPECT_EQ(checker.bits(), (std::map<uint32_t, bool>{{1, false}, {2, false}, {3, true}}));
}

TEST_F(TagFixture, ForConditionDecidesWhichRecordsATagHolds) {
  open();
  append({"a", 1, "X"});
  append({"b", 9, "Y"});
  create({"BIG", "NAME", "QTY > 5"});
  EXPECT_EQ(records("BIG"), (std::vector<uint32_t>{2}));
  replace(1, {"a", 7, "X"});  // becomes true: added
  EXPECT_EQ(records("BIG"), (std::vector<uint32_t>{1, 2}));
  replace(2, {"b", 2, "Y"});  // becomes false: removed
  EXPECT_EQ(records("BIG"), (std::vector<uint32_t>{1}));
  replace(1, {"z", 8, "X"});  // stays true with a new key
  EXPECT_EQ(pairs("BIG"), (std::vector<Pair>{{padded("z", 8), 1}}));
  append({"c", 3, "Z"});  // an append outside the condition
  append({"d", 6, "W"});
  EXPECT_EQ(records("BIG"), (std::vector<uint32_t>{4, 1}));
}

// Key programs need a stack with the table bound; a write without one changes nothing.
TEST_F(TagFixture, WritesWithoutAStackAreRefusedWhenTagsNeedTheirKeys) {
  open();
  append({"a", 1, "X"});
  create({"NAME", "NAME"});
  dbf->begin_append();
  set_row({"b", 2, "Y"});
  EXPECT_EQ(runtime_error_of([&] { dbf->update(nullptr); }), 1001);
  dbf->revert();
  dbf->go_to_in_file(1);
  set_row({"c", 2, "Y"});
  EXPECT_EQ(runtime_error_of([&] { dbf->update(nullptr); }), 1001);
  dbf->revert();
  EXPECT_EQ(dbf->reccount(), 1u);
  EXPECT_EQ(pairs("NAME"), (std::vector<Pair>{{padded("a", 8), 1}}));
}

TEST_F(TagFixture, ChangingAFieldTheKeyDoesNotReadLeavesTheTagAlone) {
  open();
  append({"a", 1, "X"});
  create({"NAME", "NAME"});
  const uint64_t version = tag("NAME")->header.version;
  replace(1, {"a", 5, "Q"});
  EXPECT_EQ(tag("NAME")->header.version, version);
  EXPECT_EQ(dbf->fields[0]->dependent_tags, (std::vector<DbfIndex*>{tag("NAME")}));
  EXPECT_TRUE(dbf->fields[1]->dependent_tags.empty());
}

// On a table held exclusively a write that changes no key leaves the index file unlocked and
// untouched; one that changes a key takes the lock.
TEST_F(TagFixture, AWriteThatChangesNoKeyTakesNoIndexLock) {
  open();
  append({"a", 1, "X"});
  create({"NAME", "NAME"});
  create({"FLAG", "OK", "", false, false, true});  // a binary tag
  IndexFile* file = hooks->index_file();
  const uint64_t generation = file->lock_generation();
  replace(1, {"a", 5, "Q"});
  EXPECT_EQ(file->lock_generation(), generation);
  replace(1, {"b", 5, "Q"});
  EXPECT_EQ(file->lock_generation(), generation + 1);
  EXPECT_EQ(pairs("NAME"), (std::vector<Pair>{{padded("b", 8), 1}}));
  replace(1, {"b", 5, "Q", true});
  EXPECT_EQ(file->lock_generation(), generation + 2);
  EXPECT_EQ(TreeChecker(tag("FLAG")).bits(), (std::map<uint32_t, bool>{{1, true}}));
}

TEST_F(TagFixture, AFilterOfAnotherTypeAtRunTimeRaises11) {
  open();
  append({"a", 1, "X"});
  create({"ODD", "NAME", "IIF(QTY > 5, 1, .T.)"});
  dbf->begin_append();
  set_row({"b", 9, "Y"});
  EXPECT_EQ(runtime_error_of([&] { bound([&] { dbf->update(stack); }); }), 11);
  EXPECT_EQ(dbf->reccount(), 1u);
}

TEST_F(TagFixture, EnforcedUniqueViolationsChangeNoTagAndNoRecord) {
  open();
  append({"a", 1, "AA"});
  append({"b", 2, "BB"});
  create({"NAME", "NAME"});
  create({"QTY", "QTY", "", true});
  create({"CODE", "CODE", "", false, true});
  const auto name_before = pairs("NAME"), qty_before = pairs("QTY"), code_before = pairs("CODE");
  // A change whose new code is taken, with other keys changing too.
  try {
    replace(2, {"z", 7, "AA"});
    ADD_FAILURE() << "no violation";
  } catch (const dbf_unique_key_violation& e) {
    EXPECT_EQ(e.named(), "CODE");
  }
  dbf->revert();
  EXPECT_EQ(pairs("NAME"), name_before);
  EXPECT_EQ(pairs("QTY"), qty_before);
  EXPECT_EQ(pairs("CODE"), code_before);
  // An append: no record either.
  EXPECT_THROW(append({"c", 3, "BB"}), dbf_unique_key_violation);
  dbf->revert();
  EXPECT_EQ(dbf->reccount(), 2u);
  EXPECT_EQ(pairs("NAME"), name_before);
  open();
  dbf->go_to_in_file(2);
  Variant v;
  dbf->get_variant(0, &v);
  EXPECT_EQ(v.string.u8str(), padded("b", 8));
  // Keeping its own code is no violation.
  replace(2, {"y", 2, "BB"});
  EXPECT_EQ(pairs("CODE"), code_before);
  // Creating the tag over duplicates fails naming it and leaves the other tags.
  append({"y", 3, "CC"});
  try {
    create({"NAME2", "NAME", "", false, true});
    ADD_FAILURE() << "no violation";
  } catch (const dbf_unique_key_violation& e) {
    EXPECT_EQ(e.named(), "NAME2");
  }
  EXPECT_EQ(hooks->index_count(), 3u);
}

TEST_F(TagFixture, AKeyMissingFromItsTagIsReportedWithTheFileName) {
  open();
  append({"a", 1, "X"});
  create({"NAME", "NAME"});
  {
    LockAllIndizes locks(dbf);
    ASSERT_TRUE(tag("NAME")->delete_key(padded("a", 8).data(), 1));
  }
  try {
    replace(1, {"b", 1, "X"});
    ADD_FAILURE() << "no error";
  } catch (const dbf_index_file_corrupted& e) {
    EXPECT_EQ(fs::path(e.named()).filename(), "t.cdx");
  }
}

TEST_F(TagFixture, ADamagedNodeIsReportedWithTheFileName) {
  open();
  for (int i = 0; i < 3; ++i) append({"a", i, "X"});
  create({"NAME", "NAME"});
  const auto root = static_cast<std::streamoff>(tag("NAME")->header.root);
  held.clear();
  std::string bytes = testing_dbf::read_bytes(dir.path / "t.cdx");
  std::memset(bytes.data() + root, 0x7F, 24);  // a leaf head no decoder accepts
  testing_dbf::write_bytes(dir.path / "t.cdx", bytes);
  open();
  for (const auto& move : std::vector<std::function<void()>>{
           [&] { hooks->select_index(String("NAME"), SEEK_DIR_SELECTED); },
           [&] {
             dbf->select_index_order(tag("NAME"), false);
             dbf->go_top();
           },
           [&] { hooks->seek(padded("a", 8).data(), 8, 0, SEEK_DIR_SELECTED, false); },
           [&] { replace(1, {"b", 0, "X"}); },
       }) {
    try {
      move();
      ADD_FAILURE() << "no error";
    } catch (const dbf_index_file_corrupted& e) {
      EXPECT_EQ(fs::path(e.named()).filename(), "t.cdx");
    }
    dbf->revert();
  }
}

TEST_F(TagFixture, DeletingTagsNeedsExclusiveUse) {
  open();
  append({"a", 1, "X"});
  append({"b", 0, "Y"});
  create({"ONE", "NAME"});
  create({"TWO", "QTY"});
  create({"THREE", "CODE"});
  EXPECT_EQ(dbf->selected_index(), tag("THREE"));
  hooks->delete_index_tag(String("three"));
  EXPECT_EQ(dbf->selected_index(), nullptr);
  EXPECT_THROW(hooks->delete_index_tag(String("THREE")), dbf_error_unknown_index_tag);
  hooks->select_index(String("TWO"), SEEK_DIR_SELECTED);
  hooks->delete_index_tag(String("ONE"));
  EXPECT_EQ(dbf->selected_index(), tag("TWO"));
  EXPECT_EQ(tag("TWO")->number, 0u);
  append({"c", 5, "Z"});
  open();
  ASSERT_EQ(hooks->index_count(), 1u);
  EXPECT_EQ(records("TWO"), (std::vector<uint32_t>{2, 1, 3}));

  open(true);
  EXPECT_THROW(hooks->delete_index_tag(String("TWO")), dbf_error_need_exclusive_access);
  EXPECT_THROW(hooks->delete_all_index_tags(), dbf_error_need_exclusive_access);
  open();
  hooks->delete_all_index_tags();
  EXPECT_FALSE(fs::exists(dir.path / "t.cdx"));
  EXPECT_EQ(hooks->index_count(), 0u);
  open();
  EXPECT_FALSE(dbf->has_structural_index);
  append({"d", 6, "W"});  // no tags, no file
  EXPECT_FALSE(fs::exists(dir.path / "t.cdx"));
  // Without a file there is nothing to delete.
  EXPECT_NO_THROW(hooks->delete_index_tag(String("TWO")));
}

TEST_F(TagFixture, OpeningATagWhoseFilterIsNotLogicalRaises37) {
  open();
  append({"a", 1, "X"});
  create({"F", "NAME", "QTY > 0"});
  DbfIndex* t = tag("F");
  idx_header_st h = t->header;
  h.for_expression = String("QTY");
  {
    LockAllIndizes locks(dbf);
    hooks->index_file()->write_header(&h, t->header_offset);
  }
  held.clear();
  EXPECT_EQ(runtime_error_of([&] { open(); }), 37);
}

TEST_F(TagFixture, ATagWhoseKeysNoLongerFitTheirStoredLengthRaises112) {
  open();
  append({"a", 1, "X"});
  create({"K", "NAME"});
  DbfIndex* t = tag("K");
  idx_header_st h = t->header;
  h.key_expression = String("QTY");  // 4-byte keys for a tag of 8-byte keys
  {
    LockAllIndizes locks(dbf);
    hooks->index_file()->write_header(&h, t->header_offset);
  }
  held.clear();
  EXPECT_EQ(runtime_error_of([&] { open(); }), 112);
}

TEST_F(TagFixture, CreatingATagSelectsItAndKeepsTheRecord) {
  open();
  for (const char* n : {"d", "b", "a", "c"}) append({n, 1, "X"});
  dbf->go_to_in_file(2);
  create({"DESC", "NAME", "", true});
  EXPECT_EQ(dbf->recno, 2u);
  EXPECT_TRUE(dbf->selected_backward());
  std::vector<size_t> order;
  for (dbf->go_top(); !dbf->eof; dbf->go_next()) order.push_back(dbf->recno);
  EXPECT_EQ(order, (std::vector<size_t>{1, 4, 2, 3}));
  // A new record's place in the order is the cursor's.
  append({"bb", 1, "X"});
  dbf->go_next();
  EXPECT_EQ(dbf->recno, 2u);
}

// A record being edited or appended when a tag is made keeps its unsaved values; the tag holds
// the stored ones until the record is written, and then the new ones.
TEST_F(TagFixture, CreatingATagKeepsTheRecordsPendingChanges) {
  open();
  for (const char* n : {"a", "b", "c"}) append({n, 1, "X"});
  auto name_in_buffer = [&] { return std::string(dbf->current_record.get() + 1, 8); };

  dbf->go_to_in_file(2);
  dbf->set_string(0, String("zz"));
  create({"NAME", "NAME"});
  EXPECT_EQ(dbf->recno, 2u);
  EXPECT_TRUE(dbf->modified());
  EXPECT_EQ(name_in_buffer(), padded("zz", 8));
  EXPECT_EQ(records("NAME"), (std::vector<uint32_t>{1, 2, 3}));
  bound([&] { dbf->update(stack); });
  EXPECT_EQ(records("NAME"), (std::vector<uint32_t>{1, 3, 2}));

  dbf->begin_append();
  set_row({"bb", 7, "Y"});
  create({"QTY", "QTY"});
  EXPECT_TRUE(dbf->appending);
  EXPECT_EQ(dbf->recno, 4u);
  EXPECT_EQ(name_in_buffer(), padded("bb", 8));
  EXPECT_EQ(records("QTY"), (std::vector<uint32_t>{1, 2, 3}));
  bound([&] { dbf->update(stack); });
  EXPECT_EQ(dbf->reccount(), 4u);
  EXPECT_EQ(records("NAME"), (std::vector<uint32_t>{1, 4, 3, 2}));
  EXPECT_EQ(records("QTY"), (std::vector<uint32_t>{1, 2, 3, 4}));
}

// With the table bound, selecting an order and going to a record find the record's entry by its
// key; among equal keys the record's own entry is the one stood on.
TEST_F(TagFixture, TheCursorStandsOnTheRecordsOwnEntry) {
  open();
  for (const char* n : {"b", "a", "b", "c", "b"}) append({n, n[0] == 'c' ? 1 : 9, "X"});
  create({"NAME", "NAME", "QTY > 5"});
  auto next_of = [&](size_t recno, bool with_stack) {
    if (with_stack) {
      bound([&] { hooks->go_to(stack, recno); });
    } else {
      hooks->go_to(recno);
    }
    EXPECT_EQ(dbf->recno, recno);
    dbf->go_next();
    return dbf->eof ? size_t{0} : dbf->recno;
  };
  for (const bool with_stack : {true, false}) {
    EXPECT_EQ(next_of(2, with_stack), 1u);
    EXPECT_EQ(next_of(1, with_stack), 3u);
    EXPECT_EQ(next_of(3, with_stack), 5u);
    EXPECT_EQ(next_of(5, with_stack), 0u);
    // Outside the FOR condition: the cursor rests on the last key.
    EXPECT_EQ(next_of(4, with_stack), 0u);
  }
  dbf->go_to_in_file(3);
  bound([&] { hooks->select_index(stack, String("name"), SEEK_DIR_BACKWARD); });
  dbf->go_next();
  EXPECT_EQ(dbf->recno, 1u);
}

// Appends, changes, deletions and recalls with a plain, a descending, a FOR, a candidate and a
// binary tag; after every step each tag holds exactly the keys the records give.
TEST_F(TagFixture, RandomWritesKeepEveryTagEqualToTheRecords) {
  open();
  std::mt19937 rng(4711);
  std::vector<Row> model;
  int next_code = 0;
  auto random_row = [&] {
    std::string name(1 + rng() % 6, 'a');
    for (char& c : name) c = static_cast<char>('a' + rng() % 4);
    return Row{name, static_cast<int64_t>(rng() % 100) - 20, "C" + std::to_string(next_code++), rng() % 2 == 0};
  };
  for (int i = 0; i < 30; ++i) {
    model.push_back(random_row());
    append(model.back());
  }
  create({"NAME", "NAME"});
  create({"QTYD", "QTY", "", true});
  create({"BIG", "NAME", "QTY > 50"});
  create({"CODE", "CODE", "", false, true});
  create({"OK", "OK", "", false, false, true});

  auto check_all = [&](int step) {
    std::vector<Pair> name, qty, big, code;
    std::map<uint32_t, bool> bits;
    for (size_t i = 0; i < model.size(); ++i) {
      const auto rec = static_cast<uint32_t>(i + 1);
      const Row& r = model[i];
      name.emplace_back(padded(r.name, 8), rec);
      qty.emplace_back(int_key(r.qty), rec);
      if (r.qty > 50) big.emplace_back(padded(r.name, 8), rec);
      code.emplace_back(padded(r.code, 4), rec);
      bits[rec] = r.ok;
    }
    for (auto* v : {&name, &qty, &big, &code}) std::sort(v->begin(), v->end());
    EXPECT_EQ(pairs("NAME"), name) << "step " << step;
    EXPECT_EQ(pairs("QTYD"), qty) << "step " << step;
    EXPECT_EQ(pairs("BIG"), big) << "step " << step;
    EXPECT_EQ(pairs("CODE"), code) << "step " << step;
    TreeChecker checker(tag("OK"));
    EXPECT_EQ(checker.bits(), bits) << "step " << step;
  };
  check_all(-1);
  for (int step = 0; step < 400; ++step) {
    const unsigned op = rng() % 10;
    if (op < 4 || model.empty()) {
      model.push_back(random_row());
      append(model.back());
    } else if (op < 8) {
      const size_t i = rng() % model.size();
      Row r = random_row();
      if (rng() % 3 == 0) r.code = model[i].code;  // keeps its code
      if (rng() % 4 == 0) r.name = model[i].name;  // keeps its name
      model[i] = r;
      replace(i + 1, r);
    } else {
      dbf->go_to_in_file(1 + rng() % model.size());
      if (op == 8) {
        dbf->delete_record();
      } else {
        dbf->recall();
      }
      bound([&] { dbf->update(stack); });
    }
    if (step % 25 == 0) check_all(step);
    if (::testing::Test::HasFailure()) return;
  }
  check_all(400);
  open();
  check_all(401);
}

TEST_F(TagFixture, TagsCanBeCreatedOnASharedTable) {
  open(true);
  for (int i = 0; i < 300; ++i) append({"n" + std::to_string(i % 37), i, "X"});
  create({"NAME", "NAME"});
  create({"QTY", "QTY"});
  EXPECT_FALSE(hooks->index_file()->is_locked());
  EXPECT_EQ(pairs("NAME").size(), 300u);
  EXPECT_EQ(pairs("QTY").size(), 300u);
  append({"zz", 1000, "X"});
  EXPECT_EQ(pairs("QTY").back(), Pair(int_key(1000), 301));
}

// One process appends to a shared table while another creates the first tag and then a second
// one: every record ends up in both tags. Half of the appends are made before the first tag
// exists and during its build, the other half after it was entered elsewhere.
TEST_F(TagFixture, ATagMadeByAnotherProcessReceivesThisProcessesWrites) {
  open(true);
  append({"first", 0, "X"});
  int go[2], made[2];
  ASSERT_EQ(pipe(go), 0);
  ASSERT_EQ(pipe(made), 0);
  const pid_t child = fork();
  if (child == 0) {
    int code = 0;
    try {
      char c;
      if (read(go[0], &c, 1) != 1) _exit(5);
      open(true);
      create({"QTY", "QTY"});
      c = 'm';
      if (write(made[1], &c, 1) != 1) _exit(6);
      create({"NAME", "NAME"});
      held.clear();
    } catch (...) {
      code = 3;
    }
    _exit(code);
  }
  char c = 'g';
  ASSERT_EQ(write(go[1], &c, 1), 1);
  for (int i = 1; i <= 1000; ++i) {
    if (i == 500) {
      ASSERT_EQ(read(made[0], &c, 1), 1);
    }
    append({"r" + std::to_string(i), i, "X"});
    if (i % 100 == 0) replace(1, {"first", -i, "X"});
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  ASSERT_EQ(WEXITSTATUS(status), 0);
  for (int fd : {go[0], go[1], made[0], made[1]}) close(fd);
  open();
  EXPECT_EQ(dbf->reccount(), 1001u);  // making the file kept the records appended meanwhile
  ASSERT_EQ(hooks->index_count(), 2u);
  const auto qty = pairs("QTY");
  ASSERT_EQ(qty.size(), 1001u);
  EXPECT_EQ(qty.front(), Pair(int_key(-1000), 1));
  for (int i = 1; i <= 1000; ++i) EXPECT_EQ(qty[static_cast<size_t>(i)], Pair(int_key(i), static_cast<uint32_t>(i + 1)));
  EXPECT_EQ(pairs("NAME").size(), 1001u);
}

// A letter and a number: a name field's value.
std::string named(char letter, int n) {
  std::string s(1, letter);
  s += std::to_string(n);
  return s;
}

// An exclusive writer takes its index writes through a mapping with blocks taken ahead. Killed
// before it closed, it leaves every key it wrote and zero bytes behind them: the file opens, its
// tags hold every record and take further keys.
TEST_F(TagFixture, AnExclusiveWriterKilledBeforeItClosedLeavesUsableTags) {
  const pid_t child = fork();
  if (child == 0) {
    int code = 0;
    try {
      open();
      for (int i = 1; i <= 200; ++i) append({named('r', i % 50), i, "X"});
      create({"NAME", "NAME"});
      create({"QTY", "QTY"});
      for (int i = 201; i <= 400; ++i) append({named('s', i % 70), i, "X"});
      replace(7, {"moved", -7, "X"});
    } catch (...) {
      code = 3;
    }
    _exit(code);  // nothing closed
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  ASSERT_EQ(WEXITSTATUS(status), 0);
  open();
  EXPECT_EQ(dbf->reccount(), 400u);
  ASSERT_EQ(hooks->index_count(), 2u);
  auto qty = pairs("QTY");
  ASSERT_EQ(qty.size(), 400u);
  EXPECT_EQ(qty.front(), Pair(int_key(-7), 7));
  EXPECT_EQ(pairs("NAME").size(), 400u);
  for (int i = 401; i <= 450; ++i) append({named('t', i), i, "X"});
  qty = pairs("QTY");
  ASSERT_EQ(qty.size(), 450u);
  EXPECT_EQ(qty.back(), Pair(int_key(450), 450));
  EXPECT_EQ(pairs("NAME").size(), 450u);
}

}  // namespace
}  // namespace qzbase::index_testing
