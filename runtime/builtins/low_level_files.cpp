// low_level_files.cpp - the FOPEN family over the runtime's FileHandleRegistry.
//
// Mended:
// - FOPEN of an existing path that cannot be opened as a file (a directory, a file without read
//   permission) returned -1 with FERROR() 0: it records code 2.
// - FREAD sized its buffer as n times the character set's widest character: a negative n wrapped
//   and a huge one overflowed or asked for memory the file could never fill. A negative n raises
//   11, and the text is read in bounded pieces, so the buffer never exceeds what is read.
// - The FERROR codes were kept by stack address and never dropped: the map grew with every stack
//   that ever used a handle, and a new stack at a reused address saw an old code. They are kept
//   by stack id (never reused within a runtime) and dropped when the stack is released.
#include "builtins/low_level_files.h"

#include <climits>
#include <cstring>
#include <ios>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <vector>

#include "builtins/arguments.h"
#include "builtins/entry_points.h"
#include "platform/file_io.h"
#include "builtins/registry.h"
#include "platform/file_handle.h"
#include "values/charset_registry.h"
#include "vm/execute.h"
#include "vm/vm_stack.h"

namespace qzbase {

namespace {

enum FileErrorCode : uint32_t { FERR_NONE = 0, FERR_CANNOT_OPEN = 2, FERR_NO_HANDLE = 6 };

FileHandleRegistry* registry_of(VmStack* stack) { return find_file_handle_registry(stack->get_runtime()); }

void record(FileHandleRegistry* registry, VmStack* stack, uint32_t code) {
  {
    std::shared_lock<std::shared_mutex> lock(registry->error_lock);
    auto it = registry->errors.find(stack->id);
    if (it != registry->errors.end()) {
      it->second = code;  // only this stack's thread touches its entry
      return;
    }
  }
  std::unique_lock<std::shared_mutex> lock(registry->error_lock);
  registry->errors[stack->id] = code;
}

// A handle found by id and held under its own lock until the end of the scope; empty when the id
// is unknown.
class HandleInUse {
 public:
  HandleInUse(FileHandleRegistry* registry, int64_t id) {
    if (id <= 0) return;
    std::shared_lock<std::shared_mutex> map(registry->lock);
    auto it = registry->handles.find(static_cast<uint64_t>(id));
    if (it == registry->handles.end()) return;
    handle_ = it->second;
    handle_->lock.lock();  // before the map lock goes: FCLOSE cannot delete it meanwhile
  }
  ~HandleInUse() {
    if (handle_ != nullptr) handle_->lock.unlock();
  }
  HandleInUse(const HandleInUse&) = delete;
  HandleInUse& operator=(const HandleInUse&) = delete;

  FileHandle* get() const { return handle_; }

