// paths.cpp - path functions and the runtime's directories.
#include "platform/paths.h"

#include <filesystem>
#include <string>
#include <system_error>

#include "platform/tempname.h"

namespace qzbase {

namespace fs = std::filesystem;

namespace {

// A UTF-8 result converted back to the charset of the argument it came from.
String in_charset_of(const std::string& utf8, const String& argument) {
  String result(utf8.data(), utf8.size(), Charset::utf8);
  const Charset* cs = argument.get_charset();
  if (cs != nullptr && cs != Charset::utf8) result.convert(cs, CON_NONE, 0);
  return result;
}

String utf8_string(const std::string& text) { return String(text.data(), text.size(), Charset::utf8); }

}  // namespace

String justfname(String path) {
  QZ_TRACE;
  fs::path p = path;
  return in_charset_of(p.filename().native(), path);
}

String justpath(String path) {
  QZ_TRACE;
  fs::path p = path;
  return in_charset_of(p.parent_path().native(), path);
}

String juststem(String path) {
  QZ_TRACE;
  fs::path p = path;
  return in_charset_of(p.stem().native(), path);
}

String justext(String path) {
  QZ_TRACE;
  fs::path p = path;
  std::string extension = p.extension().native();
  if (!extension.empty()) extension.erase(0, 1);  // the dot
  return in_charset_of(extension, path);
}

String addbs(String path) {
  QZ_TRACE;
  fs::path p = path;
  if (!p.has_filename()) return path;
  std::string text = p.native();
  text.push_back('/');
  return in_charset_of(text, path);
}

String force_extension(String path, const String& ext) {
  QZ_TRACE;
  fs::path p = path;
  p.replace_extension(fs::path(ext.u8str()));
  return in_charset_of(p.native(), path);
}

String default_extension(String path, const String& ext) {
  QZ_TRACE;
  fs::path p = path;
  if (p.has_extension()) return path;
  return force_extension(path, ext);
}

String force_path(String path, const String& dir) {
  QZ_TRACE;
  fs::path p = path;
  std::string text = dir.u8str();
  if (text.empty() || text.back() != '/') text.push_back('/');
  return in_charset_of(text + p.filename().native(), path);
}

String canonical_path(String path) {
  QZ_TRACE;
  fs::path p = path;
  std::error_code error;
  fs::path resolved = fs::canonical(p, error);
  if (error) throw RuntimeError(1, path);
  return utf8_string(resolved.native());
}

String systemtempdir(const Runtime* runtime) {
  QZ_TRACE;
  if (runtime != nullptr) {
    String value;
    if (runtime->getenv(String("TMPDIR"), &value) && value.size() != 0) {
      std::error_code error;
      fs::path dir = value;
      if (fs::is_directory(dir, error)) return utf8_string(dir.native());
    }
  }
  return String("/tmp");
}

bool useropcodecachedir(Runtime* runtime, String& directory) {
  QZ_TRACE;
  String home;
  if (runtime == nullptr || !runtime->create_home_dir(home)) return false;
  fs::path dir = home;
  for (const char* part : {".qz", "opcode"}) {
    dir /= part;
    std::error_code error;
    bool is_dir = fs::is_directory(dir, error);
    if (error && error != std::errc::no_such_file_or_directory) throw RuntimeError(1101, utf8_string(dir.native()));
    if (!is_dir) {
      fs::create_directory(dir, error);
      // A directory made meanwhile by another thread or process is as good as ours.
      if (error || !fs::is_directory(dir, error)) throw RuntimeError(1101, utf8_string(dir.native()));
    }
  }
  directory = utf8_string(dir.native());
  return true;
}

bool tempfilename(Runtime* runtime, Systemdir where, String extension, String& name) {
  QZ_TRACE;
  String directory;
  if (where == SYSTEMDIR_TEMP) {
    directory = systemtempdir(runtime);
  } else if (where == SYSTEMDIR_OPCODE_CACHE) {
    if (!useropcodecachedir(runtime, directory)) return false;
  } else {
    throw RuntimeError(1001);
  }
  fs::path p = directory;
  p /= fs::path(tempname());
  fs::path ext = extension;
  p.replace_extension(ext);
  name = utf8_string(p.native());
  return true;
}

}  // namespace qzbase
