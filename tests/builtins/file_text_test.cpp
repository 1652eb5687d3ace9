// FileToString, filetostr, FILETOSTR and DETECTCHARSET over real files in a temporary directory.
#include <gtest/gtest.h>

#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "builtins/charset_detection.h"
#include "builtins/file_text.h"
#include "builtins_support.h"
#include "values/charset_registry.h"
#include "temp_dir.h"

namespace qzbase {
namespace {

namespace fs = std::filesystem;
using namespace testing_builtins;
using testing_files::CwdGuard;
using testing_files::TempDir;

const Charset* named(const char* name) {
  const Charset* cs = get_charset_by_name(name);
  if (cs == nullptr) throw std::runtime_error(name);
  return cs;
}

std::string bytes_of(const String& s) { return std::string(s.read(), s.size()); }

const std::string kUtf8Bom = "\xEF\xBB\xBF";
const std::string kGruss = "Gr\xC3\xBC\xC3\x9F" "e aus K\xC3\xB6ln, na\xC3\xAFve caf\xC3\xA9 und \xC3\xA4rger";

TEST(FileToString, ByteOrderMarksWithoutDetection) {
  TempDir dir;
  struct Case {
    const char* what;
    std::string file;
    const char* charset;
    const char* want_charset;
    std::string want_bytes;
  };
  const std::vector<Case> cases = {
      {"utf-8 mark cut", kUtf8Bom + "h\xC3\xA9", "utf-8", "utf-8-bom", "h\xC3\xA9"},
      {"utf-16le mark", std::string("\xFF\xFEh\0i\0", 6), "utf-16le", "utf-16le-bom", std::string("h\0i\0", 4)},
      {"utf-16be mark", std::string("\xFE\xFF\0h\0i", 6), "utf-16be", "utf-16be-bom", std::string("\0h\0i", 4)},
      {"utf-8 without mark", "plain", "utf-8", "utf-8", "plain"},
      {"only the mark", kUtf8Bom, "utf-8", "utf-8-bom", ""},
      {"second mark kept", kUtf8Bom + kUtf8Bom + "x", "utf-8", "utf-8-bom", kUtf8Bom + "x"},
      {"utf-16le mark under utf-8", std::string("\xFF\xFEh\0", 4), "utf-8", "utf-8", std::string("\xFF\xFEh\0", 4)},
      {"no twin: bytes kept", kUtf8Bom + "x", "windows-1252", "windows-1252", kUtf8Bom + "x"},
      {"mark required and present", kUtf8Bom + "x", "utf-8-bom", "utf-8-bom", "x"},
      {"empty file", "", "utf-8", "utf-8", ""},
  };
  for (const Case& c : cases) {
    fs::path p = dir.write("f.txt", c.file);
    String text = FileToString(String(p), named(c.charset), false);
    EXPECT_STREQ(text.get_charset()->name(), c.want_charset) << c.what;
    EXPECT_EQ(bytes_of(text), c.want_bytes) << c.what;
  }
}

TEST(FileToString, MissingMarkOfAMarkedCharsetIs9016) {
  TempDir dir;
  for (const std::string& content : {std::string("x"), std::string("\xEF\xBB"), std::string()}) {
    fs::path p = dir.write("f.txt", content);
    auto [code, detail] = error_of([&] { FileToString(String(p), named("utf-8-bom"), false); });
    EXPECT_EQ(code, 9016) << content.size();
  }
  fs::path p = dir.write("f.txt", "\xFF\xFE");
  EXPECT_EQ(error_of([&] { FileToString(String(p), named("utf-32le-bom"), false); }).first, 9016);
}

TEST(FileToString, Detection) {
  TempDir dir;
  struct Case {
    const char* what;
    std::string file;
    bool detect;
    const char* want_charset;
    std::string want_bytes;
  };
  const std::string utf16 = std::string("\xFF\xFE", 2) + std::string("a\0b\0c\0d\0e\0f\0", 12);
  // Zero bytes between ASCII letters: text the detector must still see.
  const std::string wide_ascii = std::string("h\0e\0l\0l\0o\0 \0w\0o\0r\0l\0d\0", 22);
  const std::vector<Case> cases = {
      {"utf-8 with mark", kUtf8Bom + kGruss, true, "utf-8-bom", kGruss},
      {"utf-16le with mark", utf16, true, "utf-16le-bom", utf16.substr(2)},
      {"utf-8 without mark", kGruss, true, "utf-8", kGruss},
      {"plain ascii: nothing detected", "just ascii text here", true, "windows-1252", "just ascii text here"},
      {"ascii with control bytes", "a\tb\r\n\x01\x1f\x7f end", true, "windows-1252", "a\tb\r\n\x01\x1f\x7f end"},
      {"utf-16le of ascii letters, no mark", wide_ascii, true, "utf-16le", wide_ascii},
      {"detection off keeps the charset", kGruss, false, "windows-1252", kGruss},
  };
  for (const Case& c : cases) {
    fs::path p = dir.write("f.txt", c.file);
    String text = FileToString(String(p), named("windows-1252"), c.detect);
    EXPECT_STREQ(text.get_charset()->name(), c.want_charset) << c.what;
    EXPECT_EQ(bytes_of(text), c.want_bytes) << c.what;
  }
}

TEST(FileToString, OpenAndReadFailures) {
  TempDir dir;
  std::string missing = (dir.path / "missing.txt").string();
  auto [code, detail] = error_of([&] { FileToString(String(missing.c_str()), Charset::utf8, false); });
  EXPECT_EQ(code, 1102);
  EXPECT_EQ(detail, missing);
  EXPECT_EQ(error_of([&] { FileToString(String((dir.path / "no/dir.txt").string().c_str()), Charset::utf8, false); })
                .first,
            1102);
  // A directory opens but cannot be read: an error, not an empty text.
  fs::create_directory(dir.path / "sub");
  auto [dir_code, dir_detail] = error_of([&] { FileToString(String(dir.path / "sub"), Charset::utf8, true); });
  EXPECT_EQ(dir_code, 1);
  EXPECT_EQ(dir_detail, (dir.path / "sub").string());
}

// Files whose size is not known beforehand (a pipe, a file of the proc file system) are read to
// their end, across several pieces.
TEST(FileToString, FilesWithoutAKnownSize) {
  TempDir dir;
  fs::path fifo = dir.path / "pipe";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  std::string content;
  for (int i = 0; content.size() < 300000; ++i) content += std::to_string(i) + "\n";
  std::thread writer([&] { std::ofstream(fifo, std::ios::binary) << content; });
  String text = FileToString(String(fifo), Charset::utf8, false);
  writer.join();
  EXPECT_EQ(bytes_of(text), content);
  EXPECT_EQ(bytes_of(FileToString(String("/proc/self/status"), Charset::utf8, false)).rfind("Name:", 0), 0u);
}

// Fault: a device that never ends (/dev/zero) was read until memory ran out. Reads stop past
// their bound with 1903: a regular file before reading, a device or pipe as the bytes come.
TEST(FileToString, ReadsStopAtTheirBound) {
  TempDir dir;
  fs::path file = dir.write("six.txt", "123456");
  const size_t piece = size_t{1} << 16;
  struct bound_case {
    std::string path;
    size_t limit;
    int code;  // 0: read
  };
  const bound_case cases[] = {
      {file.string(), 6, 0},
      {file.string(), 5, 1903},
      {"/dev/zero", 1, 1903},
      {"/dev/zero", piece, 1903},
      {"/dev/zero", 3 * piece + 7, 1903},
      {"/dev/null", 0, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path + " " + std::to_string(c.limit));
    auto [code, detail] = error_of([&] { read_file_text(String(c.path.c_str()), Charset::utf8, false, c.limit); });
    EXPECT_EQ(code, c.code);
  }
  EXPECT_EQ(bytes_of(read_file_text(String(file), Charset::utf8, false, 6)), "123456");
}

TEST(FileToString, PermissionDeniedIs1705) {
  TempDir dir;
  fs::path p = dir.write("locked.txt", "secret");
  fs::permissions(p, fs::perms::none);
  EXPECT_TRUE(as_unprivileged([&] { return error_of([&] { FileToString(String(p), Charset::utf8, false); }).first == 1705; }));
}

TEST(Filetostr, SearchesCurrentDirectoryThenSetPath) {
  RuntimeFixture f;
  TempDir dir;
  fs::create_directory(dir.path / "lib");
  dir.write("lib/inc.prg", "from lib");
  CwdGuard cwd(dir.path);

  try {
    filetostr(f.runtime, String("x.prg"), Charset::utf8, true);
    FAIL();
  } catch (const RuntimeError& e) {
    EXPECT_EQ(e.code, 1);
    EXPECT_EQ(e.message.u8str(), "File 'x.prg' does not exist.");
  }
  EXPECT_EQ(error_of([&] { filetostr(f.runtime, String("inc.prg"), Charset::utf8, true); }).first, 1);
  f.runtime->set_path_to(String("lib"), false);
  EXPECT_EQ(bytes_of(filetostr(f.runtime, String("inc.prg"), Charset::utf8, true)), "from lib");
  dir.write("inc.prg", "from here");
  EXPECT_EQ(bytes_of(filetostr(f.runtime, String("inc.prg"), Charset::utf8, true)), "from here");
  // Exact names only: no case-insensitive fallback.
  EXPECT_EQ(error_of([&] { filetostr(f.runtime, String("INC.prg"), Charset::utf8, true); }).first, 1);
}

TEST(FiletostrBuiltin, CharsetArgument) {
  RuntimeFixture f;
  TempDir dir;
  CwdGuard cwd(dir.path);
  dir.write("u16.txt", std::string("\xFF\xFEh\0i\0", 6));
  dir.write("u8.txt", kUtf8Bom + kGruss);

  Variant v = call(f.stack, _filetostr, {str("u16.txt"), str("UTF-16LE")});
  EXPECT_STREQ(static_cast<String>(v).get_charset()->name(), "utf-16le-bom");
  EXPECT_EQ(bytes_of(static_cast<String>(v)), std::string("h\0i\0", 4));
  v.release(f.stack);

  // Without a charset argument: the runtime's default charset, no detection.
  v = call(f.stack, _filetostr, {str("u8.txt")});
  EXPECT_EQ(static_cast<String>(v).get_charset(), f.runtime->codepage);
  EXPECT_EQ(bytes_of(static_cast<String>(v)), kUtf8Bom + kGruss);
  v.release(f.stack);

  v = call(f.stack, _filetostr, {str("u8.txt"), str("Auto")});
  EXPECT_STREQ(static_cast<String>(v).get_charset()->name(), "utf-8-bom");
  EXPECT_EQ(bytes_of(static_cast<String>(v)), kGruss);
  v.release(f.stack);

  auto [code, detail] = error_of([&] { call(f.stack, _filetostr, {str("u8.txt"), str("klingon")}); });
  EXPECT_EQ(code, 9003);
  EXPECT_EQ(detail, "klingon");
  EXPECT_EQ(error_of([&] { call(f.stack, _filetostr, {str("nope.txt")}); }),
            (std::pair<int, std::string>{1, "nope.txt"}));
}

// Standard input arrives through the screen in chunks; a chunk may end before a multi-byte
// character and come back shorter than asked without the input having ended.
class InputScreen : public CaptureScreen {
 public:
  explicit InputScreen(std::vector<std::string> chunks) : chunks_(std::move(chunks)) {}
  size_t read(char* buffer, size_t size, size_t, const Charset** charset) override {
    *charset = Charset::utf8;
    if (next_ >= chunks_.size()) return 0;
    const std::string& chunk = chunks_[next_++];
    EXPECT_LE(chunk.size(), size);
    chunk.copy(buffer, chunk.size());
    return chunk.size();
  }

