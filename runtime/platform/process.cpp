// process.cpp - argument splitting, environment block and child processes.
#include "platform/process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "platform/file_handle.h"
#include "values/string_internal.h"
#include "values/tokenizer.h"

namespace qzbase {

namespace {

// ---------------------------------------------------------------------------------------------
// Argument splitting
// ---------------------------------------------------------------------------------------------

constexpr uint32_t kSpace = TOKEN_BLANK;  // 32
constexpr uint32_t kQuote = 34;
constexpr uint32_t kBackslash = 92;

struct arg_parser {
  const token_list_type& tokens;
  size_t i = 0;

  bool at_end() const { return i >= tokens.size(); }
  uint32_t kind() const { return tokens[i].kind; }
  void skip_spaces() {
    while (!at_end() && kind() == kSpace) ++i;
  }
};

void put_token(Concat& out, const token_st& t) { out.append(String::create_from_scan_string(t.text())); }

void put_backslashes(Concat& out, size_t n) {
  if (n == 0) return;
  std::string text(n, '\\');
  out.append(String(text.data(), text.size(), Charset::utf8));
}

void put_quote(Concat& out) { out.append(String("\"", 1, Charset::utf8)); }

// The program name: copied up to a space; double quotes toggle a mode in which everything (spaces
// and backslashes too) is copied; the quotes themselves are dropped.
void parsearg0(arg_parser& p, std::list<String>* arguments, const Charset* charset) {
  Concat out(charset);
  bool quoted = false;
  while (!p.at_end()) {
    uint32_t k = p.kind();
    if (!quoted && k == kSpace) break;
    if (k == kQuote) {
      quoted = !quoted;
    } else {
      put_token(out, p.tokens[p.i]);
    }
    ++p.i;
  }
  arguments->push_back(out.to_string(false));
  p.skip_spaces();
}

// Inside double quotes: runs until the closing quote (consumed) or the end of the tokens.
void parsestrargn(arg_parser& p, Concat& out) {
  size_t n = 0;
  while (!p.at_end()) {
    uint32_t k = p.kind();
    if (k == kBackslash) {
      ++n;
      ++p.i;
    } else if (k == kQuote) {
      if (n == 0 && p.i + 1 < p.tokens.size() && p.tokens[p.i + 1].kind == kQuote) {
        put_quote(out);  // "" inside quotes: one quote, still quoted
        p.i += 2;
        continue;
      }
      put_backslashes(out, n / 2);
      ++p.i;
      if (n % 2 == 0) return;  // the closing quote
      put_quote(out);
      n = 0;
    } else {
      put_backslashes(out, n);
      n = 0;
      put_token(out, p.tokens[p.i]);
      ++p.i;
    }
  }
  put_backslashes(out, n);  // an unclosed quote is accepted
}

void parseargn(arg_parser& p, std::list<String>* arguments, const Charset* charset) {
  Concat out(charset);
  size_t n = 0;
  while (!p.at_end()) {
    uint32_t k = p.kind();
    if (k == kBackslash) {
      ++n;
      ++p.i;
    } else if (k == kQuote) {
      put_backslashes(out, n / 2);
      ++p.i;
      if (n % 2 == 0) {
        parsestrargn(p, out);
      } else {
        put_quote(out);
      }
      n = 0;
    } else if (k == kSpace) {
      break;
    } else {
      put_backslashes(out, n);
      n = 0;
      put_token(out, p.tokens[p.i]);
      ++p.i;
    }
  }
  put_backslashes(out, n);
  arguments->push_back(out.to_string(false));
  p.skip_spaces();
}

// ---------------------------------------------------------------------------------------------
// Starting and waiting
// ---------------------------------------------------------------------------------------------

[[noreturn]] void throw_system(const char* call, int error) {
  std::string detail = std::string(call) + ": " + std::strerror(error);
  throw RuntimeError(9901, String(detail.data(), detail.size(), Charset::utf8));
}

struct argv_holder {
  char** argv = nullptr;
  ~argv_holder() { freeargv(argv); }
};

// The environment block in UTF-8 and the pointer array over it.
struct envp_holder {
  std::unique_ptr<char[]> block;
  std::vector<char*> pointers;

