// dbf_file.cpp - DbfFile: open, create, header and descriptor input and output, structure checks.
#include "tables/dbf_file.h"

#include <chrono>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <system_error>

#include "tables/fpt_file.h"
#include "tables/uniqify.h"
#include "values/charset_registry.h"
#include "values/string_internal.h"

namespace qzbase {

namespace {

int64_t now_ns() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::system_clock::now().time_since_epoch())
      .count();
}

time_t to_time(int64_t ns) { return static_cast<time_t>(ns / 1000000000); }

// The name of a definition as a String (at most the 87 bytes before the terminator).
String definition_name(const fielddef_st& def) {
  return String(def.name, strnlen(def.name, sizeof def.name - 1), Charset::utf8);
}

}  // namespace

// --- construction ---

DbfFile::DbfFile(File* file) : file_(file), index_hooks_(make_dbf_index_hooks(this)) { QZ_TRACE; }

DbfFile::~DbfFile() {
  QZ_TRACE;
  delete fpt_;
  if (file_ != nullptr) {
    try {
      file_->close();
    } catch (...) {  // best effort: the descriptor is released either way
    }
    delete file_;
  }
}

DbfFile* DbfFile::open(File* file, VmStack* stack, bool with_index) {
  QZ_TRACE;
  DbfFile* dbf = new DbfFile(file);
  try {
    dbf->open_existing();
    if (with_index && dbf->has_structural_index) dbf->index_hooks_->open_structural_index(stack);
  } catch (...) {
    delete dbf;
    throw;
  }
  return dbf;
}

DbfFile* DbfFile::create(File* file, createopts_st* options, fielddef_st* fields, size_t count) {
  QZ_TRACE;
  DbfFile* dbf = new DbfFile(file);
  try {
    dbf->create_new(options, fields, count);
  } catch (...) {
    delete dbf;
    throw;
  }
  return dbf;
}

std::unique_ptr<DbfFile> open_dbf_file(const String& name, OpenMode mode, VmStack* stack) {
  QZ_TRACE;
  File* file = open_file(name, mode);
  return std::unique_ptr<DbfFile>(DbfFile::open(file, stack));
}

// --- header ---

void DbfFile::read_dbf_header() {
  QZ_TRACE;
  unsigned char raw[kDbfHeaderSize];
  if (file_->readex(0, reinterpret_cast<char*>(raw), sizeof raw) < sizeof raw) throw dbf_error_buffer_underrun();
  dbf_header_st header;
  decode_dbf_header(raw, &header);
  const dbf_version_st* row = find_dbf_version(header.version);
  if (row == nullptr) throw dbf_unsupported_version();
  version_ = header.version;
  max_size_ = row->max_size;
  types_ = row->types;
  last_modified_ns = static_cast<int64_t>(dbf_header_time(header, time(nullptr))) * 1000000000;
  record_count = header.record_count;
  header_length = header.header_length;
  record_length = header.record_length;
  std::memcpy(kept_header_bytes, header.kept, sizeof kept_header_bytes);
  has_structural_index = (header.flags & kDbfFlagStructuralIndex) != 0;
  has_memo = (header.flags & kDbfFlagMemo) != 0;
  int codepage = codepage_of_mark(header.codepage_mark);
  if (codepage == 0) throw dbf_error_codepage_not_supported();
  const Charset* cs = get_charset_by_codepage(codepage, false);
  const Charset* twin = get_charset_by_codepage(codepage, true);
  if (cs == nullptr || twin == nullptr) throw dbf_error_codepage_not_supported();
  codepage_mark_ = header.codepage_mark;
  charset_ = cs;
  binary_charset_ = twin;
}

