// module_file.cpp - the compiled-module file: header, program records, symbol section, the cache
// file's name, and writing and reading it on disk. Operations are coded in module_file_ops.cpp;
// the layout is in module_file.md.
#include "vm/module_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <memory>
#include <system_error>

#include "platform/paths.h"
#include "values/checksum.h"
#include "vm/code_array.h"
#include "vm/execute.h"
#include "vm/module.h"
#include "vm/module_file_codec.h"
#include "vm/symtable.h"
#include "values/string_internal.h"

namespace qzbase {

namespace {

constexpr char kMagic[4] = {'Q', 'Z', 0, 0};       // 0x00005A51 little-endian
constexpr char kVersion[2] = {0x00, 0x01};         // 0x0100 little-endian
constexpr uint8_t kProgramRecord = 0x32;           // "2"
constexpr uint8_t kSymbolSection = 0x3C;           // "<"
constexpr size_t kHeaderPrefix = 4 + 2 + 2 + 8;    // magic, version, name's charset id and size
constexpr size_t kHeaderSuffix = 8 + 8;            // time stamp, symbol section offset

struct module_file_header_st {
  String source;
  int64_t time = 0;
  uint64_t symbols = 0;  // position of the symbol section's marker
};

void read_header(image_reader& in, module_file_header_st* header) {
  if (std::memcmp(in.take(4), kMagic, 4) != 0) throw module_file_malformed();
  if (std::memcmp(in.take(2), kVersion, 2) != 0) throw module_file_malformed();
  header->source = read_string(in);
  header->time = static_cast<int64_t>(in.u64());
  header->symbols = in.u64();
}

// A record: marker, its length (counting the length field itself), then what body writes.
template <class Body>
void write_record(uint8_t marker, module_writer& out, Body body) {
  out.u8(marker);
  const size_t at = out.position();
  out.u64(0);
  body();
  out.patch_u64(at, out.position() - at);
}

// One program record's body: its name (a symbol index), parameter count, local offsets, operations.
void write_program(const Program* program, symbol_id_type name, module_writer& out) {
  out.u64(out.symbol_index(name));
  out.u32(static_cast<uint32_t>(program->parameter_count()));
  const local_offset_map& offsets = program->local_offsets();
  if (offsets.size() > UINT32_MAX) throw_assert_failed();
  out.u32(static_cast<uint32_t>(offsets.size()));
  for (const auto& [symbol, offset] : offsets) {
    out.u64(out.symbol_index(symbol));
    out.u32(static_cast<uint32_t>(offset));
  }
  write_program_operations(program, out);
}

// Reads one program record's body (in is limited to it) into the module.
void read_program(opcode_decoder_stack_t& state, image_reader& in, Symtable* symtable, Module* module) {
  const symbol_id_type name = state.symbol(in.u64());
  const auto parameters = static_cast<size_t>(sign_extend_32(in.u32()));
  const size_t n = in.count(in.u32(), 12);
  local_offset_map offsets;
  offsets.reserve(n);
  for (size_t i = 0; i < n; ++i) {
    const symbol_id_type symbol = state.symbol(in.u64());
    // Two entries for one symbol: the writer never makes them.
    if (!offsets.emplace(symbol, sign_extend_32(in.u32())).second) throw module_file_malformed();
  }
  size_t count = 0;
  StatementTable statements;
  VmOp** code = read_program_operations(state, in, &count, &statements);
  std::unique_ptr<Program> program;
  try {
    program = std::make_unique<Program>(symtable->resolve(name), code, count, parameters, offsets, nullptr, nullptr,
                                        std::move(statements));
  } catch (...) {
    for (size_t i = 0; i < count; ++i) release_op(code[i]);
    delete_code_array(code, count + 1);
    throw;
  }
  program->share_ops(state.shared_ops);
  auto function = std::make_unique<UserFunction>(program.get());
  program.release();
  if (module->add_procedure(name, function.get())) function.release();
}

// Reads the whole of a file into memory; false when it cannot be opened or read to its end.
bool read_file(const std::string& path, std::string* data) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat status {};
  bool ok = ::fstat(fd, &status) == 0 && S_ISREG(status.st_mode);
  if (ok) {
    data->resize(static_cast<size_t>(status.st_size));
    size_t done = 0;
    while (ok && done < data->size()) {
      const ssize_t n = ::read(fd, data->data() + done, data->size() - done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) ok = false;  // an error, or the file shrank meanwhile
      else done += static_cast<size_t>(n);
    }
  }
  ::close(fd);
  return ok;
}

// The first `size` bytes of a file (fewer when it is shorter); false when it cannot be read.
bool read_prefix(int fd, size_t size, std::string* data) {
  data->resize(size);
  size_t done = 0;
  while (done < size) {
    const ssize_t n = ::pread(fd, data->data() + done, size - done, static_cast<off_t>(done));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) break;
    done += static_cast<size_t>(n);
  }
  data->resize(done);
  return true;
}