  explicit envp_holder(Runtime* runtime) {
    char* raw = nullptr;
    create_envp(runtime, Charset::utf8, &raw);
    block.reset(raw);
    for (char* p = raw; *p != 0; p += std::strlen(p) + 1) pointers.push_back(p);
    pointers.push_back(nullptr);
  }
  char** get() { return pointers.data(); }
};

// PATH of the runtime's environment copy; execvp's default when the copy has none.
std::string search_path(Runtime* runtime) {
  String value;
  if (runtime != nullptr && runtime->getenv(String("PATH"), &value)) return value.u8str();
  return "/bin:/usr/bin";
}

// execvp's look-up, done before the child starts: a name with "/" is used as it is; otherwise
// the first PATH entry (empty: the current directory) holding an executable regular file.
// 0 and *program, or the errno execvp would report.
int resolve_program(const char* file, const std::string& path, std::string* program) {
  if (*file == 0) return ENOENT;
  if (std::strchr(file, '/') != nullptr) {
    *program = file;
    return 0;
  }
  int error = ENOENT;
  size_t start = 0;
  for (;;) {
    size_t colon = path.find(':', start);
    std::string dir = path.substr(start, colon == std::string::npos ? std::string::npos : colon - start);
    std::string candidate = (dir.empty() ? std::string(".") : dir) + "/" + file;
    struct stat st;
    if (::stat(candidate.c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
      if (::access(candidate.c_str(), X_OK) == 0) {
        *program = candidate;
        return 0;
      }
      error = EACCES;
    }
    if (colon == std::string::npos) break;
    start = colon + 1;
  }
  return error;
}

// Errors of posix_spawn that mean "the program did not start" (execvp's exit status 127).
bool is_exec_error(int error) {
  switch (error) {
    case ENOENT:
    case EACCES:
    case ENOTDIR:
    case ELOOP:
    case ENAMETOOLONG:
    case EISDIR:
    case ENOEXEC:
    case EPERM:
    case ETXTBSY:
    case ELIBBAD:
      return true;
    default:
      return false;
  }
}

struct spawn_attr_holder {
  posix_spawnattr_t attr;
  spawn_attr_holder() {
    int rc = posix_spawnattr_init(&attr);
    if (rc != 0) throw_system("posix_spawnattr_init", rc);
    sigset_t defaults;
    sigfillset(&defaults);
    sigdelset(&defaults, SIGKILL);
    sigdelset(&defaults, SIGSTOP);
    sigset_t mask;
    sigemptyset(&mask);
    if ((rc = posix_spawnattr_setsigdefault(&attr, &defaults)) != 0 ||
        (rc = posix_spawnattr_setsigmask(&attr, &mask)) != 0 ||
        (rc = posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK)) != 0) {
      posix_spawnattr_destroy(&attr);
      throw_system("posix_spawnattr", rc);
    }
  }
  ~spawn_attr_holder() { posix_spawnattr_destroy(&attr); }
};

// Starts argv[0] along the copy's PATH with the copy as environment. Throws RuntimeError 1 when
// the program cannot be started, 9901 for any other failure.
pid_t start_child(Runtime* runtime, char** argv, const posix_spawn_file_actions_t* actions) {
  std::string program;
  int error = resolve_program(argv[0], search_path(runtime), &program);
  if (error != 0) throw RuntimeError(1);
  envp_holder envp(runtime);
  spawn_attr_holder attr;
  pid_t pid = -1;
  int rc = posix_spawn(&pid, program.c_str(), actions, &attr.attr, argv, envp.get());
  if (rc == ENOEXEC) {
    // Not a binary and no "#!": execvp runs such a file with the shell.
    std::vector<char*> shell_argv;
    shell_argv.push_back(const_cast<char*>("/bin/sh"));
    shell_argv.push_back(program.data());
    for (char** a = argv + 1; *a != nullptr; ++a) shell_argv.push_back(*a);
    shell_argv.push_back(nullptr);
    rc = posix_spawn(&pid, "/bin/sh", actions, &attr.attr, shell_argv.data(), envp.get());
  }
  if (rc != 0) {
    if (is_exec_error(rc)) throw RuntimeError(1);
    throw_system("posix_spawn", rc);
  }
  return pid;
}

// Waits for the child; the raw status. A child reaped elsewhere (SIGCHLD ignored by the host)
// counts as exit status 0.
int wait_child(pid_t pid) {
  int status = 0;
  pid_t r;
  do {
    r = ::waitpid(pid, &status, 0);
  } while (r < 0 && errno == EINTR);
  if (r < 0) {
    if (errno == ECHILD) return 0;
    throw_system("waitpid", errno);
  }
  return status;
}

int exit_result(int status) {
  if (WIFSIGNALED(status)) return 1;
  int code = WIFEXITED(status) ? WEXITSTATUS(status) : 1;
  if (code == 127) throw RuntimeError(1);
  return code;
}

void flush_before_start(Runtime* runtime, Screen* screen) {
  if (screen == nullptr && runtime != nullptr) screen = runtime->get_screen();
  if (screen != nullptr) screen->flush();
}

// ---------------------------------------------------------------------------------------------
// Capture
// ---------------------------------------------------------------------------------------------

// A descriptor that is closed when it goes (or when close() is called).
struct fd_holder {
  int fd = -1;
  ~fd_holder() { close(); }
  void close() {
    if (fd >= 0) ::close(fd);
    fd = -1;
  }
};

// pipe2 with close-on-exec; both ends numbered 3 or above, so the child's dup2 onto 0, 1 and 2
// never meets a descriptor that already has that number.
void make_pipe(fd_holder& read_end, fd_holder& write_end) {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) throw_system("pipe", errno);
  read_end.fd = fds[0];
  write_end.fd = fds[1];
  for (fd_holder* h : {&read_end, &write_end}) {
    if (h->fd > 2) continue;
    int moved = ::fcntl(h->fd, F_DUPFD_CLOEXEC, 3);
    if (moved < 0) throw_system("fcntl", errno);
    ::close(h->fd);
    h->fd = moved;
  }
}

// How lines are found in the bytes of one charset.
enum class LineMode { fast, general, whole };

LineMode line_mode_of(const Charset* cs) {
  if (is_binary_charset(cs)) return LineMode::whole;  // fgets never ends a binary line
  if (cs == Charset::utf8) return LineMode::fast;     // byte 0x0A / 0x0D only ever mean LF / CR
  if (cs->min_bytes() == 1 && cs->max_bytes() == 1) {
    const char lf = '\n', cr = '\r';
    const char* p = &lf;
    bool ok = cs->next(&p, &lf + 1) == U'\n';
    p = &cr;
    ok = ok && cs->next(&p, &cr + 1) == U'\r';
    if (ok) return LineMode::fast;
  }
  return LineMode::general;
}

struct capture_sink {
  Screen* screen;
  int flags;
  std::list<String>* lines;
  const Charset* charset;

