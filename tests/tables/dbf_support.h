// Helpers of the table-layer tests: field definitions, creating and opening tables in a
// temporary directory, and raw file bytes.
#pragma once

#include <qzbase.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "platform/file.h"
#include "tables/dbf_file.h"
#include "temp_dir.h"

namespace qzbase::testing_dbf {

inline fielddef_st field(const char* name, uint8_t type, size_t length = 0, size_t decimals = 0) {
  fielddef_st f{};
  std::strncpy(f.name, name, sizeof f.name - 1);
  f.type = type;
  f.length = length;
  f.length_omitted = length == 0;
  f.decimals = decimals;
  f.decimals_omitted = decimals == 0 && type != FIELDINFO_NUMERIC && type != FIELDINFO_FLOAT;
  return f;
}

inline createopts_st options(uint64_t codepage = 1252) {
  createopts_st o{};
  o.codepage = codepage;
  o.blocksize = 64;
  return o;
}

inline std::unique_ptr<DbfFile> create_table(const std::filesystem::path& path, std::vector<fielddef_st> fields,
                                             createopts_st opts = options(), OpenMode mode = 0) {
  File* file = create_file(String(path), mode);
  return std::unique_ptr<DbfFile>(DbfFile::create(file, &opts, fields.data(), fields.size()));
}

inline std::string read_bytes(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void write_bytes(const std::filesystem::path& p, const std::string& bytes) {
  std::ofstream(p, std::ios::binary | std::ios::trunc) << bytes;
}

// Appends the current record buffer as a new record and writes the header.
inline void append_current(DbfFile* dbf) {
  ++dbf->record_count;
  dbf->file()->writeex(static_cast<std::streamoff>(dbf->record_offset(dbf->record_count)), dbf->current_record.get(),
                       dbf->record_length);
  dbf->touch();
  dbf->write_dbf_header();
}

inline void blank_current(DbfFile* dbf) {
  std::memcpy(dbf->current_record.get(), dbf->blank_record.get(), dbf->record_length);
}

// A reader script of the interop tests (tests/tables/interop/).
inline std::string interop_script(const char* name) {
  return std::string(QZ_TEST_SOURCE_DIR) + "/tables/interop/" + name;
}

}  // namespace qzbase::testing_dbf
