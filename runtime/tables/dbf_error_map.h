// dbf_error_map.h - how the table object turns the file layer's failures into language errors.
//
// Each operation of the table object has a fixed list of caught kinds (rows, in order); the first
// row that matches decides the error number and its detail. After an operation's own rows every
// operation ends with the same catch-all, so that no failure of the file layer reaches a program
// as something TRY cannot catch: a re-entered table 1887, a corrupt file 2091, a file that could
// not be made for want of its directory 1102, one the system refused for want of permission
// 1705, any other file failure 9901, any other table
// failure 9902, a numeric overflow 39. RuntimeError and everything else (memory, broken
// invariants, interrupts) pass unchanged.
#pragma once

#include <qzbase.h>

#include <cstddef>
#include <cstdint>
#include <span>

namespace qzbase {

class DbfFile;
class DbfField;

// The kinds a row can catch. The any_* kinds catch every member of their family.
enum class DbfFault : uint8_t {
  file_sharing_violation,
  file_error_exists,
  file_error_no_directory,
  file_error_access_denied,
  any_file_error,
  overflow,  // std::overflow_error of the numeric codecs
  buffer_underrun,
  unsupported_version,
  codepage_not_supported,
  field_name_dup_or_inv,
  file_corruption,
  invalid_reccount,
  fpt_file_missing,
  cannot_create_fpt,
  field_type_conflict,
  field_readonly,
  field_no_null_support,
  cptrans_char_lost,
  illegal_recursion,
  record_out_of_range,
  file_readonly,
  index_file_corrupted,
  index_cannot_store_null,
  invalid_index_key_len,
  unique_key_violation,
  tag_name_duplicate,
  tag_name_invalid_characters,
  tag_name_too_long,
  index_filter_must_be_logical,
  type_index_expression,
  cannot_create_cdx,
  no_index_selected,
  unknown_index_tag,
  select_binary_index_not_supported,
  collation_not_supported,
  any_dbf_exception,
};

// Where the detail of the error comes from.
enum class DbfDetail : uint8_t {
  none,
  name_as_given,    // the name the caller gave
  canonical_path,   // the path the name resolved to
  target_path,      // the file an operation creates (temporary or COPY TO target)
  field_name,       // the field the exception carries, in the table's character set
  tag_name,         // the tag the exception carries, else the one given to the operation
  index_file_name,  // the index file the exception carries
  table_filename,   // the table's file name
  collation_name,   // the collation the operation was asked for
  text,             // the row's fixed text
};

struct dbf_error_row_st {
  DbfFault caught;
  int code;
  DbfDetail detail;
  const char* text;  // DbfDetail::text only
  bool revert;       // the current record is reverted before the error is raised
};

// What the details are made of; members a table does not need stay empty.
struct dbf_error_context_st {
  String name;             // as given
  String canonical_path;
  String target_path;
  String tag;              // the tag name given to the operation
  String table_filename;
  String collation;        // the collation name given to the operation
  String index_file;       // the index file, when the exception does not name it
  const Charset* field_charset = nullptr;  // the character set field names are stored in
  DbfFile* revert_file = nullptr;          // reverted for rows with revert set
};

// The operations' lists.
namespace dbf_errors {
extern const std::span<const dbf_error_row_st> open;
extern const std::span<const dbf_error_row_st> create;
extern const std::span<const dbf_error_row_st> get_field;
extern const std::span<const dbf_error_row_st> get_chars;
extern const std::span<const dbf_error_row_st> set_null;
extern const std::span<const dbf_error_row_st> set_number;  // integer, numeric, money
extern const std::span<const dbf_error_row_st> set_plain;   // logical, date, datetime
extern const std::span<const dbf_error_row_st> set_string;
extern const std::span<const dbf_error_row_st> update;
extern const std::span<const dbf_error_row_st> go;
extern const std::span<const dbf_error_row_st> create_index;
extern const std::span<const dbf_error_row_st> create_index_key;
extern const std::span<const dbf_error_row_st> seek_record;
extern const std::span<const dbf_error_row_st> seek_lowlevel;
extern const std::span<const dbf_error_row_st> select_index_tag;
extern const std::span<const dbf_error_row_st> select_index;
extern const std::span<const dbf_error_row_st> drop_index;
extern const std::span<const dbf_error_row_st> restructure;  // add and drop column, PACK, ZAP
extern const std::span<const dbf_error_row_st> copyto;
extern const std::span<const dbf_error_row_st> none;  // only the catch-all
extern const std::span<const dbf_error_row_st> catch_all;
}  // namespace dbf_errors

// Only inside a catch block: raises the RuntimeError of the first matching row of rows, else of
// the catch-all; rethrows the exception being handled when neither matches.
[[noreturn]] void raise_dbf_error(std::span<const dbf_error_row_st> rows, const dbf_error_context_st& context);

// Runs body and maps what it throws with rows.
template <typename Body>
inline auto with_dbf_errors(std::span<const dbf_error_row_st> rows, const dbf_error_context_st& context, Body&& body)
    -> decltype(body()) {
  try {
    return body();
  } catch (...) {
    raise_dbf_error(rows, context);
  }
}

}  // namespace qzbase