void DbfFile::write_dbf_header() {
  QZ_TRACE;
  dbf_header_st header;
  header.version = version_;
  dbf_header_date(to_time(last_modified_ns), &header);
  header.record_count = record_count;
  header.header_length = static_cast<uint16_t>(header_length);
  header.record_length = static_cast<uint16_t>(record_length);
  std::memcpy(header.kept, kept_header_bytes, sizeof header.kept);
  header.flags = static_cast<uint8_t>((has_memo ? kDbfFlagMemo : 0) | (has_structural_index ? kDbfFlagStructuralIndex : 0));
  header.codepage_mark = codepage_mark_;
  unsigned char raw[kDbfHeaderSize];
  encode_dbf_header(header, raw);
  file_->writeex(0, reinterpret_cast<const char*>(raw), sizeof raw);
}

void DbfFile::update_dbf_header() {
  QZ_TRACE;
  if ((file_->mode & OPEN_UNLINK_ON_CREATE) == 0) write_dbf_header();
}

void DbfFile::refresh_dbf_header() {
  QZ_TRACE;
  if (is_shared()) read_dbf_header();
}

// Every record write stamps the table: the coarse clock (a tick's precision, the header keeps the
// day) costs a fraction of the precise one.
void DbfFile::touch() {
  QZ_TRACE;
  struct timespec ts;
  if (clock_gettime(CLOCK_REALTIME_COARSE, &ts) == 0) {
    last_modified_ns = static_cast<int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
  } else {
    last_modified_ns = now_ns();
  }
}

void DbfFile::last_modified_yyyymmdd(uint32_t* year, uint32_t* month, uint32_t* day) const {
  QZ_TRACE;
  time_t t = to_time(last_modified_ns);
  struct tm tm {};
  localtime_r(&t, &tm);
  *year = static_cast<uint32_t>(tm.tm_year + 1900);
  *month = static_cast<uint32_t>(tm.tm_mon + 1);
  *day = static_cast<uint32_t>(tm.tm_mday);
}

String DbfFile::get_database_filename() const {
  QZ_TRACE;
  return String(backlink, strnlen(backlink, sizeof backlink), charset_);
}

// --- descriptors ---

void DbfFile::read_dbf_field_header(DbfField* field) {
  QZ_TRACE;
  if (file_->readex(static_cast<std::streamoff>(field->descriptor_offset), reinterpret_cast<char*>(field->raw),
                    kDbfDescriptorSize) < kDbfDescriptorSize) {
    throw dbf_error_buffer_underrun();
  }
  load_field_header(field);
}

void DbfFile::load_field_header(DbfField* field) {
  QZ_TRACE;
  dbf_descriptor_st d;
  decode_dbf_descriptor(field->raw, &d);
  field->type = d.type;
  std::memset(field->name, 0, sizeof field->name);
  std::memcpy(field->name, d.name, strnlen(d.name, sizeof d.name));
  field->autoinc_next = d.autoinc_next;
  field->autoinc_step = d.autoinc_step;
  field->displacement = d.displacement;
  field->decimals = d.decimals;
  field->width = d.width;
  field->system = (d.flags & kFieldFlagSystem) != 0;
  field->nullable = (d.flags & kFieldFlagNullable) != 0;
  field->binary = (d.flags & kFieldFlagBinary) != 0;
  field->autoinc = (d.flags & kFieldFlagAutoinc) != 0;
}

void DbfFile::write_dbf_field_header(DbfField* field) {
  QZ_TRACE;
  dbf_descriptor_st d;
  std::memcpy(d.name, field->name, strnlen(field->name, 10));
  d.type = field->type;
  d.displacement = field->displacement;
  d.width = static_cast<uint8_t>(field->width);
  d.decimals = static_cast<uint8_t>(field->decimals);
  d.flags = static_cast<uint8_t>((field->system ? kFieldFlagSystem : 0) | (field->nullable ? kFieldFlagNullable : 0) |
                                 (field->binary ? kFieldFlagBinary : 0) | (field->autoinc ? kFieldFlagAutoinc : 0));
  d.autoinc_next = field->autoinc_next;
  d.autoinc_step = static_cast<uint8_t>(field->autoinc_step);
  encode_dbf_descriptor(d, field->raw);
  file_->writeex(static_cast<std::streamoff>(field->descriptor_offset), reinterpret_cast<const char*>(field->raw),
                 kDbfDescriptorSize);
}

