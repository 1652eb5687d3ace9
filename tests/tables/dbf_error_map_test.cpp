// The table object's lists of caught kinds: every row of every operation, the catch-all that ends
// each of them, the order of rows (a specific kind before its family), the details (name as given,
// canonical path, field name in the table's character set, tag and index file names) and the
// revert of the update rows.
#include <qzbase.h>

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/file.h"
#include "tables/dbf_error_map.h"
#include "tables/dbf_exceptions.h"
#include "tables/dbf_file.h"

using namespace qzbase;

namespace {

std::string utf8_of(const String& s) { return s.u8str(); }

struct Outcome {
  bool runtime_error = false;
  int code = 0;
  std::string detail;
};

Outcome run(std::span<const dbf_error_row_st> rows, const dbf_error_context_st& context,
            const std::function<void()>& thrower) {
  Outcome o;
  try {
    with_dbf_errors(rows, context, thrower);
  } catch (const RuntimeError& e) {
    o.runtime_error = true;
    o.code = e.code;
    o.detail = utf8_of(e.detail);
  } catch (...) {
  }
  return o;
}

template <typename E>
std::function<void()> thrower() {
  return [] { throw E(); };
}

DbfField g_field = [] {
  DbfField f;
  std::strcpy(f.name, "PRICE");
  return f;
}();

template <typename E>
std::function<void()> field_thrower() {
  return [] { throw E(&g_field); };
}

struct Row {
  const char* operation;
  std::span<const dbf_error_row_st> rows;
  std::function<void()> thrower;
  int code;
  const char* detail;
};

dbf_error_context_st context() {
  dbf_error_context_st c;
  c.name = String("orders");
  c.canonical_path = String("/data/ORDERS.DBF");
  c.target_path = String("/data/qz_tmp.dbf");
  c.tag = String("BYNAME");
  c.table_filename = String("/data/orders.dbf");
  c.collation = String("FRENCH");
  c.field_charset = Charset::utf8;
  return c;
}

TEST(DbfErrorMap, EveryRowOfEveryOperation) {
  using namespace dbf_errors;
  const std::vector<Row> table = {
      {"open", open, thrower<file_sharing_violation>(), 1705, ""},
      {"open", open, thrower<dbf_unsupported_version>(), 15, "/data/ORDERS.DBF"},
      {"open", open, thrower<dbf_error_codepage_not_supported>(), 1001, "codepage"},
      {"open", open, thrower<dbf_invalid_reccount_detected>(), 2091, "/data/ORDERS.DBF"},
      {"open", open, thrower<dbf_error_field_name_dup_or_inv>(), 1712, ""},
      {"open", open, thrower<dbf_fpt_file_missing>(), 41, ""},
      {"open", open, thrower<dbf_error_file_corruption>(), 2091, ""},
      {"open", open, thrower<file_error_exists>(), 9901, ""},
      {"open", open, thrower<file_error>(), 9901, ""},
      {"open", open, thrower<dbf_cdx_file_missing>(), 9902, ""},
      {"create", create, thrower<dbf_error_field_name_dup_or_inv>(), 1712, ""},
      {"create", create, thrower<file_error_exists>(), 7, "orders"},
      {"create", create, thrower<file_error_no_directory>(), 1102, "/data/qz_tmp.dbf"},
      {"create", create, thrower<file_error_access_denied>(), 1705, "/data/qz_tmp.dbf"},
      {"create", create, thrower<file_sharing_violation>(), 3, ""},
      {"create", create, thrower<file_error>(), 1705, ""},
      {"create", create, thrower<dbf_error_codepage_not_supported>(), 2091, ""},
      {"get_field", get_field, thrower<dbf_error_field_incompatible>(), 9902, ""},
      {"get_chars", get_chars, thrower<dbf_error_cptrans_char_lost>(), 9011, ""},
      {"get_chars", get_chars, thrower<dbf_error_buffer_underrun>(), 1001, "Buffer too small"},
      {"get_chars", get_chars, thrower<dbf_error_buffer_overflow>(), 9902, ""},
      {"set_null", set_null, field_thrower<dbf_error_field_readonly>(), 2088, "PRICE"},
      {"set_null", set_null, field_thrower<dbf_error_field_no_null_support>(), 1581, "PRICE"},
      {"set_number", set_number, field_thrower<dbf_error_field_readonly>(), 2088, "PRICE"},
      {"set_number", set_number, field_thrower<dbf_error_field_type_conflict>(), 107, ""},
      {"set_number", set_number, [] { throw std::overflow_error("wide"); }, 39, ""},
      {"set_plain", set_plain, field_thrower<dbf_error_field_readonly>(), 2088, "PRICE"},
      {"set_plain", set_plain, field_thrower<dbf_error_field_type_conflict>(), 107, ""},
      {"set_string", set_string, field_thrower<dbf_error_field_readonly>(), 2088, "PRICE"},
      {"set_string", set_string, thrower<dbf_error_cptrans_char_lost>(), 9011, ""},
      {"set_string", set_string, field_thrower<dbf_error_field_type_conflict>(), 107, ""},
      {"update", update, thrower<dbf_illegal_recursion>(), 1887, ""},
      {"update", update, [] { throw dbf_index_file_corrupted("/data/orders.cdx"); }, 2066, "/data/orders.cdx"},
      {"update", update, thrower<dbf_error_index_cannot_store_null>(), 1886, ""},
      {"update", update, thrower<dbf_invalid_index_key_len>(), 112, ""},
      {"update", update, [] { throw dbf_unique_key_violation("CUSTNO"); }, 1884, "CUSTNO"},
      {"update", update, thrower<dbf_error_file_readonly>(), 111, "/data/orders.dbf"},
      {"go", go, thrower<dbf_error_record_out_of_range>(), 5, ""},
      {"create_index", create_index, thrower<dbf_error_index_tag_name_duplicate>(), 1898, "BYNAME"},
      {"create_index", create_index, thrower<dbf_error_index_tag_name_invalid_characters>(), 1899, "BYNAME"},
      {"create_index", create_index, thrower<dbf_error_index_tag_name_too_long>(), 1888, "BYNAME"},
      {"create_index", create_index, thrower<dbf_illegal_recursion>(), 1887, ""},
      {"create_index", create_index, thrower<dbf_invalid_index_key_len>(), 112, ""},
      {"create_index", create_index, thrower<dbf_unique_key_violation>(), 1884, "BYNAME"},
      {"create_index", create_index, thrower<dbf_index_filter_must_be_logical>(), 1127, ""},
      {"create_index", create_index, thrower<dbf_error_type_index_expression>(), 34, ""},
      {"create_index", create_index, thrower<dbf_error_cannot_create_cdx>(), 7, ""},
      {"create_index", create_index, thrower<dbf_error_collation_not_supported>(), 1001, "FRENCH"},
      {"create_index", create_index, thrower<dbf_error_index_cannot_store_null>(), 1886, ""},
      {"create_index", create_index, thrower<dbf_error_not_impl>(), 9902, ""},
      {"seek_lowlevel", seek_lowlevel, thrower<dbf_illegal_recursion>(), 1887, ""},
      {"create_index_key", create_index_key, field_thrower<dbf_error_field_type_conflict>(), 11, ""},
      {"seek_record", seek_record, thrower<dbf_error_no_index_selected>(), 26, ""},
      {"seek_record", seek_record, field_thrower<dbf_error_field_type_conflict>(), 11, ""},
      {"seek_lowlevel", seek_lowlevel, [] { throw dbf_index_file_corrupted("/x/t.cdx"); }, 2066, "/x/t.cdx"},
      {"seek_lowlevel", seek_lowlevel, thrower<dbf_error_no_index_selected>(), 26, ""},
      {"select_index_tag", select_index_tag, thrower<dbf_error_unknown_index_tag>(), 1683, "BYNAME"},
      {"select_index_tag", select_index_tag, thrower<dbf_select_binary_index_not_supported>(), 1001, ""},
      {"select_index", select_index, thrower<dbf_error_unknown_index_tag>(), 1683, ""},
      {"drop_index", drop_index, thrower<dbf_error_unknown_index_tag>(), 1683, "BYNAME"},
      {"restructure", restructure, thrower<dbf_error_field_name_dup_or_inv>(), 1712, ""},
      {"restructure", restructure, thrower<file_error_exists>(), 7, "/data/qz_tmp.dbf"},
      {"restructure", restructure, thrower<dbf_error_cannot_create_fpt>(), 7, "/data/qz_tmp.dbf"},
      {"restructure", restructure, thrower<file_error_no_directory>(), 1102, "/data/qz_tmp.dbf"},
      {"restructure", restructure, thrower<file_error_access_denied>(), 1705, "/data/qz_tmp.dbf"},
      {"copyto", copyto, thrower<dbf_error_field_name_dup_or_inv>(), 1712, ""},
      {"copyto", copyto, thrower<file_error_exists>(), 7, "/data/qz_tmp.dbf"},
      {"copyto", copyto, thrower<dbf_error_cannot_create_fpt>(), 7, "/data/qz_tmp.dbf"},
      {"copyto", copyto, thrower<file_error_no_directory>(), 1102, "/data/qz_tmp.dbf"},
      {"copyto", copyto, thrower<file_error_access_denied>(), 1705, "/data/qz_tmp.dbf"},
  };
  dbf_error_context_st c = context();
  for (const Row& row : table) {
    Outcome o = run(row.rows, c, row.thrower);
    EXPECT_TRUE(o.runtime_error) << row.operation << " " << row.code;
    EXPECT_EQ(o.code, row.code) << row.operation;
    EXPECT_EQ(o.detail, row.detail) << row.operation << " " << row.code;
  }
}

// Kinds an operation does not list end in the catch-all, whichever operation it is (get_field and
// get_chars end in their own "any other" row, checked above); what is not a file-layer failure
// passes as it is.
TEST(DbfErrorMap, CatchAllEndsEveryOperation) {
  using namespace dbf_errors;
  const std::span<const dbf_error_row_st> operations[] = {
      set_null, set_number, set_plain, set_string, update, go, create_index, create_index_key, seek_record,
      seek_lowlevel, select_index_tag, select_index, drop_index, restructure, copyto, none};
  struct Case {
    std::function<void()> thrower;
    int code;
  };
  const Case cases[] = {
      {thrower<dbf_error_file_corruption>(), 2091},
      {thrower<file_sharing_violation>(), 9901},
      {[] { throw file_error(5); }, 9901},
      {thrower<dbf_error_eof>(), 9902},
      {thrower<dbf_error_bof>(), 9902},
      {[] { throw std::overflow_error("x"); }, 39},
  };
  dbf_error_context_st c = context();
  for (auto rows : operations) {
    for (const Case& k : cases) {
      Outcome o = run(rows, c, k.thrower);
      EXPECT_TRUE(o.runtime_error);
      EXPECT_EQ(o.code, k.code);
      EXPECT_EQ(o.detail, "");
    }
    // A file that could not be made for want of its directory is 1102 everywhere (the operations
    // that make a named file give its name, checked above).
    EXPECT_EQ(run(rows, c, thrower<file_error_no_directory>()).code, 1102);
    // One the system refused for want of permission is 1705 everywhere.
    EXPECT_EQ(run(rows, c, thrower<file_error_access_denied>()).code, 1705);
    // A re-entered table is 1887 everywhere, also where the list does not name it.
    EXPECT_EQ(run(rows, c, thrower<dbf_illegal_recursion>()).code, 1887);
    // A language error passes with its own number and detail.
    Outcome passed = run(rows, c, [] { throw RuntimeError(1734, String("keep")); });
    EXPECT_EQ(passed.code, 1734);
    EXPECT_EQ(passed.detail, "keep");
    // So do failures that are no table failure at all.
    EXPECT_THROW(with_dbf_errors(rows, c, [] { throw std::bad_alloc(); }), std::bad_alloc);
    EXPECT_THROW(with_dbf_errors(rows, c, [] { throw std::logic_error("x"); }), std::logic_error);
  }
}

TEST(DbfErrorMap, ResultsPassThroughWhenNothingIsThrown) {
  dbf_error_context_st c;
  EXPECT_EQ(with_dbf_errors(dbf_errors::go, c, [] { return 42; }), 42);
}

// Field names in the detail are read in the table's own character set.
TEST(DbfErrorMap, FieldNameIsReadInTheTablesCharset) {
  DbfField f;
  f.name[0] = static_cast<char>(0xC4);  // A with diaeresis in code page 1252
  std::strcpy(f.name + 1, "RT");
  dbf_error_context_st c;
  c.field_charset = GetCharsetByWindowsCodepage(1252);
  ASSERT_NE(c.field_charset, nullptr);
  Outcome o = run(dbf_errors::set_plain, c, [&] { throw dbf_error_field_readonly(&f); });
  EXPECT_EQ(o.code, 2088);
  EXPECT_EQ(o.detail, "\xC3\x84RT");
}

// Without a name carried or given the tag and index file rows raise without detail.
TEST(DbfErrorMap, TagAndIndexNamesFallBack) {
  dbf_error_context_st c;
  EXPECT_EQ(run(dbf_errors::update, c, thrower<dbf_unique_key_violation>()).detail, "");
  EXPECT_EQ(run(dbf_errors::update, c, thrower<dbf_index_file_corrupted>()).detail, "");
  c.tag = String("GIVEN");
  // The name the exception carries wins over the one given.
  EXPECT_EQ(run(dbf_errors::update, c, [] { throw dbf_unique_key_violation("CARRIED"); }).detail, "CARRIED");
  EXPECT_EQ(run(dbf_errors::update, c, thrower<dbf_unique_key_violation>()).detail, "GIVEN");
}

}  // namespace
