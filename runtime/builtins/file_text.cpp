// file_text.cpp - FILETOSTR and STRTOFILE over the readers of platform/file_text.h.
//
// Fault mended: FILETOSTR("qz://stdin") stopped at the first chunk that came back shorter than
// 1024 bytes, which a chunk ending before a multi-byte character also does: the rest of the input
// was lost. It reads until a chunk comes back empty.
#include "builtins/file_text.h"

#include <list>
#include <string>

#include "builtins/arguments.h"
#include "platform/file_io.h"
#include "values/charset_registry.h"
#include "vm/execute.h"
#include "vm/vm_stack.h"

namespace qzbase {

namespace {

const Charset* default_charset(const Runtime* runtime) {
  if (runtime != nullptr && runtime->codepage != nullptr) return runtime->codepage;
  return Charset::utf8;
}

// Standard input through the screen, chunk by chunk, each chunk in the charset the screen reports.
String read_standard_input(Screen* screen) {
  std::list<String> chunks;
  char buffer[1024];
  for (;;) {
    const Charset* cs = nullptr;
    size_t n = screen->read(buffer, sizeof buffer, sizeof buffer, &cs);
    if (n == 0) break;
    chunks.push_back(String::fromBytes(buffer, n, cs != nullptr ? cs : Charset::utf8));
  }
  if (chunks.empty()) return String();
  Concat text(chunks.front().get_charset());
  for (const String& chunk : chunks) text.append(chunk);
  return text.to_string(false);
}

}  // namespace

void _filetostr(VmStack* stack, size_t argc, Variant* result) {
  QZ_TRACE;
  if (argc < 1) throw RuntimeError(11);
  Runtime* runtime = stack->get_runtime();
  String name = string_argument(stack, 1);

  const Charset* charset = default_charset(runtime);
  bool detect = false;
  if (argc >= 2) {
    String wanted = string_argument(stack, 2);
    const Charset* named = get_charset_by_name(wanted);
    if (named != nullptr) {
      charset = named;
    } else if (wanted.cmp(String("auto"), Collation::unicode_machine_ci) == 0) {
      detect = true;
    } else {
      throw RuntimeError(9003, wanted);
    }
  }

  String utf8_name(name);
  utf8_name.convert(Charset::utf8, CON_NONE, 0);
  auto stream = standard_stream_names().find(std::string(utf8_name.read(), utf8_name.size()));
  if (stream != standard_stream_names().end() && stream->second == STANDARD_STREAM_STDIN) {
    Screen* screen = runtime != nullptr ? runtime->get_screen() : nullptr;
    result->set_string(screen != nullptr ? read_standard_input(screen) : String());
    return;
  }
  result->set_string(filetostr(runtime, name, charset, detect));
}

// STRTOFILE(text, name [, mode]): mode absent 0, .T. 1, else an integer of 32 bits; the result is
// the number of bytes written.
void strtofile(VmStack* stack, size_t argc, Variant* result) {
  QZ_TRACE;
  if (argc < 2) throw RuntimeError(11);
  String text = string_argument(stack, 1);
  String name = string_argument(stack, 2);
  int mode = 0;
  if (argc >= 3) {
    const Variant* v = argument_value(stack, 3);
    if (v->tag == VT_TRUE) {
      mode = STRTOFILE_APPEND;
    } else if (v->tag == VT_INTEGER || v->tag == VT_NUMERIC || v->tag == VT_MONEY) {
      mode = int32_argument(stack, 3);
    } else {
      throw RuntimeError(11);
    }
  }
  result->set_integer(static_cast<unsigned long>(StrToFile(text, name, mode)));
}

}  // namespace qzbase