void DbfFile::read_dbf_field_headers() {
  QZ_TRACE;
  for (auto& f : all_fields) read_dbf_field_header(f.get());
}

void DbfFile::write_dbf_field_headers() {
  QZ_TRACE;
  for (auto& f : all_fields) write_dbf_field_header(f.get());
}

// --- open ---

void DbfFile::open_existing() {
  QZ_TRACE;
  read_dbf_header();
  // The descriptor area in one read: up to the first record, and one slot beyond it.
  std::vector<char> area(header_length > kDbfHeaderSize ? header_length - kDbfHeaderSize + kDbfDescriptorSize : 0);
  size_t area_bytes = area.empty() ? 0 : file_->readex(kDbfHeaderSize, area.data(), area.size());
  uint64_t position = kDbfHeaderSize;
  std::vector<uint64_t> offsets;
  for (;;) {
    // The descriptors end before the first record: a terminator missing there is damage, and
    // bounding the loop keeps a damaged file from being read as millions of descriptors.
    if (position >= header_length) throw dbf_error_file_corruption();
    terminator_offset = position;
    behind_terminator = position + 1;
    size_t at = position - kDbfHeaderSize;
    size_t n = area_bytes > at ? area_bytes - at : 0;
    if (n == 0) throw dbf_error_buffer_underrun();
    if (area[at] == kDbfTerminator) break;
    if (n < kDbfDescriptorSize) throw dbf_error_buffer_underrun();
    offsets.push_back(position);
    position += kDbfDescriptorSize;
  }
  for (uint64_t offset : offsets) {
    auto field = std::make_unique<DbfField>();
    field->descriptor_offset = offset;
    std::memcpy(field->raw, area.data() + (offset - kDbfHeaderSize), kDbfDescriptorSize);
    load_field_header(field.get());
    all_fields.push_back(std::move(field));
  }
  std::memset(backlink, 0, sizeof backlink);
  if (find_dbf_version(version_)->backlink) {
    file_->readex(static_cast<std::streamoff>(behind_terminator), backlink, sizeof backlink);
  }
  setup_record_engine();
  set_fields_readwrite();
  set_autoinc_fields_readonly();

  if (is_writable()) {
    DbfAppendLock append(this);
    read_dbf_header();
    uint64_t size = file_->get_size();
    uint64_t expected = size > header_length ? (size - header_length) / record_length : 0;
    // One whole record more than the header counts is an append that stopped between writing the
    // record and the header (under this lock no append is in progress): it never completed.
    if (expected == static_cast<uint64_t>(record_count) + 1 || (expected > record_count && tail_taken_ahead(size))) {
      cut_to_record_count();
    } else if (expected != record_count) {
      throw dbf_invalid_reccount_detected();
    }
    append.release();
    if (!is_shared()) {
      if (auto* unix_file = dynamic_cast<FileUnix*>(file_)) unix_file->map_writes();
    }
  }
  if (!memo_fields.empty() && fpt_ == nullptr) open_memo_file();
}

// Behind the counted records: at most one record whose append never completed, then only zero
// bytes, the blocks an exclusive writer takes ahead (see FileUnix::map_writes) when it was killed
// before it closed. No record starts with a zero byte, so such a tail holds no record.
bool DbfFile::tail_taken_ahead(uint64_t size) {
  QZ_TRACE;
  uint64_t at = header_length + static_cast<uint64_t>(record_count) * record_length;
  if (size <= at) return false;
  char first = 0;
  if (file_->readex(static_cast<std::streamoff>(at), &first, 1) == 1 && first != 0) at += record_length;
  std::vector<char> chunk(64 << 10);
  while (at < size) {
    size_t n = file_->readex(static_cast<std::streamoff>(at), chunk.data(), chunk.size());
    if (n == 0) break;
    for (size_t i = 0; i < n; ++i) {
      if (chunk[i] != 0) return false;
    }
    at += n;
  }
  return true;
}