  void line(const char* bytes, size_t n) {
    String text(bytes, n, charset);
    if (!(flags & 4) && screen != nullptr) {
      ScreenOutputLock lock(screen);
      screen->outendl(text);
    }
    if ((flags & 1) && n == 0) return;
    if (flags & 2) lines->clear();
    lines->push_back(text);
  }
};

// One of the child's output streams: its read end and the bytes not yet handled as a line.
struct capture_stream {
  fd_holder fd;
  std::string pending;
  size_t start = 0;       // first byte of the line being gathered
  size_t scan = 0;        // bytes before this hold no line end (a character boundary)
  char32_t prev = 0;      // the character just before scan within the current line
  size_t prev_len = 0;    // its length (0: none in this line)

  // Hands every complete line to the sink; at the end (ended) the rest too.
  void split(capture_sink& sink, LineMode mode, bool ended) {
    const char* data = pending.data();
    size_t size = pending.size();
    if (mode == LineMode::fast) {
      while (scan < size) {
        const void* hit = std::memchr(data + scan, '\n', size - scan);
        if (hit == nullptr) {
          scan = size;
          break;
        }
        size_t lf = static_cast<size_t>(static_cast<const char*>(hit) - data);
        size_t cut = lf;
        if (cut > start && data[cut - 1] == '\r') --cut;
        sink.line(data + start, cut - start);
        start = scan = lf + 1;
      }
    } else if (mode == LineMode::general) {
      const Charset* cs = sink.charset;
      size_t max = cs->max_bytes();
      while (scan < size) {
        size_t avail = size - scan;
        size_t n = avail < max ? avail : max;
        size_t len = complete_char_length(cs, reinterpret_cast<const unsigned char*>(data + scan), n);
        if (len == 0) {
          if (!ended) break;  // a character still arriving
          len = n;            // bytes pending at the end form one invalid character
        }
        const char* p = data + scan;
        char32_t c = cs->next(&p, data + scan + len);
        if (c == U'\n') {
          size_t cut = scan;
          if (prev_len != 0 && prev == U'\r') cut -= prev_len;
          sink.line(data + start, cut - start);
          start = scan + len;
          prev = 0;
          prev_len = 0;
        } else {
          prev = c;
          prev_len = len;
        }
        scan += len;
      }
    } else {
      scan = size;
    }
    if (ended) {
      if (start < size) sink.line(data + start, size - start);
      pending.clear();
      start = scan = 0;
      prev_len = 0;
      return;
    }
    if (start > 0 && start >= pending.size() / 2) {  // drop handled bytes now and then
      pending.erase(0, start);
      scan -= start;
      start = 0;
    }
  }

