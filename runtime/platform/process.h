// process.h - child processes and argument splitting.
//
// The command runners split one command text into arguments (argvify: the rules of the Windows
// command line, not a shell), start the program found along the PATH of the runtime's
// environment copy, hand it exactly that copy as its environment, and turn its exit status into
// a result: ended by a signal 1, exit status 127 (the program did not start) RuntimeError 1, any
// other status itself.
//
// Faults mended (each tested):
// - upenv replaced the environment of the whole process (clearenv + setenv) before fork: other
//   threads raced with it and the host lost its own environment. There is no upenv: the block
//   is built with create_envp before the child starts and given to the child only. The child is
//   started with posix_spawn (no fork of the whole process); the program is looked up along the
//   copy's PATH ("/bin:/usr/bin" when the copy has none) as execvp would, and a file that is
//   not a binary nor has "#!" runs under /bin/sh, as with execvp.
// - fork, pipe and dup2 results were not checked: a pipe that cannot be made, a spawn that fails
//   for want of resources (EAGAIN, ENOMEM, EMFILE) and a failed waitpid raise RuntimeError 9901
//   ("Generic filesystem error.") with the failing call and its error text as detail; a program
//   that cannot be started (not found, not executable) raises RuntimeError 1 at once.
// - Capture: the parent closes the write end of the child's standard input right after the
//   start, so a child that reads its input sees its end (sort fed nothing finishes). An ended
//   stream leaves the poll set (no busy loop). Both pipes are read without blocking into
//   per-stream line buffers, so a child that fills one pipe while the other holds an
//   unterminated line never deadlocks. poll replaces pselect (no FD_SETSIZE limit).
// - The screen is flushed before the child starts, so output keeps its order.
// - Pipe descriptors are close-on-exec, so a child started meanwhile by another thread never
//   inherits them (which would keep a pipe open and the capture waiting).
// - Signal dispositions and the signal mask are reset to the defaults in the child (an ignored
//   SIGPIPE of the host does not reach the program).
// - An exception while capturing (from the screen, for example) kills and reaps the child and
//   closes every descriptor before it passes.
//
// Lines are read as FileHandle::fgets reads them: the line end is U+000A decoded in the charset
// (not for binary text, which is one line), a U+000D just before it is cut too; a last line
// without a line end is kept; each line is handled as read_line_from_handle handles it (flags 1
// skip empty lines, 2 keep only the last line, 4 no echo; without 4 each line is written to the
// screen with outendl under its output lock).
#pragma once

#include <qzbase.h>

#include <list>

namespace qzbase {

// Splits text into arguments, each built in charset, appended to *arguments (quotes, escapes and blanks as the shell splits them).
void argvify(String text, std::list<String>* arguments, const Charset* charset);
// argvify in UTF-8, then a new[] array of count + 1 entries: each a new[] NUL-terminated UTF-8
// copy, the last null. Free with freeargv.
void argvifylin(String text, char*** argv);
void freeargv(char** argv);
// The argument in double quotes with its backslashes and quotes escaped (the inverse of
// argvify's further arguments), UTF-8; RuntimeError 11 beyond 8191 bytes.
String quote_shell_argument(String argument);

// Runs the command with the caller's standard streams; waits; returns the result (see above).
int run_console_command(Runtime* runtime, Screen* screen, String command);
// Runs the command and collects its standard output and error lines (charset: UTF-8 when null)
// into *lines in the order read; nothing is written to its standard input.
int run_capture_console_command(Runtime* runtime, Screen* screen, String command, std::list<String>* lines,
                                int flags, const Charset* charset);

// The runtime's environment as one block: "name=value" converted into charset and a zero
// terminator as wide as the charset's minimum bytes per character, for each entry in name
// order, then one more terminator. *block is new[] (the caller frees it); returns its size.
size_t create_envp(Runtime* runtime, const Charset* charset, char** block);

}  // namespace qzbase