void DbfFile::open_memo_file() {
  QZ_TRACE;
  String name = memo_file_name(file_->name);
  std::error_code error;
  std::filesystem::path found;
  if (!exists_ci(static_cast<std::filesystem::path>(name), true, true, error, found)) throw dbf_fpt_file_missing();
  fpt_ = FptFile::open(String(found), file_->mode & (OPEN_WRITE | OPEN_SHARED | OPEN_JOIN));
}

// The bits of one field: a varlen bit for Q and V, then a null bit when nullable. The basic
// tables have no null bits (a nullable flag there is ignored), and in versions 0x30 and 0x31 W
// and G fields get none either, as the files those versions write count them.
void DbfFile::hand_out_bits(DbfField* field) {
  QZ_TRACE;
  field->null_byte = -1;
  field->varlen_byte = -1;
  if (types_ == &dbf_types_basic || null_flags == nullptr) return;
  uint32_t base = null_flags->displacement;
  if (field->type == 'Q' || field->type == 'V') {
    field->varlen_byte = static_cast<int32_t>(base + null_bits / 8);
    field->varlen_mask = static_cast<uint8_t>(1u << (null_bits % 8));
    ++null_bits;
  }
  bool memo_without_bit = (field->type == 'W' || field->type == 'G') && version_ != 0x32;
  if (field->nullable && !memo_without_bit) {
    field->null_byte = static_cast<int32_t>(base + null_bits / 8);
    field->null_mask = static_cast<uint8_t>(1u << (null_bits % 8));
    ++null_bits;
  }
}

void DbfFile::check_structure() {
  QZ_TRACE;
  size_t n = all_fields.size();
  uint64_t expected_header = 32 * (n + 1) + 1 + (find_dbf_version(version_)->backlink ? kDbfBacklinkSize : 0);
  if (header_length != expected_header) throw dbf_error_file_corruption();
  // In the basic versions bytes 12 to 15 of a descriptor were never a displacement: writers leave
  // zeros, a memory address or the field's end there. The widths alone place those fields.
  const bool placed_by_widths = types_ == &dbf_types_basic;
  uint64_t displacement = 1;
  for (auto& f : all_fields) {
    if (placed_by_widths) {
      f->displacement = static_cast<uint32_t>(displacement);
    } else if (f->displacement != displacement) {
      throw dbf_error_file_corruption();
    }
    displacement += f->width;
  }
  if (record_length != displacement) throw dbf_error_file_corruption();

  // Widths come from the file: each codec relies on its own.
  for (auto& f : all_fields) {
    if (!types_->has(f->type)) throw dbf_error_field_name_dup_or_inv();
    uint32_t w = f->width;
    switch (f->type) {
      case 'I':
        if (w != 4) throw dbf_error_file_corruption();
        break;
      case 'B':
      case 'Y':
      case 'D':
      case 'T':
        if (w != 8) throw dbf_error_file_corruption();
        break;
      case 'C':
      case 'V':
        if (w == 0 || (!f->binary && w % charset_->max_bytes() != 0)) throw dbf_error_file_corruption();
        break;
      case '0':
        if (std::strcmp(f->name, kNullFlagsName) != 0) throw dbf_error_file_corruption();
        break;
      default:
        if (w == 0) throw dbf_error_file_corruption();
        break;
    }
  }
}