  // Reads what is there without blocking. False once the stream has ended (then it is closed).
  bool pump(capture_sink& sink, LineMode mode) {
    char chunk[65536];
    for (;;) {
      ssize_t n = ::read(fd.fd, chunk, sizeof chunk);
      if (n > 0) {
        pending.append(chunk, static_cast<size_t>(n));
        split(sink, mode, false);
        return true;  // one chunk per turn keeps the two streams in the order they arrive
      }
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return true;
      split(sink, mode, true);  // end of the stream, or an error that ends it
      fd.close();
      return false;
    }
  }
};

// Kills and reaps a child that is left behind by an exception.
struct child_guard {
  pid_t pid = -1;
  ~child_guard() {
    if (pid <= 0) return;
    ::kill(pid, SIGKILL);
    int status;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
  }
};

struct file_actions_holder {
  posix_spawn_file_actions_t actions;
  file_actions_holder() {
    int rc = posix_spawn_file_actions_init(&actions);
    if (rc != 0) throw_system("posix_spawn_file_actions_init", rc);
  }
  ~file_actions_holder() { posix_spawn_file_actions_destroy(&actions); }
  void dup2(int from, int to) {
    int rc = posix_spawn_file_actions_adddup2(&actions, from, to);
    if (rc != 0) throw_system("dup2", rc);
  }
};

}  // namespace

// ---------------------------------------------------------------------------------------------
// Public functions
// ---------------------------------------------------------------------------------------------

void argvify(String text, std::list<String>* arguments, const Charset* charset) {
  QZ_TRACE;
  token_list_type tokens;
  tokenize(text.read(), text.end(), text.get_charset(), &tokens);
  arg_parser p{tokens};
  p.skip_spaces();
  parsearg0(p, arguments, charset);
  while (!p.at_end()) parseargn(p, arguments, charset);
}

void argvifylin(String text, char*** argv) {
  QZ_TRACE;
  std::list<String> arguments;
  argvify(std::move(text), &arguments, Charset::utf8);
  size_t terminator = Charset::utf8->min_bytes();
  char** out = new char*[arguments.size() + 1]();
  try {
    size_t i = 0;
    for (String& a : arguments) {
      a.convert(Charset::utf8, CON_NONE, 0);
      char* copy = new char[a.size() + terminator]();
      if (a.size()) std::memcpy(copy, a.read(), a.size());
      out[i++] = copy;
    }
  } catch (...) {
    freeargv(out);
    throw;
  }
  *argv = out;
}

void freeargv(char** argv) {
  QZ_TRACE;
  if (argv == nullptr) return;
  for (char** p = argv; *p != nullptr; ++p) delete[] *p;
  delete[] argv;
}

String quote_shell_argument(String argument) {
  QZ_TRACE;
  constexpr size_t kLimit = 8191;
  std::string in = argument.u8str();
  std::string out;
  out.reserve(in.size() + 2);
  out.push_back('"');
  size_t i = 0;
  while (i < in.size()) {
    size_t run = 0;
    while (i + run < in.size() && in[i + run] == '\\') ++run;
    if (run > 0) {
      i += run;
      if (i == in.size()) {
        out.append(run * 2, '\\');  // before the closing quote
      } else if (in[i] == '"') {
        out.append(run * 2 + 1, '\\');
        out.push_back('"');
        ++i;
      } else {
        out.append(run, '\\');
      }
    } else if (in[i] == '"') {
      out.append("\\\"");
      ++i;
    } else {
      out.push_back(in[i++]);
    }
    if (out.size() > kLimit) throw RuntimeError(11);
  }
  out.push_back('"');
  if (out.size() > kLimit) throw RuntimeError(11);
  return String(out.data(), out.size(), Charset::utf8);
}

