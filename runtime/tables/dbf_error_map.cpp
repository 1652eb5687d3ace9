// dbf_error_map.cpp - the operations' lists of caught kinds and the mapping itself.
#include "tables/dbf_error_map.h"

#include <cstring>
#include <stdexcept>

#include "platform/file.h"
#include "tables/dbf_exceptions.h"
#include "tables/dbf_file.h"

namespace qzbase {

namespace {

using F = DbfFault;
using D = DbfDetail;

constexpr dbf_error_row_st kOpen[] = {
    {F::file_sharing_violation, 1705, D::none, nullptr, false},
    {F::unsupported_version, 15, D::canonical_path, nullptr, false},
    {F::codepage_not_supported, 1001, D::text, "codepage", false},
    {F::invalid_reccount, 2091, D::canonical_path, nullptr, false},
    {F::field_name_dup_or_inv, 1712, D::none, nullptr, false},
    {F::fpt_file_missing, 41, D::none, nullptr, false},
    {F::file_corruption, 2091, D::none, nullptr, false},
    {F::any_file_error, 9901, D::none, nullptr, false},
    {F::any_dbf_exception, 9902, D::none, nullptr, false},
};

// The duplicate or invalid field name also removes the new file: the table object does that
// before it maps (it holds the half-made table).
constexpr dbf_error_row_st kCreate[] = {
    {F::field_name_dup_or_inv, 1712, D::none, nullptr, false},
    {F::file_error_exists, 7, D::name_as_given, nullptr, false},
    {F::file_error_no_directory, 1102, D::target_path, nullptr, false},
    {F::file_error_access_denied, 1705, D::target_path, nullptr, false},
    {F::file_sharing_violation, 3, D::none, nullptr, false},
    {F::any_file_error, 1705, D::none, nullptr, false},
    {F::any_dbf_exception, 2091, D::none, nullptr, false},
};

constexpr dbf_error_row_st kGetField[] = {
    {F::any_dbf_exception, 9902, D::none, nullptr, false},
};

constexpr dbf_error_row_st kGetChars[] = {
    {F::cptrans_char_lost, 9011, D::none, nullptr, false},
    {F::buffer_underrun, 1001, D::text, "Buffer too small", false},
    {F::any_dbf_exception, 9902, D::none, nullptr, false},
};

constexpr dbf_error_row_st kSetNull[] = {
    {F::field_readonly, 2088, D::field_name, nullptr, false},
    {F::field_no_null_support, 1581, D::field_name, nullptr, false},
};

// The auto-increment exception to the read-only row is decided by the table object first.
constexpr dbf_error_row_st kSetNumber[] = {
    {F::field_readonly, 2088, D::field_name, nullptr, false},
    {F::field_type_conflict, 107, D::none, nullptr, false},
    {F::overflow, 39, D::none, nullptr, false},
};

constexpr dbf_error_row_st kSetPlain[] = {
    {F::field_readonly, 2088, D::field_name, nullptr, false},
    {F::field_type_conflict, 107, D::none, nullptr, false},
};

constexpr dbf_error_row_st kSetString[] = {
    {F::field_readonly, 2088, D::field_name, nullptr, false},
    {F::cptrans_char_lost, 9011, D::none, nullptr, false},
    {F::field_type_conflict, 107, D::none, nullptr, false},
};

constexpr dbf_error_row_st kUpdate[] = {
    {F::illegal_recursion, 1887, D::none, nullptr, false},
    {F::index_file_corrupted, 2066, D::index_file_name, nullptr, true},
    {F::index_cannot_store_null, 1886, D::none, nullptr, true},
    {F::invalid_index_key_len, 112, D::none, nullptr, true},
    {F::unique_key_violation, 1884, D::tag_name, nullptr, true},
    {F::file_readonly, 111, D::table_filename, nullptr, true},
};

constexpr dbf_error_row_st kGo[] = {
    {F::record_out_of_range, 5, D::none, nullptr, false},
};

constexpr dbf_error_row_st kCreateIndex[] = {
    {F::tag_name_duplicate, 1898, D::tag_name, nullptr, false},
    {F::tag_name_invalid_characters, 1899, D::tag_name, nullptr, false},
    {F::tag_name_too_long, 1888, D::tag_name, nullptr, false},
    {F::illegal_recursion, 1887, D::none, nullptr, false},
    {F::invalid_index_key_len, 112, D::none, nullptr, false},
    {F::unique_key_violation, 1884, D::tag_name, nullptr, false},
    {F::index_filter_must_be_logical, 1127, D::none, nullptr, false},
    {F::type_index_expression, 34, D::none, nullptr, false},
    {F::cannot_create_cdx, 7, D::none, nullptr, false},
    // A collation this runtime does not know, and a key that came out null, are the program's
    // faults and must be catchable like the rows above.
    {F::collation_not_supported, 1001, D::collation_name, nullptr, false},
    {F::index_cannot_store_null, 1886, D::none, nullptr, false},
};

constexpr dbf_error_row_st kCreateIndexKey[] = {
    {F::field_type_conflict, 11, D::none, nullptr, false},
};

constexpr dbf_error_row_st kSeekRecord[] = {
    {F::no_index_selected, 26, D::none, nullptr, false},
    {F::field_type_conflict, 11, D::none, nullptr, false},
};

constexpr dbf_error_row_st kSeekLowlevel[] = {
    {F::index_file_corrupted, 2066, D::index_file_name, nullptr, false},
    {F::no_index_selected, 26, D::none, nullptr, false},
};

constexpr dbf_error_row_st kSelectIndexTag[] = {
    {F::unknown_index_tag, 1683, D::tag_name, nullptr, false},
    {F::select_binary_index_not_supported, 1001, D::none, nullptr, false},
};

constexpr dbf_error_row_st kSelectIndex[] = {
    {F::unknown_index_tag, 1683, D::none, nullptr, false},
};

constexpr dbf_error_row_st kDropIndex[] = {
    {F::unknown_index_tag, 1683, D::tag_name, nullptr, false},
};

// A new column whose name clashes with another is the program's mistake, told as CREATE TABLE
// tells it, not as a failed table.
constexpr dbf_error_row_st kRestructure[] = {
    {F::field_name_dup_or_inv, 1712, D::none, nullptr, false},
    {F::file_error_exists, 7, D::target_path, nullptr, false},
    {F::cannot_create_fpt, 7, D::target_path, nullptr, false},
    {F::file_error_no_directory, 1102, D::target_path, nullptr, false},
    {F::file_error_access_denied, 1705, D::target_path, nullptr, false},
};

constexpr dbf_error_row_st kCopyTo[] = {
    {F::field_name_dup_or_inv, 1712, D::none, nullptr, false},
    {F::file_error_exists, 7, D::target_path, nullptr, false},
    {F::cannot_create_fpt, 7, D::target_path, nullptr, false},
    {F::file_error_no_directory, 1102, D::target_path, nullptr, false},
    {F::file_error_access_denied, 1705, D::target_path, nullptr, false},
};

constexpr dbf_error_row_st kCatchAll[] = {
    {F::illegal_recursion, 1887, D::none, nullptr, false},
    {F::file_corruption, 2091, D::none, nullptr, false},
    {F::file_error_no_directory, 1102, D::none, nullptr, false},
    {F::file_error_access_denied, 1705, D::none, nullptr, false},
    {F::any_file_error, 9901, D::none, nullptr, false},
    {F::any_dbf_exception, 9902, D::none, nullptr, false},
    {F::overflow, 39, D::none, nullptr, false},
};

// The exception being handled, as far as the rows need it.
struct caught_st {
  bool known = false;
  bool file_family = false;
  bool dbf_family = false;
  DbfFault kind = F::any_dbf_exception;
  DbfField* field = nullptr;
  const std::string* named = nullptr;
};

#define QZ_CATCH_KIND(type, fault)   \
  catch (const type&) {              \
    c.kind = fault;                  \
  }

caught_st classify() {
  caught_st c;
  try {
    throw;
  } catch (const file_error& e) {
    c.known = c.file_family = true;
    if (dynamic_cast<const file_sharing_violation*>(&e) != nullptr) {
      c.kind = F::file_sharing_violation;
    } else if (dynamic_cast<const file_error_exists*>(&e) != nullptr) {
      c.kind = F::file_error_exists;
    } else if (dynamic_cast<const file_error_no_directory*>(&e) != nullptr) {
      c.kind = F::file_error_no_directory;
    } else if (dynamic_cast<const file_error_access_denied*>(&e) != nullptr) {
      c.kind = F::file_error_access_denied;
    } else {
      c.kind = F::any_file_error;
    }
    return c;
  } catch (const std::overflow_error&) {
    c.known = true;
    c.kind = F::overflow;
    return c;
  } catch (const dbf_exception&) {
    c.known = c.dbf_family = true;
  } catch (...) {
    return c;
  }
  // One of the table family: which one.
  try {
    throw;
  } catch (const dbf_error_field_type_conflict& e) {
    c.kind = F::field_type_conflict;
    c.field = e.field;
  } catch (const dbf_error_field_readonly& e) {
    c.kind = F::field_readonly;
    c.field = e.field;
  } catch (const dbf_error_field_no_null_support& e) {
    c.kind = F::field_no_null_support;
    c.field = e.field;
  } catch (const dbf_index_file_corrupted& e) {
    c.kind = F::index_file_corrupted;
    c.named = &e.named();
  } catch (const dbf_unique_key_violation& e) {
    c.kind = F::unique_key_violation;
    c.named = &e.named();
  }
  QZ_CATCH_KIND(dbf_error_buffer_underrun, F::buffer_underrun)
  QZ_CATCH_KIND(dbf_unsupported_version, F::unsupported_version)
  QZ_CATCH_KIND(dbf_error_codepage_not_supported, F::codepage_not_supported)
  QZ_CATCH_KIND(dbf_error_field_name_dup_or_inv, F::field_name_dup_or_inv)
  QZ_CATCH_KIND(dbf_error_file_corruption, F::file_corruption)
  QZ_CATCH_KIND(dbf_invalid_reccount_detected, F::invalid_reccount)
  QZ_CATCH_KIND(dbf_fpt_file_missing, F::fpt_file_missing)
  QZ_CATCH_KIND(dbf_error_cannot_create_fpt, F::cannot_create_fpt)
  QZ_CATCH_KIND(dbf_error_cptrans_char_lost, F::cptrans_char_lost)
  QZ_CATCH_KIND(dbf_illegal_recursion, F::illegal_recursion)
  QZ_CATCH_KIND(dbf_error_record_out_of_range, F::record_out_of_range)
  QZ_CATCH_KIND(dbf_error_file_readonly, F::file_readonly)
  QZ_CATCH_KIND(dbf_error_index_cannot_store_null, F::index_cannot_store_null)
  QZ_CATCH_KIND(dbf_invalid_index_key_len, F::invalid_index_key_len)
  QZ_CATCH_KIND(dbf_error_index_tag_name_duplicate, F::tag_name_duplicate)
  QZ_CATCH_KIND(dbf_error_index_tag_name_invalid_characters, F::tag_name_invalid_characters)
  QZ_CATCH_KIND(dbf_error_index_tag_name_too_long, F::tag_name_too_long)
  QZ_CATCH_KIND(dbf_index_filter_must_be_logical, F::index_filter_must_be_logical)
  QZ_CATCH_KIND(dbf_error_type_index_expression, F::type_index_expression)
  QZ_CATCH_KIND(dbf_error_cannot_create_cdx, F::cannot_create_cdx)
  QZ_CATCH_KIND(dbf_error_no_index_selected, F::no_index_selected)
  QZ_CATCH_KIND(dbf_error_unknown_index_tag, F::unknown_index_tag)
  QZ_CATCH_KIND(dbf_select_binary_index_not_supported, F::select_binary_index_not_supported)
  QZ_CATCH_KIND(dbf_error_collation_not_supported, F::collation_not_supported)
  catch (...) {
    c.kind = F::any_dbf_exception;
  }
  return c;
}

#undef QZ_CATCH_KIND

bool matches(const dbf_error_row_st& row, const caught_st& c) {
  if (row.caught == F::any_file_error) return c.file_family;
  if (row.caught == F::any_dbf_exception) return c.dbf_family;
  return row.caught == c.kind;
}

String field_name(const DbfField* field, const Charset* charset) {
  if (field == nullptr) return String();
  size_t n = strnlen(field->name, sizeof field->name);
  return String(field->name, n, charset != nullptr ? charset : Charset::utf8);
}

String utf8(const std::string& s) { return String(s.data(), s.size(), Charset::utf8); }

[[noreturn]] void raise_row(const dbf_error_row_st& row, const caught_st& c, const dbf_error_context_st& context) {
  if (row.revert && context.revert_file != nullptr) context.revert_file->revert();
  switch (row.detail) {
    case D::none: throw RuntimeError(row.code);
    case D::name_as_given: throw RuntimeError(row.code, context.name);
    case D::canonical_path: throw RuntimeError(row.code, context.canonical_path);
    case D::target_path: throw RuntimeError(row.code, context.target_path);
    case D::field_name: throw RuntimeError(row.code, field_name(c.field, context.field_charset));
    case D::tag_name:
      if (c.named != nullptr && !c.named->empty()) throw RuntimeError(row.code, utf8(*c.named));
      if (context.tag.size() == 0) throw RuntimeError(row.code);
      throw RuntimeError(row.code, context.tag);
    case D::index_file_name:
      if (c.named != nullptr && !c.named->empty()) throw RuntimeError(row.code, utf8(*c.named));
      if (context.index_file.size() == 0) throw RuntimeError(row.code);
      throw RuntimeError(row.code, context.index_file);
    case D::table_filename: throw RuntimeError(row.code, context.table_filename);
    case D::collation_name:
      if (context.collation.size() == 0) throw RuntimeError(row.code);
      throw RuntimeError(row.code, context.collation);
    case D::text: throw RuntimeError(row.code, String(row.text));
  }
  throw RuntimeError(row.code);
}

}  // namespace

namespace dbf_errors {
const std::span<const dbf_error_row_st> open{kOpen};
const std::span<const dbf_error_row_st> create{kCreate};
const std::span<const dbf_error_row_st> get_field{kGetField};
const std::span<const dbf_error_row_st> get_chars{kGetChars};
const std::span<const dbf_error_row_st> set_null{kSetNull};
const std::span<const dbf_error_row_st> set_number{kSetNumber};
const std::span<const dbf_error_row_st> set_plain{kSetPlain};
const std::span<const dbf_error_row_st> set_string{kSetString};
const std::span<const dbf_error_row_st> update{kUpdate};
const std::span<const dbf_error_row_st> go{kGo};
const std::span<const dbf_error_row_st> create_index{kCreateIndex};
const std::span<const dbf_error_row_st> create_index_key{kCreateIndexKey};
const std::span<const dbf_error_row_st> seek_record{kSeekRecord};
const std::span<const dbf_error_row_st> seek_lowlevel{kSeekLowlevel};
const std::span<const dbf_error_row_st> select_index_tag{kSelectIndexTag};
const std::span<const dbf_error_row_st> select_index{kSelectIndex};
const std::span<const dbf_error_row_st> drop_index{kDropIndex};
const std::span<const dbf_error_row_st> restructure{kRestructure};
const std::span<const dbf_error_row_st> copyto{kCopyTo};
const std::span<const dbf_error_row_st> none{};
const std::span<const dbf_error_row_st> catch_all{kCatchAll};
}  // namespace dbf_errors

void raise_dbf_error(std::span<const dbf_error_row_st> rows, const dbf_error_context_st& context) {
  QZ_TRACE;
  caught_st c = classify();
  if (c.known) {
    for (const dbf_error_row_st& row : rows) {
      if (matches(row, c)) raise_row(row, c, context);
    }
    for (const dbf_error_row_st& row : dbf_errors::catch_all) {
      if (matches(row, c)) raise_row(row, c, context);
    }
  }
  throw;
}

}  // namespace qzbase