void DbfFile::setup_record_engine() {
  QZ_TRACE;
  check_structure();
  fields.clear();
  system_fields.clear();
  memo_fields.clear();
  autoinc_fields.clear();
  null_flags = nullptr;
  null_bits = 0;
  for (auto& f : all_fields) {
    if (f->type == kNullFlagsType) {
      if (null_flags != nullptr) throw dbf_error_file_corruption();
      null_flags = f.get();
    }
  }
  for (auto& f : all_fields) {
    DbfField* field = f.get();
    if (field->type == kNullFlagsType) {
      field->system = true;
      field->binary = true;
      system_fields.push_back(field);
    } else {
      hand_out_bits(field);
      if (field->system) {
        system_fields.push_back(field);
      } else {
        fields.push_back(field);
      }
    }
    if (field->is_memo()) memo_fields.push_back(field);
    if (field->autoinc && field->type == 'I') autoinc_fields.push_back(field);
    setup_field_codecs(this, field);
  }
  if (null_bits > 0 && (null_flags == nullptr || null_flags->width * 8 < null_bits)) throw dbf_error_file_corruption();

  blank_record = std::make_unique<char[]>(record_length);
  current_record = std::make_unique<char[]>(record_length);
  old_record = std::make_unique<char[]>(record_length);
  disk_record = std::make_unique<char[]>(record_length);
  blank_record[0] = kDbfLiveMark;
  for (auto& f : all_fields) f->set_blank(this, f.get(), blank_record.get());
  std::memcpy(current_record.get(), blank_record.get(), record_length);
  std::memcpy(old_record.get(), blank_record.get(), record_length);
}

void DbfFile::free() {
  QZ_TRACE;
  all_fields.clear();
  fields.clear();
  system_fields.clear();
  memo_fields.clear();
  autoinc_fields.clear();
  null_flags = nullptr;
  null_bits = 0;
  blank_record.reset();
  current_record.reset();
  old_record.reset();
  disk_record.reset();
  record_count = 0;
  header_length = 0;
  record_length = 0;
  terminator_offset = 0;
  behind_terminator = 0;
  has_structural_index = false;
  has_memo = false;
  std::memset(kept_header_bytes, 0, sizeof kept_header_bytes);
  std::memset(backlink, 0, sizeof backlink);
  locked_records.clear();
  readahead_.reset();
  readahead_capacity_ = 0;
  readahead_count_ = 0;
  selected_index_ = nullptr;
  selected_backward_ = false;
  recno = 0;
  bof = eof = appending = false;
}

void DbfFile::close() {
  QZ_TRACE;
  index_hooks_->close_index_file();
  if (fpt_ != nullptr) {
    delete fpt_;  // closes the memo file
    fpt_ = nullptr;
  }
  if (file_ != nullptr) {
    file_->close();
    delete file_;
    file_ = nullptr;
  }
}

void DbfFile::remove() {
  QZ_TRACE;
  index_hooks_->remove_index_file();
  if (fpt_ != nullptr) fpt_->file()->remove();
  if (file_ != nullptr) file_->remove();
}

// --- create ---