size_t create_envp(Runtime* runtime, const Charset* charset, char** block) {
  QZ_TRACE;
  if (charset == nullptr) charset = Charset::utf8;
  size_t terminator = charset->min_bytes();
  std::vector<String> entries;
  size_t total = terminator;
  if (runtime != nullptr) {
    for (auto& [name, value] : runtime->environment()) {
      Concat entry(charset);
      entry.append(name);
      entry.append(String("=", 1, Charset::utf8));
      entry.append(value);
      String text = entry.to_string(false);
      text.convert(charset, CON_NONE, 0);
      total += text.size() + terminator;
      entries.push_back(std::move(text));
    }
  }
  char* out = new char[total]();  // zero-filled: every terminator is already there
  size_t at = 0;
  for (const String& e : entries) {
    if (e.size()) std::memcpy(out + at, e.read(), e.size());
    at += e.size() + terminator;
  }
  *block = out;
  return total;
}

int run_console_command(Runtime* runtime, Screen* screen, String command) {
  QZ_TRACE;
  argv_holder argv;
  argvifylin(std::move(command), &argv.argv);
  flush_before_start(runtime, screen);
  pid_t pid = start_child(runtime, argv.argv, nullptr);
  return exit_result(wait_child(pid));
}

int run_capture_console_command(Runtime* runtime, Screen* screen, String command, std::list<String>* lines,
                                int flags, const Charset* charset) {
  QZ_TRACE;
  if (charset == nullptr) charset = Charset::utf8;
  std::list<String> discarded;
  if (lines == nullptr) lines = &discarded;
  argv_holder argv;
  argvifylin(std::move(command), &argv.argv);

  fd_holder in_read, in_write;
  capture_stream streams[2];  // 0 standard output, 1 standard error
  fd_holder out_write, err_write;
  make_pipe(in_read, in_write);
  make_pipe(streams[0].fd, out_write);
  make_pipe(streams[1].fd, err_write);

  file_actions_holder actions;
  actions.dup2(in_read.fd, 0);
  actions.dup2(out_write.fd, 1);
  actions.dup2(err_write.fd, 2);
  // The pipe descriptors themselves are close-on-exec: the child keeps only 0, 1 and 2.

  flush_before_start(runtime, screen);
  child_guard child;
  child.pid = start_child(runtime, argv.argv, &actions.actions);

  // The child's ends, and the write end of its input: it sees the end of its input at once.
  in_read.close();
  in_write.close();
  out_write.close();
  err_write.close();
  for (capture_stream& s : streams) {
    int fl = ::fcntl(s.fd.fd, F_GETFL);
    if (fl < 0 || ::fcntl(s.fd.fd, F_SETFL, fl | O_NONBLOCK) != 0) throw_system("fcntl", errno);
  }

  capture_sink sink{screen, flags, lines, charset};
  LineMode mode = line_mode_of(charset);
  for (;;) {
    struct pollfd set[2];
    capture_stream* owner[2];
    nfds_t count = 0;
    for (capture_stream& s : streams) {
      if (s.fd.fd < 0) continue;
      set[count].fd = s.fd.fd;
      set[count].events = POLLIN;
      set[count].revents = 0;
      owner[count] = &s;
      ++count;
    }
    if (count == 0) break;
    int rc = ::poll(set, count, -1);
    if (rc < 0) {
      if (errno == EINTR) continue;
      break;  // a failing wait ends the loop (the read ends close below)
    }
    for (nfds_t k = 0; k < count; ++k) {
      if (set[k].revents & (POLLIN | POLLHUP | POLLERR | POLLNVAL)) owner[k]->pump(sink, mode);
    }
  }
  for (capture_stream& s : streams) {
    if (s.fd.fd >= 0) {
      s.split(sink, mode, true);
      s.fd.close();
    }
  }

  pid_t pid = child.pid;
  child.pid = -1;
  return exit_result(wait_child(pid));
}

}  // namespace qzbase
