// file_paths.cpp - path parts, the current directory, existence tests, ADIR, FDATE, FTIME, MKDIR
// and CD.
//
// Paths are POSIX paths of the text's UTF-8 form; the path-part functions give their result in
// the argument's character set, the listings and directories in UTF-8.
#include "builtins/file_paths.h"

#include <sys/stat.h>
#include <time.h>
#include <unicode/unistr.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "builtins/arguments.h"
#include "builtins/entry_points.h"
#include "builtins/regular_expressions.h"
#include "platform/paths.h"
#include "values/julian.h"
#include "vm/execute.h"
#include "vm/vm_stack.h"

namespace qzbase {

namespace fs = std::filesystem;

namespace {

fs::path path_of(const String& text) { return fs::path(text.u8str()); }

String utf8_string(const std::string& text) { return String(text.data(), text.size(), Charset::utf8); }

const Charset* default_charset(VmStack* stack) {
  Runtime* runtime = stack->get_runtime();
  return runtime != nullptr && runtime->codepage != nullptr ? runtime->codepage : Charset::utf8;
}

struct local_time_st {
  int year, month, day, hour, minute, second;
};

bool local_time(time_t t, local_time_st* out) {
  struct tm tm;
  if (localtime_r(&t, &tm) == nullptr) return false;
  *out = {tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec};
  return true;
}

std::string hh_mm_ss(const local_time_st& t) {
  char text[32];
  std::snprintf(text, sizeof text, "%02d:%02d:%02d", t.hour, t.minute, t.second);
  return text;
}

// The date of a local time (an empty date when it is out of range).
date_st date_of(const local_time_st& t) {
  date_st d{0};
  if (serial_julian_date(t.year, static_cast<unsigned>(t.month), static_cast<unsigned>(t.day), &d) != 0) d.day = 0;
  return d;
}

}  // namespace

String sanitize_path(const String& text, std::error_code& error) {
  QZ_TRACE;
  error.clear();
  fs::path resolved = fs::canonical(path_of(text), error);
  if (error) return String();
  return utf8_string(resolved.native());
}

void _justfname(VmStack* stack, size_t, Variant* result) {
  QZ_TRACE;
  result->set_string(justfname(string_argument(stack, 1)));
}

void _justpath(VmStack* stack, size_t, Variant* result) {
  QZ_TRACE;
  result->set_string(justpath(string_argument(stack, 1)));
}

void _juststem(VmStack* stack, size_t, Variant* result) {
  QZ_TRACE;
  result->set_string(juststem(string_argument(stack, 1)));
}

void _justext(VmStack* stack, size_t, Variant* result) {
  QZ_TRACE;
  result->set_string(justext(string_argument(stack, 1)));
}

// ADDBS(path): "/" added unless the path ends with one; null stays null.
void _addbs(VmStack* stack, size_t, Variant* result) {
  QZ_TRACE;
  if (is_null_argument(Param(stack, 1))) {
    result->set_null();
    return;
  }
  result->set_string(addbs(string_argument(stack, 1)));
}

// FORCEEXT(path, ext): the extension replaced; a path without a file name gives an empty text.
void forceext(VmStack* stack, size_t argc, Variant* result) {
  QZ_TRACE;
  if (argc < 2) throw RuntimeError(11);
  String path = string_argument(stack, 1);
  fs::path p = path_of(path);
  if (!p.has_filename()) {
    result->set_string(String("", 0, default_charset(stack)));
    return;
  }
  result->set_string(force_extension(path, string_argument(stack, 2)));
}

// DEFAULTEXT(path, ext): ext added when the file name has no extension.
void defaultext(VmStack* stack, size_t argc, Variant* result) {
  QZ_TRACE;
  if (argc < 2) throw RuntimeError(11);
  result->set_string(default_extension(string_argument(stack, 1), string_argument(stack, 2)));
}

// FORCEPATH(path, dir): the file name of path inside dir.
void forcepath(VmStack* stack, size_t argc, Variant* result) {
  QZ_TRACE;
  if (argc < 2) throw RuntimeError(11);
  result->set_string(force_path(string_argument(stack, 1), string_argument(stack, 2)));
}

// CURDIR(): the current directory with a trailing "/".
void curdir(VmStack*, size_t, Variant* result) {
  QZ_TRACE;
  std::error_code error;
  std::string dir = fs::current_path(error).native();
  if (error) throw RuntimeError(202, utf8_string(dir));
  if (dir.empty() || dir.back() != '/') dir.push_back('/');
  result->set_string(utf8_string(dir));
}

// DIRECTORY(path): the path is an existing directory. Flags are not available.
void directory(VmStack* stack, size_t argc, Variant* result) {
  QZ_TRACE;
  if (argc >= 2) throw RuntimeError(1001, String("flags"));
  std::error_code error;
  String canonical = sanitize_path(string_argument(stack, 1), error);
  result->set_bool(!error && fs::is_directory(path_of(canonical), error) && !error);
}

// FILE(name [, flags]): the name (relative to the current directory, no path search) is an
// existing regular file, symbolic links followed. The flags are not used.
void _file(VmStack* stack, size_t, Variant* result) {
  QZ_TRACE;
  std::error_code error;
  bool regular = fs::is_regular_file(path_of(string_argument(stack, 1)), error);
  result->set_bool(regular && !error);
}

// ADIR(@a [, skeleton [, attributes [, flags]]]): the regular files (and, with attribute D, the
// directories, "." and ".." first) of a directory whose names match the skeleton, five columns
// (name, size, date, time, attributes). The array is left alone when nothing is listed.
void adir(VmStack* stack, size_t argc, Variant* result) {
  QZ_TRACE;
  if (argc < 1) throw RuntimeError(11);
  int flags = has_argument(stack, argc, 4) ? int32_argument(stack, 4) : 0;
  if (((flags & 1) && (flags & 4)) || ((flags & 8) && (flags & 16))) throw RuntimeError(11);
  bool upper = (flags & 4) != 0;
  bool ignore_case = (flags & 8) != 0;

  bool directories = false;
  if (has_argument(stack, argc, 3)) {
    for (char c : string_argument(stack, 3).u8str()) {
      switch (c) {
        case 'D':
        case 'd':
          directories = true;
          break;
        case 'H':
        case 'h':
        case 'S':
        case 's':
        case 'V':
        case 'v':
          break;
        default:
          throw RuntimeError(11);
      }
    }
  }

  std::error_code error;
  fs::path listed = fs::current_path(error);
  std::string skeleton;
  if (has_argument(stack, argc, 2)) skeleton = string_argument(stack, 2).u8str();
  Regex matcher;  // the compiled skeleton is its own matcher
  if (!skeleton.empty()) {
    fs::path s(skeleton);
    std::string pattern_part = skeleton;
    if (s.has_parent_path()) {
      listed = listed / s.parent_path();
      pattern_part = s.filename().native();
    }
    std::string pattern = "^";
    for (char c : pattern_part) {
      switch (c) {
        case '*':
          pattern += ".*";
          break;
        case '?':
          pattern += '.';
          break;
        case '$':
        case '(':
        case ')':
        case '+':
        case '.':
        case '[':
        case '\\':
        case '^':
        case '{':
        case '|':
        case '}':
          pattern += '\\';
          pattern += c;
          break;
        default:
          pattern += c;
      }
    }
    pattern += '$';
    UErrorCode status = U_ZERO_ERROR;
    uint32_t regex_flags = UREGEX_ERROR_ON_UNKNOWN_ESCAPES | (ignore_case ? UREGEX_CASE_INSENSITIVE : 0);
    const icu::UnicodeString units = icu::UnicodeString::fromUTF8(pattern);
    matcher = compile_regex(units.getBuffer(), units.length(), regex_flags, &status);
    if (U_FAILURE(status) || !matcher) throw RuntimeError(11);
  }

  struct Entry {
    std::string name;
    bool is_directory;
    uint64_t size;
    time_t modified;
  };
  std::vector<Entry> entries;
  auto consider = [&](const std::string& name, const fs::path& path) {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) return;
    bool is_dir = S_ISDIR(st.st_mode);
    if (!(S_ISREG(st.st_mode) || (is_dir && directories))) return;
    if (matcher) {
      // The matcher reads the text it is given where it lies: the text lives until the match ends.
      const icu::UnicodeString text = icu::UnicodeString::fromUTF8(name);
      UErrorCode status = U_ZERO_ERROR;
      uregex_setText(matcher.get(), text.getBuffer(), text.length(), &status);
      if (U_FAILURE(status) || !uregex_matches(matcher.get(), -1, &status) || U_FAILURE(status)) return;
    }
    entries.push_back(Entry{name, is_dir, is_dir ? 0 : static_cast<uint64_t>(st.st_size), st.st_mtim.tv_sec});
  };
  consider(".", listed);
  consider("..", listed / "..");
  for (fs::directory_iterator it(listed, error), end; !error && it != end; it.increment(error)) {
    consider(it->path().filename().native(), it->path());
  }