 private:
  FileHandle* handle_ = nullptr;
};

// Runs use(registry, handle) with the handle whose id is argument 1, held under its own lock; an
// unknown id records code 6 and runs missing() instead.
template <class Use, class Missing>
void with_handle(VmStack* stack, Use use, Missing missing) {
  FileHandleRegistry* registry = registry_of(stack);
  HandleInUse held(registry, integer_argument(stack, 1));
  if (held.get() == nullptr) {
    record(registry, stack, FERR_NO_HANDLE);
    missing();
    return;
  }
  use(registry, held.get());
}

long position_of(FileHandle* handle) { return static_cast<long>(static_cast<std::streamoff>(handle->tell())); }

// Up to n characters of the handle's character set, read in pieces of bounded size; a piece that
// comes back short ends the read (the input has no more for now).
String read_characters(FileHandle* handle, uint64_t n) {
  const Charset* cs = handle->charset() != nullptr ? handle->charset() : Charset::binary;
  const size_t widest = cs->max_bytes() != 0 ? cs->max_bytes() : 1;
  constexpr size_t kPieceChars = 65536;
  std::string text;
  std::vector<char> buffer;
  uint64_t left = n;
  while (left > 0) {
    size_t want = left < kPieceChars ? static_cast<size_t>(left) : kPieceChars;
    buffer.resize(want * widest);
    const Charset* got_cs = cs;
    size_t bytes = handle->read(buffer.data(), buffer.size(), want, &got_cs);
    if (bytes == 0) break;
    size_t chars = String(buffer.data(), bytes, got_cs).length();
    text.append(buffer.data(), bytes);
    left -= chars < left ? chars : left;
    if (chars < want) break;
  }
  return String(text.data(), text.size(), cs);
}

const Charset* default_charset(VmStack* stack) {
  Runtime* runtime = stack->get_runtime();
  return runtime != nullptr && runtime->codepage != nullptr ? runtime->codepage : Charset::utf8;
}

}  // namespace

FileHandleRegistry::~FileHandleRegistry() {
  QZ_TRACE;
  for (auto& [id, handle] : handles) __fclose(handle);
}

void forget_stack_file_error(VmStack* stack) noexcept {
  QZ_TRACE;
  FileHandleRegistry* registry = find_file_handle_registry_if_attached(stack->get_runtime());
  if (registry == nullptr) return;
  std::unique_lock<std::shared_mutex> lock(registry->error_lock);
  registry->errors.erase(stack->id);
}

size_t file_error_entries(Runtime* runtime) {
  QZ_TRACE;
  FileHandleRegistry* registry = find_file_handle_registry(runtime);
  std::shared_lock<std::shared_mutex> lock(registry->error_lock);
  return registry->errors.size();
}

// FOPEN(name [, mode [, charset]]): the id of a new handle, or -1 (FERROR() tells why).
void bi_fopen(VmStack* stack, size_t argc, Variant* result) {
  QZ_TRACE;
  if (argc < 1) throw RuntimeError(11);
  String name = string_argument(stack, 1);
  int mode = 0;
  if (has_argument(stack, argc, 2)) {
    mode = int32_argument(stack, 2);
  }
  const Charset* charset = default_charset(stack);
  if (has_argument(stack, argc, 3)) {
    String wanted = string_argument(stack, 3);
    wanted.convert(Charset::utf8, CON_NONE, 0);
    charset = get_charset_by_name(wanted);
    if (charset == nullptr) throw RuntimeError(9003, wanted);
  }

  FileHandleRegistry* registry = registry_of(stack);
  Runtime* runtime = stack->get_runtime();
  FileHandle* handle = nullptr;
  int code = __fopen(name, runtime != nullptr ? runtime->get_screen() : nullptr, mode, charset, &handle);
  if (handle == nullptr) {
    record(registry, stack, code != 0 ? static_cast<uint32_t>(code) : FERR_CANNOT_OPEN);
    result->set_integer(-1);
    return;
  }
  uint64_t id;
  {
    std::unique_lock<std::shared_mutex> map(registry->lock);
    id = registry->next_id++;
    registry->handles.emplace(id, handle);
  }
  record(registry, stack, FERR_NONE);
  result->set_integer(static_cast<unsigned long>(id));
}

// FCLOSE(id): closes and frees the handle. The result is .F. either way; an unknown id records 6.
void bi_fclose(VmStack* stack, size_t argc, Variant* result) {
  QZ_TRACE;
  if (argc < 1) throw RuntimeError(11);
  int64_t id = integer_argument(stack, 1);
  FileHandleRegistry* registry = registry_of(stack);
  FileHandle* handle = nullptr;
  if (id > 0) {
    std::unique_lock<std::shared_mutex> map(registry->lock);
    auto it = registry->handles.find(static_cast<uint64_t>(id));
    if (it != registry->handles.end()) {
      handle = it->second;
      registry->handles.erase(it);
    }
  }
  if (handle == nullptr) {
    record(registry, stack, FERR_NO_HANDLE);
  } else {
    // Whoever still uses it found it before it left the map and holds its lock: wait for them.
    handle->lock.lock();
    handle->lock.unlock();
    __fclose(handle);
  }
  result->set_false();
}

// FREAD(id, n): up to n characters of the handle's character set.
void bi_fread(VmStack* stack, size_t argc, Variant* result) {
  QZ_TRACE;
  if (argc < 2) throw RuntimeError(11);
  int64_t n = integer_argument(stack, 2);
  if (n < 0) throw RuntimeError(11);
  with_handle(
      stack,
      [&](FileHandleRegistry*, FileHandle* handle) {
        result->set_string(read_characters(handle, static_cast<uint64_t>(n)));
      },
      [&] { result->set_false(); });
}

// FGETS(id [, n]): one line (the length is accepted and not used).
void bi_fgets(VmStack* stack, size_t argc, Variant* result) {
  QZ_TRACE;
  if (argc < 1) throw RuntimeError(11);
  with_handle(
      stack,
      [&](FileHandleRegistry* registry, FileHandle* handle) {
        String line;
        handle->fgets(&line);
        record(registry, stack, FERR_NONE);
        result->set_string(line);
      },
      [&] { result->set_string(String("", 0, default_charset(stack))); });
}

// FSEEK(id, offset [, origin]): origin 0 start, 1 current position, 2 end; the new position.
void bi_fseek(VmStack* stack, size_t argc, Variant* result) {
  QZ_TRACE;
  if (argc < 2) throw RuntimeError(11);
  int64_t offset = integer_argument(stack, 2);
  int64_t origin = has_argument(stack, argc, 3) ? integer_argument(stack, 3) : 0;
  static const std::ios_base::seekdir directions[] = {std::ios_base::beg, std::ios_base::cur, std::ios_base::end};
  if (origin < 0 || origin > 2) throw RuntimeError(11);
  std::ios_base::seekdir direction = directions[origin];
  with_handle(
      stack,
      [&](FileHandleRegistry*, FileHandle* handle) {
        handle->seek(static_cast<std::streamoff>(offset), direction);
        result->set_integer(position_of(handle));
      },
      [&] { result->set_integer(-1); });
}

// FTELL(id): the position, -1 for an unknown id.
void bi_ftell(VmStack* stack, size_t argc, Variant* result) {
  QZ_TRACE;
  if (argc < 1) throw RuntimeError(11);
  with_handle(
      stack,
      [&](FileHandleRegistry* registry, FileHandle* handle) {
        long position = position_of(handle);
        record(registry, stack, FERR_NONE);
        result->set_integer(position);
      },
      [&] { result->set_integer(-1); });
}

// FEOF(id): the handle is at its end; .T. for an unknown id.
void bi_feof(VmStack* stack, size_t argc, Variant* result) {
  QZ_TRACE;
  if (argc < 1) throw RuntimeError(11);
  with_handle(
      stack, [&](FileHandleRegistry*, FileHandle* handle) { result->set_bool(__feof(handle)); },
      [&] { result->set_true(); });
}

// FERROR(): the last code recorded for this stack, 0 when none was.
void bi_ferror(VmStack* stack, size_t, Variant* result) {
  QZ_TRACE;
  FileHandleRegistry* registry = registry_of(stack);
  uint32_t code = 0;
  {
    std::shared_lock<std::shared_mutex> lock(registry->error_lock);
    auto it = registry->errors.find(stack->id);
    if (it != registry->errors.end()) code = it->second;
  }
  result->set_integer(static_cast<unsigned long>(code));
}

}  // namespace qzbase