bool write_all(int fd, const std::string& data) {
  size_t done = 0;
  while (done < data.size()) {
    const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

// Replaces the file at path by data as a whole: written to a new file beside it, flushed, and then
// renamed over it, so a reader sees the old file or the new one and never a part of either.
bool replace_file(const std::string& path, const std::string& data) {
  std::string temp = path + ".XXXXXX";
  const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
  if (fd < 0) return false;
  bool ok = write_all(fd, data) && ::fsync(fd) == 0;
  ok = ::close(fd) == 0 && ok;
  if (ok) ok = ::rename(temp.c_str(), path.c_str()) == 0;
  if (!ok) ::unlink(temp.c_str());
  return ok;
}

std::string utf8_of(const String& s) { return s.u8str(); }

// Reads a whole image; false for any malformed or truncated one (nothing is kept then).
bool read_image(const char* data, size_t size, Symtable* symtable, std::unique_ptr<Module>* out,
                module_file_header_st* header) {
  try {
    image_reader in(data, size);
    read_header(in, header);
    const size_t after_header = in.position();

    opcode_decoder_stack_t state;
    if (header->symbols < after_header || header->symbols >= size) throw module_file_malformed();
    in.seek(static_cast<size_t>(header->symbols));
    if (in.u8() != kSymbolSection) throw module_file_malformed();
    const size_t section = in.position();
    const uint64_t length = in.u64();
    if (length < 16 || length > size - section) throw module_file_malformed();
    in.limit(section + static_cast<size_t>(length));
    const uint64_t count = in.u64();
    uint64_t entries = 0;
    while (!in.at_end()) {
      const uint64_t index = in.u64();
      const String name = read_string(in);
      state.symbols.emplace(index, symtable->symbolize(name));  // a repeated index keeps its first id
      ++entries;
    }
    if (entries != count) throw module_file_malformed();

    auto module = std::make_unique<Module>(header->source);
    in.seek(after_header);
    while (!in.at_end()) {
      const uint8_t marker = in.u8();
      const size_t at = in.position();
      const uint64_t record = in.u64();
      if (record < 8 || record > size - at) throw module_file_malformed();
      const size_t end = at + static_cast<size_t>(record);
      if (marker == kProgramRecord) {
        in.limit(end);
        read_program(state, in, symtable, module.get());
        if (!in.at_end()) throw module_file_malformed();  // the record is longer than its contents
      }
      in.seek(end);  // other records are skipped
    }
    *out = std::move(module);
    return true;
  } catch (const module_file_malformed&) {
    return false;
  }
}


}  // namespace

int64_t module_source_time(const String& source) {
  QZ_TRACE;
  const auto time = std::filesystem::last_write_time(std::filesystem::path(utf8_of(source)));
  const auto since_epoch = std::chrono::file_clock::to_sys(time).time_since_epoch();
  return std::chrono::duration_cast<std::chrono::seconds>(since_epoch).count();
}

bool create_stem(Runtime* runtime, String source, String& stem) {
  QZ_TRACE;
  String directory;
  if (!useropcodecachedir(runtime, directory)) return false;
  const std::string name = utf8_of(source);
  unsigned char digest[16];
  md5_string(String(name.data(), name.size(), Charset::utf8), digest, sizeof digest);
  const String hex = stringToEncodedHexBinary(String(reinterpret_cast<const char*>(digest), sizeof digest, Charset::binary));
  const std::string text = utf8_of(addbs(directory)) + "0.9.2700." + utf8_of(hex) + ".";
  stem = String(text.data(), text.size(), Charset::utf8);
  return true;
}

std::string module_file_image(const Module* module, Symtable* symtable, int64_t time) {
  QZ_TRACE;
  init_opcache_module();
  module_writer out;
  out.bytes(kMagic, sizeof kMagic);
  out.bytes(kVersion, sizeof kVersion);
  write_string(module->name, out);
  out.u64(static_cast<uint64_t>(time));
  const size_t symbols_at = out.position();
  out.u64(0);
  if (module->main != nullptr) {
    const Program* program = module->main->program();
    const symbol_id_type name = symtable->symbolize(program->name());
    write_record(kProgramRecord, out, [&] { write_program(program, name, out); });
  }
  for (const auto& entry : module->procedures) {
    write_record(kProgramRecord, out, [&] { write_program(entry.second->program(), entry.first, out); });
  }
  out.patch_u64(symbols_at, out.position());
  write_record(kSymbolSection, out, [&] {
    out.u64(out.symbols.size());
    for (size_t i = 0; i < out.symbols.size(); ++i) {
      out.u64(i + 1);
      write_string(symtable->resolve(out.symbols[i]), out);
    }
  });
  return std::move(out.out);
}

bool module_save_to_opcode_cache(Runtime* runtime, const Module* module, Symtable* symtable) {
  QZ_TRACE;
  // The whole image first: a module that cannot be stored is refused before anything is written.
  const std::string image = module_file_image(module, symtable, module_source_time(module->name));
  String stem;
  if (!create_stem(runtime, module->name, stem)) return false;
  return replace_file(utf8_of(stem) + "0", image);
}

bool module_read_image(const char* data, size_t size, Symtable* symtable, Module** out) {
  QZ_TRACE;
  init_opcache_module();
  std::unique_ptr<Module> module;
  module_file_header_st header;
  if (!read_image(data, size, symtable, &module, &header)) return false;
  *out = module.release();
  return true;
}

bool module_load_header_from_disk(std::filesystem::path path, String* source, int64_t* time,
                                  const Charset** charset, int64_t* symbols) {
  QZ_TRACE;
  init_opcache_module();
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  struct fd_closer {
    int fd;
    ~fd_closer() { ::close(fd); }
  } closer{fd};
  struct stat status {};
  if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) return false;
  const auto file_size = static_cast<uint64_t>(status.st_size);
  std::string bytes;
  if (!read_prefix(fd, kHeaderPrefix, &bytes) || bytes.size() < kHeaderPrefix) return false;
  // The name's size stands in the last 8 bytes of the prefix; the header must fit in the file.
  image_reader prefix(bytes.data() + kHeaderPrefix - 8, 8);
  const uint64_t name_size = prefix.u64();
  if (name_size > file_size || kHeaderPrefix + kHeaderSuffix > file_size - name_size) return false;
  const auto header_size = static_cast<size_t>(kHeaderPrefix + name_size + kHeaderSuffix);
  if (!read_prefix(fd, header_size, &bytes) || bytes.size() < header_size) return false;
  module_file_header_st header;
  try {
    image_reader in(bytes.data(), bytes.size());
    read_header(in, &header);
  } catch (const module_file_malformed&) {
    return false;
  }
  *source = header.source;
  *time = header.time;
  *charset = header.source.get_charset();
  *symbols = static_cast<int64_t>(header.symbols);
  return true;
}