  if (!entries.empty()) {
    Array* a = Param(stack, 1)->dimension(stack, entries.size(), 5);
    for (size_t i = 0; i < entries.size(); ++i) {
      const Entry& e = entries[i];
      String name = utf8_string(e.name);
      if (upper) name = name.upper();
      local_time_st t{};
      bool have_time = local_time(e.modified, &t);
      a->write(stack, i + 1, 1)->set_string(name);
      a->write(stack, i + 1, 2)->set_integer(static_cast<unsigned long>(e.size));
      a->write(stack, i + 1, 3)->set(have_time ? date_of(t) : date_st{0});
      a->write(stack, i + 1, 4)->set_string(utf8_string(have_time ? hh_mm_ss(t) : std::string("00:00:00")));
      a->write(stack, i + 1, 5)->set_string(String(e.is_directory ? "....D" : "....."));
    }
  }
  result->set_integer(entries.size());
}

// FDATE(name [, type]): the last-write date (type 0) or date and time (type 1), in local time, of
// the file found along the current directory and SET PATH (else the name itself). The final
// symbolic link is not followed.
void fdate(VmStack* stack, size_t argc, Variant* result) {
  QZ_TRACE;
  if (argc < 1) throw RuntimeError(11);
  int type = has_argument(stack, argc, 2) ? int32_argument(stack, 2) : 0;
  if (type != 0 && type != 1) throw RuntimeError(11);
  String name = string_argument(stack, 1);
  fs::path path = path_of(name);
  Runtime* runtime = stack->get_runtime();
  fs::path found;
  if (runtime != nullptr && runtime->find_file(path, found, false, false)) path = found;
  struct stat st;
  local_time_st t{};
  if (::lstat(path.c_str(), &st) != 0 || !local_time(st.st_mtim.tv_sec, &t)) throw RuntimeError(1);
  if (type == 0) {
    result->set(date_of(t));
    return;
  }
  datetime_st dt{0, 0};
  if (serial_julian_date(t.year, static_cast<unsigned>(t.month), static_cast<unsigned>(t.day),
                         static_cast<unsigned>(t.hour), static_cast<unsigned>(t.minute),
                         static_cast<unsigned>(t.second), &dt) != 0) {
    dt = datetime_st{0, 0};
  }
  result->set(dt);
}