 private:
  std::vector<std::string> chunks_;
  size_t next_ = 0;
};

TEST(FiletostrBuiltin, StandardInputReadsUntilTheInputEnds) {
  std::string full(1023, 'a');
  InputScreen screen({full, "\xC3\xA9" + std::string(1022, 'b'), "tail"});
  Runtime* runtime = CreateRuntime(&screen);
  VmStack* stack = new VmStack(runtime, 256, 64);
  Variant v = call(stack, _filetostr, {str("qz://stdin")});
  EXPECT_EQ(bytes_of(static_cast<String>(v)), full + "\xC3\xA9" + std::string(1022, 'b') + "tail");
  EXPECT_EQ(static_cast<String>(v).get_charset(), Charset::utf8);
  v.release(stack);
  // The name is exact: another spelling is a file name.
  EXPECT_EQ(error_of([&] { call(stack, _filetostr, {str("QZ://STDIN")}); }).first, 1);
  delete stack;
  ReleaseRuntime(runtime);
}

// DETECTCHARSET(text, @confidence) with the confidence passed as a reference, as the compiler does.
std::string detect(VmStack* stack, const String& text, Variant* confidence) {
  Memvar* mark = stack->sp;
  stack->push();
  stack->push()->value.set_string(text);
  confidence->ref(stack, &stack->push()->value, nullptr);
  call_native_function(stack, detectcharset, 2);
  String name = static_cast<String>(stack->sp->value);
  EXPECT_EQ(name.get_charset(), Charset::ascii);
  stack->release_stack_to(mark);
  return name.u8str();
}

TEST(DetectCharset, NamesAndConfidence) {
  RuntimeFixture f;
  Variant confidence;
  EXPECT_EQ(detect(f.stack, String("abc"), &confidence), f.runtime->codepage->name());
  ASSERT_EQ(confidence.tag, VT_INTEGER);
  EXPECT_LE(static_cast<long>(confidence), 79);

  confidence.release(f.stack);
  confidence.set_string(String("replaced"));
  String marked = String::fromBytes((kUtf8Bom + kGruss).data(), kUtf8Bom.size() + kGruss.size(), Charset::binary);
  EXPECT_EQ(detect(f.stack, marked, &confidence), "utf-8-bom");
  EXPECT_EQ(static_cast<long>(confidence), 100);

  // Without the second argument.
  Variant v = call(f.stack, detectcharset, {str("abc")});
  EXPECT_EQ(static_cast<String>(v).u8str(), f.runtime->codepage->name());
  v.release(f.stack);
}

TEST(DetectCharset, OnlyUtfNamesAboveTheThresholdCount) {
  int confidence = -1;
  // Latin-1 text: ICU may guess a single-byte set, which never counts.
  std::string latin = "Der Stra\xDF" "e entlang, \xFC" "ber die Br\xFC" "cke, in das gro\xDF" "e Haus.";
  EXPECT_EQ(detect_charset_bytes(latin.data(), latin.size(), DETECT_CHARSET_ICU, &confidence), nullptr);
  EXPECT_EQ(detect_charset_bytes(kGruss.data(), kGruss.size(), DETECT_CHARSET_ICU, &confidence), named("utf-8"));
  EXPECT_GT(confidence, 79);
  EXPECT_EQ(detect_charset_bytes(kGruss.data(), kGruss.size(), static_cast<DetectCharsetMech>(7), &confidence),
            nullptr);
  EXPECT_EQ(confidence, 0);
  EXPECT_THROW(detect_charset_bytes("x", 1, DETECT_CHARSET_NONE, nullptr), assert_failed_exception);
}

}  // namespace
}  // namespace qzbase