void DbfFile::create_new(createopts_st* options, fielddef_st* defs, size_t count) {
  QZ_TRACE;
  if (!all_fields.empty() || header_length != 0) throw dbf_error_file_exists();
  int codepage = static_cast<int>(options->codepage);
  uint8_t mark = mark_of_codepage(codepage);
  if (mark == 0) throw dbf_error_codepage_not_supported();
  const Charset* cs = get_charset_by_codepage(codepage, false);
  const Charset* twin = get_charset_by_codepage(codepage, true);
  if (cs == nullptr || twin == nullptr) throw dbf_error_codepage_not_supported();
  charset_ = cs;
  binary_charset_ = twin;
  codepage_mark_ = mark;
  version_ = kDbfCreateVersion;
  const dbf_version_st* row = find_dbf_version(version_);
  max_size_ = row->max_size;
  types_ = row->types;
  touch();

  size_t min_bytes = cs->min_bytes();
  size_t long_max = 88 - min_bytes;
  size_t short_max = 11 - min_bytes;
  if (short_max > 10) short_max = 10;
  bool accept = options->accept_altered_names != 0;
  string_set_ci taken;
  uint64_t record_bytes = 1;
  uint32_t bits = 0;
  bool any_memo = false;
  std::vector<std::unique_ptr<DbfField>> made;
  for (size_t i = 0; i < count; ++i) {
    fielddef_st& def = defs[i];
    String given = definition_name(def);
    bool invalid, duplicate, cut;
    String long_name = uniqify(taken, given, cs, long_max, &invalid, &duplicate, &cut);
    if ((invalid || duplicate || cut) && !accept) throw dbf_error_field_name_dup_or_inv();
    String long_utf8 = long_name;
    long_utf8.convert(Charset::utf8, CON_NONE, 0);
    if (long_utf8.size() != given.size() || std::memcmp(long_utf8.read(), given.read(), given.size()) != 0) {
      size_t n = long_utf8.size() < sizeof def.name - 1 ? long_utf8.size() : sizeof def.name - 1;
      std::memset(def.name, 0, sizeof def.name);
      std::memcpy(def.name, long_utf8.read(), n);
    }
    String short_name = uniqify(taken, long_name, cs, short_max, &invalid, &duplicate, &cut);
    if ((invalid || duplicate || cut) && !accept) throw dbf_error_field_name_dup_or_inv();
    taken.insert(short_name);

    auto field = std::make_unique<DbfField>();
    std::memcpy(field->name, short_name.read(), short_name.size() < 10 ? short_name.size() : 10);
    create_field_layout(cs, def, options->clamp != 0, field.get());
    if (field->type == 'Q' || field->type == 'V') ++bits;
    if (def.null_mode == FIELDINFO_NULL) {
      field->nullable = true;
      ++bits;
    }
    if (field->is_memo()) any_memo = true;
    field->displacement = static_cast<uint32_t>(record_bytes);
    record_bytes += field->width;
    made.push_back(std::move(field));
  }
  if (bits > 0) {
    auto field = std::make_unique<DbfField>();
    std::memcpy(field->name, kNullFlagsName, sizeof kNullFlagsName);
    field->type = kNullFlagsType;
    field->system = true;
    field->binary = true;
    field->width = ((bits - 1) >> 3) + 1;
    field->displacement = static_cast<uint32_t>(record_bytes);
    record_bytes += field->width;
    made.push_back(std::move(field));
  }
  uint64_t header_bytes = 32 * (made.size() + 1) + 1 + kDbfBacklinkSize;
  // The header holds both lengths in 16 bits.
  if (record_bytes > 0xFFFF || header_bytes > 0xFFFF) throw RuntimeError(1731);

  if (static_cast<std::streamoff>(seek_to_end(file_)) != 0) throw dbf_error_file_exists();
  for (size_t i = 0; i < made.size(); ++i) made[i]->descriptor_offset = 32 * (i + 1);
  header_length = static_cast<uint32_t>(header_bytes);
  record_length = static_cast<uint32_t>(record_bytes);
  char tail[1 + kDbfBacklinkSize] = {};
  tail[0] = kDbfTerminator;
  file_->writeex(static_cast<std::streamoff>(32 * (made.size() + 1)), tail, sizeof tail);

  if (any_memo) {
    String memo_name = memo_file_name(file_->name);
    if (!is_memory_file_name(memo_name)) {
      std::error_code error;
      std::filesystem::remove(static_cast<std::filesystem::path>(memo_name), error);
      if (error) throw dbf_error_cannot_create_fpt();
    }
    File* memo = create_file(memo_name, file_->mode & (OPEN_SHARED | OPEN_UNLINK_ON_CREATE));
    fpt_ = FptFile::create(memo, options->blocksize);
    has_memo = true;
  }
  all_fields = std::move(made);
  write_dbf_header();
  write_dbf_field_headers();

  free();  // the memo file stays open: open_existing finds it there
  open_existing();

  if (file_->mode & OPEN_UNLINK_ON_CREATE) {
    for (size_t i = 0; i < fields.size() && i < count; ++i) {
      std::memset(fields[i]->name, 0, sizeof fields[i]->name);
      strcpy_checked(fields[i]->name, sizeof fields[i]->name, defs[i].name);
    }
  }
}

}  // namespace qzbase
