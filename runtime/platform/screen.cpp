// screen.cpp - Screen, NullScreen, ConsoleScreen and the exported screen functions.
#include "platform/screen.h"

#include <pthread.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <system_error>

#include "platform/file_io.h"
#include "platform/file_handle.h"
#include "values/charset_registry.h"
#include "values/string_internal.h"

namespace qzbase {

const msgbox_button_st msgbox_buttons[7] = {
    {MSGBOX_OK, "Ok", 'o'},         {MSGBOX_YES, "Yes", 'y'},       {MSGBOX_NO, "No", 'n'},
    {MSGBOX_CANCEL, "Cancel", 'c'}, {MSGBOX_ABORT, "Abort", 'a'},   {MSGBOX_IGNORE, "Ignore", 'i'},
    {MSGBOX_RETRY, "Retry", 'r'},
};

// The Screen's private state. `io` guards the buffer and every stream write (threads share
// the screen); it is recursive so that a host's
// internal_out may call back into the Screen. `output` is the coarser POSIX mutex of
// lock_for_output.
struct ScreenPrivate {
  std::recursive_mutex io;
  std::unique_ptr<Concat> buffer;
  bool interactive = false;
  pthread_mutex_t output = PTHREAD_MUTEX_INITIALIZER;

  ~ScreenPrivate() { pthread_mutex_destroy(&output); }
};

namespace {

// The calling thread's chain of screen overrides (innermost first).
thread_local screen_redirect_st* redirect_head = nullptr;

const String& newline() {
  static const String text("\n", 1, Charset::ascii);
  return text;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Per-thread override
// ---------------------------------------------------------------------------------------------

void redirect_screen(screen_redirect_st* scope, const Runtime* runtime, Screen* replacement) {
  QZ_TRACE;
  scope->runtime = runtime;
  scope->screen = replacement;
  scope->prev = redirect_head;
  redirect_head = scope;
}

void restore_screen(screen_redirect_st* scope) {
  QZ_TRACE;
  for (screen_redirect_st** link = &redirect_head; *link; link = &(*link)->prev) {
    if (*link == scope) {
      *link = scope->prev;
      return;
    }
  }
}

Screen* screen_override(const Runtime* runtime) {
  QZ_TRACE;
  for (screen_redirect_st* s = redirect_head; s; s = s->prev) {
    if (s->runtime == runtime) return s->screen;
  }
  return nullptr;
}

// ---------------------------------------------------------------------------------------------
// Screen
// ---------------------------------------------------------------------------------------------

Screen::Screen() : priv_(new ScreenPrivate) {
  QZ_TRACE;
}

Screen::~Screen() {
  QZ_TRACE;
  delete priv_;
}

size_t Screen::read(char*, size_t, size_t, const Charset**) {
  QZ_TRACE;
  return 0;
}

void Screen::errendl() {
  QZ_TRACE;
  err(newline());
}

void Screen::set_output_charset(const Charset*) {
  QZ_TRACE;
}

void Screen::set_input_charset(const Charset*) {
  QZ_TRACE;
}

int Screen::msgbox(const String&, const String&, int, int default_button, int) {
  QZ_TRACE;
  return default_button;
}

void Screen::clear() {
  QZ_TRACE;
}

void Screen::header(ScrHeaderTypes, const String&, bool) {
  QZ_TRACE;
}

void Screen::on_load_module(VmStack*, const String&) {
  QZ_TRACE;
}

void Screen::modify_command(VmStack*, const String&) {
  QZ_TRACE;
  throw RuntimeError(1001, String("modify command"));
}

void Screen::browse(VmStack*) {
  QZ_TRACE;
  throw RuntimeError(1001, String("browse"));
}

void Screen::wait(VmStack*) {
  QZ_TRACE;
  throw RuntimeError(1001, String("wait"));
}

void Screen::flush() {
  QZ_TRACE;
}

void Screen::out(const String& text) {
  QZ_TRACE;
  std::lock_guard<std::recursive_mutex> guard(priv_->io);
  if (priv_->buffer) {
    priv_->buffer->append(text);
  } else {
    internal_out(text);
  }
}

void Screen::outendl(const String& text) {
  QZ_TRACE;
  std::lock_guard<std::recursive_mutex> guard(priv_->io);
  out(text);
  out(newline());
}

void Screen::outendl() {
  QZ_TRACE;
  out(newline());
}

void Screen::err(const String& text) {
  QZ_TRACE;
  std::lock_guard<std::recursive_mutex> guard(priv_->io);
  internal_err(text);
}

void Screen::errendl(const String& text) {
  QZ_TRACE;
  std::lock_guard<std::recursive_mutex> guard(priv_->io);
  err(text);
  err(newline());
}

void Screen::ob_start() {
  QZ_TRACE;
  std::lock_guard<std::recursive_mutex> guard(priv_->io);
  if (!priv_->buffer) priv_->buffer = std::make_unique<Concat>();
}

void Screen::ob_get(String* out) {
  QZ_TRACE;
  std::lock_guard<std::recursive_mutex> guard(priv_->io);
  *out = priv_->buffer ? priv_->buffer->to_string(false) : String();
}

void Screen::ob_end_flush() {
  QZ_TRACE;
  std::lock_guard<std::recursive_mutex> guard(priv_->io);
  if (!priv_->buffer) return;
  std::unique_ptr<Concat> buffer = std::move(priv_->buffer);
  internal_out(buffer->to_string(false));
}

void Screen::ob_end_clean() {
  QZ_TRACE;
  std::lock_guard<std::recursive_mutex> guard(priv_->io);
  priv_->buffer.reset();
}

bool Screen::ob_active() const {
  QZ_TRACE;
  std::lock_guard<std::recursive_mutex> guard(priv_->io);
  return priv_->buffer != nullptr;
}

void Screen::lock_for_output() {
  QZ_TRACE;
  int rc = pthread_mutex_lock(&priv_->output);
  if (rc != 0) throw std::system_error(rc, std::generic_category());
}

void Screen::unlock_output() {
  QZ_TRACE;
  flush();
  pthread_mutex_unlock(&priv_->output);
}

void Screen::set_interactive(bool value) {
  QZ_TRACE;
  priv_->interactive = value;
}

bool Screen::is_interactive() const {
  QZ_TRACE;
  return priv_->interactive;
}

// ---------------------------------------------------------------------------------------------
// NullScreen
// ---------------------------------------------------------------------------------------------

NullScreen::NullScreen() = default;
NullScreen::~NullScreen() = default;
void NullScreen::internal_out(const String&) {
  QZ_TRACE;
}
void NullScreen::internal_err(const String&) {
  QZ_TRACE;
}

// ---------------------------------------------------------------------------------------------
// ConsoleScreen
// ---------------------------------------------------------------------------------------------

namespace {

// The text in the output charset (characters it cannot represent become its substitute).
String to_output(const String& text, const Charset* target) {
  if (text.get_charset() == target) return text;
  String converted = text;
  converted.convert(target, CON_NONE, 0);
  return converted;
}

String hex_form(const String& text) {
  static const char digits[] = "0123456789ABCDEF";
  String hex(2 + 2 * text.size(), Charset::ascii);
  char* p = hex.write();
  *p++ = '0';
  *p++ = 'h';
  const unsigned char* b = reinterpret_cast<const unsigned char*>(text.read());
  for (size_t i = 0; i < text.size(); ++i) {
    *p++ = digits[b[i] >> 4];
    *p++ = digits[b[i] & 15];
  }
  return hex;
}

}  // namespace

ConsoleScreen::ConsoleScreen() : output_charset_(Charset::utf8), input_charset_(Charset::utf8) {
  QZ_TRACE;
}

ConsoleScreen::~ConsoleScreen() = default;

namespace {

// Standard input may start with a byte-order mark: the first read takes it off when the text is
// read in a character set with a mark, or the console's input set (--cstdin) has one. Every
// reader of standard input comes here, so the test is made once per process, at its start.
void skip_stdin_byte_order_mark(const Charset* read_in, const Charset* console) {
  static std::atomic<bool> checked{false};
  if (checked.exchange(true)) return;
  const Charset* marked = read_in != nullptr && read_in->bom_length() != 0 ? read_in
                          : console != nullptr && console->bom_length() != 0 ? console
                                                                                : nullptr;
  if (marked == nullptr) return;
  const auto* mark = reinterpret_cast<const unsigned char*>(marked->bom());
  const size_t length = marked->bom_length();
  std::istream& in = console_input();
  unsigned char taken[16];
  size_t n = 0;
  while (n < length && n < sizeof taken && in.peek() == mark[n]) taken[n++] = static_cast<unsigned char>(in.get());
  if (n == length) return;
  in.clear();  // a peek at the end set eof: the bytes still go back
  while (n > 0) in.putback(static_cast<char>(taken[--n]));
}

}  // namespace

size_t ConsoleScreen::read(char* buffer, size_t size, size_t count, const Charset** charset) {
  QZ_TRACE;
  skip_stdin_byte_order_mark(*charset, input_charset_);
  if (*charset == nullptr) *charset = input_charset_;
  size_t chars = 0;
  return ReadCharsFromStream(console_input(), buffer, size, count, &chars, *charset);
}

void ConsoleScreen::set_output_charset(const Charset* cs) {
  QZ_TRACE;
  output_charset_ = cs;
}

void ConsoleScreen::set_input_charset(const Charset* cs) {
  QZ_TRACE;
  input_charset_ = cs;
}

int ConsoleScreen::msgbox(const String& title, const String& text, int buttons, int default_button, int) {
  QZ_TRACE;
  StringBuilder message;
  if (title.size()) message << title << "\n";
  if (text.size()) message << text << "\n";
  if (title.size() || text.size()) message << "\n";
  if (message.count()) out(message.to_string(false));

  if (!is_interactive()) return default_button;

  std::string prompt;
  char default_key = 0;
  for (const msgbox_button_st& row : msgbox_buttons) {
    if (!(buttons & row.bit)) continue;
    if (!prompt.empty()) prompt += ", ";
    prompt += row.label;
    if (row.bit == default_button) {
      prompt += '[';
      prompt += row.key;
      prompt += ']';
      default_key = row.key;
    } else {
      prompt += '(';
      prompt += row.key;
      prompt += ')';
    }
  }
  prompt += ": ";
  const String prompt_text(prompt.data(), prompt.size(), Charset::ascii);

  char answer = 0;
  for (;;) {
    out(prompt_text);
    FileHandle* handle = nullptr;
    __fopen(String("qz://stdin"), this, 0, nullptr, &handle);
    String line;
    if (handle) {
      try {
        handle->fgets(&line);
      } catch (...) {
        __fclose(handle);
        throw;
      }
      __fclose(handle);
    }
    line.convert(Charset::utf32le, CON_NONE, 0);
    if (line.size() < 4) {
      answer = default_key;
      break;
    }
    char32_t first;
    std::memcpy(&first, line.read(), 4);
    bool matched = false;
    for (const msgbox_button_st& row : msgbox_buttons) {
      if ((buttons & row.bit) && first == static_cast<char32_t>(row.key)) {
        answer = row.key;
        matched = true;
        break;
      }
    }
    if (matched) break;
    out(String("invalid input\n"));
  }
  out(newline());
  for (const msgbox_button_st& row : msgbox_buttons) {
    if (answer != 0 && row.key == answer) return row.bit;
  }
  return -1;
}

void ConsoleScreen::clear() {
  QZ_TRACE;
  int rc = std::system("clear");
  (void)rc;
}

void ConsoleScreen::flush() {
  QZ_TRACE;
  std::fflush(stdout);
  std::fflush(stderr);
}

void ConsoleScreen::internal_out(const String& text) {
  QZ_TRACE;
  String shown = is_binary_charset(text.get_charset()) ? hex_form(text) : text;
  String bytes = to_output(shown, output_charset_);
  std::fwrite(bytes.read(), 1, bytes.size(), stdout);
}

void ConsoleScreen::internal_err(const String& text) {
  QZ_TRACE;
  String bytes = to_output(text, output_charset_);
  // Standard error comes after what standard output holds, and is not held itself.
  std::fflush(stdout);
  std::fwrite(bytes.read(), 1, bytes.size(), stderr);
  std::fflush(stderr);
}

// ---------------------------------------------------------------------------------------------
// Exported functions
// ---------------------------------------------------------------------------------------------

Screen* CreateScreen(int flags) {
  QZ_TRACE;
  Screen* screen = new ConsoleScreen();
  screen->set_interactive((flags & 0x100) != 0);
  return screen;
}

void ReleaseScreen(Screen* screen) {
  QZ_TRACE;
  delete screen;
}

int SetOutputCharset(Screen* screen, const char* name) {
  QZ_TRACE;
  const Charset* cs = get_charset_by_name(name);
  if (!cs) return 1;
  screen->set_output_charset(cs);
  return 0;
}

int SetInputCharset(Screen* screen, const char* name) {
  QZ_TRACE;
  const Charset* cs = get_charset_by_name(name);
  if (!cs) return 1;
  screen->set_input_charset(cs);
  return 0;
}

void PrintScreenUtf8(Screen* screen, const char* text) {
  QZ_TRACE;
  screen->out(String(text));
}

}  // namespace qzbase