bool module_load_from_cache(Runtime* runtime, const String& source, Symtable* symtable, Module** out) {
  QZ_TRACE;
  init_opcache_module();
  const int64_t time = module_source_time(source);
  String stem;
  if (!create_stem(runtime, source, stem)) return false;
  const std::string prefix = utf8_of(stem);
  for (int32_t i = 0; i < INT32_MAX; ++i) {
    const std::string name = prefix + std::to_string(i);
    std::error_code error;
    if (!std::filesystem::exists(name, error) || error) return false;
    String stored;
    int64_t stored_time = 0;
    const Charset* charset = nullptr;
    int64_t symbols = 0;
    if (!module_load_header_from_disk(name, &stored, &stored_time, &charset, &symbols)) continue;
    if (stored_time != time || stored.cmp(source, Collation::unicode_machine) != 0) continue;
    std::string image;
    if (!read_file(name, &image)) return false;
    // The file may have been replaced since its header was read: the image must still match.
    std::unique_ptr<Module> module;
    module_file_header_st header;
    if (!read_image(image.data(), image.size(), symtable, &module, &header)) return false;
    if (header.time != time || header.source.cmp(source, Collation::unicode_machine) != 0) return false;
    *out = module.release();
    return true;
  }
  return false;
}

}  // namespace qzbase
