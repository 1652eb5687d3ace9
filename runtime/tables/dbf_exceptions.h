// dbf_exceptions.h - the failures of the DBF, memo and index file layer.
//
// Every kind is an empty class thrown by value: the class is the information. Only the table
// object turns them into language errors, with a fixed list of caught kinds per operation. The
// three field errors carry the field concerned. Numeric range overflows of the codecs are
// std::overflow_error, and broken invariants assert_failed_exception; neither belongs here.
#pragma once

#include <string>
#include <utility>

namespace qzbase {

class DbfField;

class dbf_exception {
 public:
  virtual ~dbf_exception() = default;
};

#define QZ_DBF_EXCEPTION(name) \
  class name : public dbf_exception {}

// Headers, descriptors and records.
QZ_DBF_EXCEPTION(dbf_error_buffer_underrun);
QZ_DBF_EXCEPTION(dbf_unsupported_version);
QZ_DBF_EXCEPTION(dbf_error_codepage_not_supported);
QZ_DBF_EXCEPTION(dbf_error_field_name_dup_or_inv);
QZ_DBF_EXCEPTION(dbf_error_file_corruption);
QZ_DBF_EXCEPTION(dbf_invalid_reccount_detected);
QZ_DBF_EXCEPTION(dbf_fpt_file_missing);
QZ_DBF_EXCEPTION(dbf_error_file_exists);
QZ_DBF_EXCEPTION(dbf_error_cannot_create_fpt);
QZ_DBF_EXCEPTION(fpt_error_file_exists);
QZ_DBF_EXCEPTION(dbf_error_field_incompatible);
QZ_DBF_EXCEPTION(dbf_error_cptrans_char_lost);
QZ_DBF_EXCEPTION(dbf_error_buffer_overflow);
QZ_DBF_EXCEPTION(dbf_error_invalid_field_number);
QZ_DBF_EXCEPTION(dbf_illegal_recursion);
QZ_DBF_EXCEPTION(dbf_error_record_out_of_range);
QZ_DBF_EXCEPTION(dbf_error_bof);
QZ_DBF_EXCEPTION(dbf_error_eof);
QZ_DBF_EXCEPTION(dbf_error_not_impl);
QZ_DBF_EXCEPTION(dbf_error_file_readonly);
QZ_DBF_EXCEPTION(dbf_error_record_in_use);
QZ_DBF_EXCEPTION(dbf_error_lock_for_append_failed);
QZ_DBF_EXCEPTION(dbf_error_release_append_lock_failed);

// Index files and tags.
QZ_DBF_EXCEPTION(dbf_error_index_cannot_store_null);
QZ_DBF_EXCEPTION(dbf_invalid_index_key_len);
QZ_DBF_EXCEPTION(dbf_error_index_tag_name_duplicate);
QZ_DBF_EXCEPTION(dbf_error_index_tag_name_invalid_characters);
QZ_DBF_EXCEPTION(dbf_error_index_tag_name_too_long);
QZ_DBF_EXCEPTION(dbf_index_filter_must_be_logical);
QZ_DBF_EXCEPTION(dbf_error_type_index_expression);
QZ_DBF_EXCEPTION(dbf_error_cannot_create_cdx);
QZ_DBF_EXCEPTION(dbf_cdx_file_missing);
QZ_DBF_EXCEPTION(dbf_error_no_index_selected);
QZ_DBF_EXCEPTION(dbf_error_unknown_index_tag);
QZ_DBF_EXCEPTION(dbf_select_binary_index_not_supported);
QZ_DBF_EXCEPTION(dbf_error_need_exclusive_access);
QZ_DBF_EXCEPTION(dbf_error_collation_not_supported);
QZ_DBF_EXCEPTION(dbf_error_index_file_not_locked);
QZ_DBF_EXCEPTION(idx_error_compact_node_geometry_missmatch);
// Caught by the lock-all guard, which releases what it holds and tries again.
QZ_DBF_EXCEPTION(dbf_index_deadlock_detected);

#undef QZ_DBF_EXCEPTION

// The field errors name the field concerned.
#define QZ_DBF_FIELD_EXCEPTION(name)                 \
  class name : public dbf_exception {               \
   public:                                          \
    explicit name(DbfField* f) : field(f) {}        \
    DbfField* field;                                \
  }

QZ_DBF_FIELD_EXCEPTION(dbf_error_field_type_conflict);
QZ_DBF_FIELD_EXCEPTION(dbf_error_field_readonly);
QZ_DBF_FIELD_EXCEPTION(dbf_error_field_no_null_support);

#undef QZ_DBF_FIELD_EXCEPTION

// These may name what they concern (UTF-8; empty when the raiser does not know it): the index
// file, and the tag whose uniqueness a key would break.
#define QZ_DBF_NAMED_EXCEPTION(name)                          \
  class name : public dbf_exception {                        \
   public:                                                   \
    name() = default;                                        \
    explicit name(std::string n) : name_(std::move(n)) {}   \
    const std::string& named() const { return name_; }       \
                                                             \
   private:                                                  \
    std::string name_;                                       \
  }

QZ_DBF_NAMED_EXCEPTION(dbf_index_file_corrupted);
QZ_DBF_NAMED_EXCEPTION(dbf_unique_key_violation);

#undef QZ_DBF_NAMED_EXCEPTION

}  // namespace qzbase