// FTIME(name): the last-write time "hh:mm:ss" (local, 24 hours) of the name relative to the
// current directory (no path search).
void ftime(VmStack* stack, size_t argc, Variant* result) {
  QZ_TRACE;
  if (argc < 1) throw RuntimeError(11);
  struct stat st;
  local_time_st t{};
  fs::path path = path_of(string_argument(stack, 1));
  if (::stat(path.c_str(), &st) != 0 || !local_time(st.st_mtim.tv_sec, &t)) throw RuntimeError(1);
  result->set_string(String(hh_mm_ss(t).c_str()));
}

// MKDIR name: one new directory level; an existing name (as anything) or a failure raises 9901.
void void_stackcall_mkdir(VmStack* stack, size_t argc) {
  QZ_TRACE;
  if (argc < 1) throw RuntimeError(11);
  fs::path path = path_of(string_argument(stack, 1));
  std::error_code error;
  fs::file_status status = fs::symlink_status(path, error);
  if (fs::exists(status) || (error && error != std::errc::no_such_file_or_directory)) throw RuntimeError(9901);
  if (!fs::create_directory(path, error) || error) throw RuntimeError(9901);
}

// CD path: the current directory becomes the canonical form of the path (relative paths start at
// the current directory); a path that is no directory raises 202 with the target.
void void_stackcall_cd(VmStack* stack, size_t argc) {
  QZ_TRACE;
  if (argc < 1) throw RuntimeError(11);
  std::string text = string_argument(stack, 1).u8str();
  fs::path given(text);
  std::error_code error;
  std::string target = given.has_root_directory() ? text : fs::current_path(error).native() + "/" + text;
  fs::path canonical = fs::canonical(fs::path(target), error);
  if (!error) fs::current_path(canonical, error);
  if (error) throw RuntimeError(202, utf8_string(target));
}

}  // namespace qzbase
