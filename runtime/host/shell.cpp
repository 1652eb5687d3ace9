// The shell: the command line of qzsh, the banner, the interactive read-and-run loop and the
// system report.
//
// Differences from the behaviour first written down for it:
// - The script arguments go to run_program in an array sized to fit them all (it was a fixed
//   array of 16 pointers that a 17th argument overran).
// - CANCEL at the prompt used to leave the loop reading from the closed input handle; the main
//   stack is popped back to where the line started, the standard input is opened again and the
//   loop goes on.
// - Help, version and command-line errors end RunQzsh with TCLAP's status rather than ending the
//   process from inside the library, so the host still releases its runtime.
#include <qzbase.h>

#include "platform/standard_streams.h"  // before TCLAP, whose headers include <iostream>

#include <tclap/CmdLine.h>
#include <unicode/uloc.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/file_io.h"
#include "platform/file_handle.h"
#include "vm/vm_stack.h"

namespace qzbase {

namespace {

// TCLAP's usual output, building the standard streams before it prints (standard_streams.h).
class StreamsOnDemandOutput : public TCLAP::StdOutput {
 public:
  void usage(TCLAP::CmdLineInterface& cmd) override {
    build_standard_streams();
    StdOutput::usage(cmd);
  }
  void version(TCLAP::CmdLineInterface& cmd) override {
    build_standard_streams();
    StdOutput::version(cmd);
  }
  void failure(TCLAP::CmdLineInterface& cmd, TCLAP::ArgException& e) override {
    build_standard_streams();
    StdOutput::failure(cmd, e);
  }
};

const char* const kBanner =
    "\n"
    "  (DEU) Diese Software wird ohne jede ausdr\xC3\xBC" "ckliche oder stillschweigende\n"
    "  Gew\xC3\xA4hrleistung zur Verf\xC3\xBCgung gestellt. Der Autor haftet nicht f\xC3\xBCr\n"
    "  Sch\xC3\xA4" "den, die aus ihrer Nutzung entstehen.\n"
    "\n"
    "  (ENG) This software comes without any express or implied warranty. The\n"
    "  author is not liable for any damages arising from its use.\n"
    "\n";

FileHandle* open_stdin(Runtime* runtime) {
  FileHandle* handle = nullptr;
  if (__fopen(String("qz://stdin"), runtime->get_screen(), 0, nullptr, &handle) != 0 || handle == nullptr) {
    throw_assert_failed();  // the standard input is always there to open
  }
  return handle;
}

}  // namespace

int CollectPrintSysinfo(Runtime* runtime) {
  QZ_TRACE;
  const char* locale = uloc_getDefault();
  char language[3] = {};
  char country[3] = {};
  UErrorCode status = U_ZERO_ERROR;
  uloc_getLanguage(locale, language, sizeof language, &status);
  status = U_ZERO_ERROR;
  uloc_getCountry(locale, country, sizeof country, &status);
  // A value that fills the buffer comes back without its terminator.
  language[sizeof language - 1] = 0;
  country[sizeof country - 1] = 0;
  char formatted[16];
  std::snprintf(formatted, sizeof formatted, "%s_%s", language, country);

  Screen* screen = runtime->get_screen();
  screen->outendl(String("VERSION: 0.9.2700"));
  screen->outendl(String("ARCH: x86_64"));
  screen->outendl(String((std::string("LOCALE: ") + formatted).c_str()));
  std::string codepage = "CODEPAGE: ";
  if (runtime->codepage != nullptr) codepage += runtime->codepage->name();
  screen->outendl(String(codepage.c_str()));
  screen->outendl(String("OS: LINUX"));
  return 0;
}

int RunInteractiveShell(Runtime* runtime) {
  QZ_TRACE;
  FileHandle* input = open_stdin(runtime);
  try {
    for (;;) {
      if (input->eof()) {
        __fclose(input);
        return 0;
      }
      Screen* screen = runtime->get_screen();
      Concat prompt;
      prompt.append(String("qz "));
      prompt.append(String(std::filesystem::current_path()));
      prompt.append(String("> "));
      screen->out(prompt.to_string(false));

      String line;
      input->fgets(&line);
      if (line.size() == 0) continue;

      VmStack* stack = runtime->get_main_stack();
      Memvar* mark = stack->sp;
      try {
        runtime->run_command(line);
      } catch (const RuntimeQuit& quit) {
        __fclose(input);
        input = nullptr;
        if (quit.kind == QUIT_QUIT) return 0;
        stack->release_stack_to(mark);
        input = open_stdin(runtime);
      }
    }
  } catch (...) {
    __fclose(input);
    throw;
  }
}

int RunQzsh(Runtime* runtime) {
  QZ_TRACE;
  StreamsOnDemandOutput output;
  TCLAP::CmdLine cmd("Qz Shell", ' ', "0.9.2700 (x86_64)", true);
  cmd.setOutput(&output);
  TCLAP::SwitchArg interactive("", "interactive",
                               "Allow user interaction. This is the default when starting an interactive shell.", cmd,
                               false);
  TCLAP::SwitchArg asserts("", "assert", "Enable ASSERT-command lines, which are ignored by default.", cmd, false);
  TCLAP::ValueArg<std::string> codepage("", "codepage", "Set Qz-codepage manually.", false, "", "qz codepage", cmd);
  TCLAP::ValueArg<std::string> cstdout(
      "", "cstdout",
      "Set STDOUT charset for redirected output. All codepoints written to STDOUT will be encoded to this charset. "
      "By default, all codepoints are UTF-8 endocded without BOM.",
      false, "", "qz charset name", cmd);
  TCLAP::ValueArg<std::string> cstdin(
      "", "cstdin",
      "Set STDIN charset for redirected input. All codepoints read from STDIN will be interpreted using this "
      "charset. By default, all codepoints are interpreted as UTF-8 codepoints without BOM.",
      false, "", "qz charset name", cmd);
  TCLAP::SwitchArg sysinfo("", "sysinfo", "Print system information for error reporting and quit process.", cmd,
                           false);
  TCLAP::UnlabeledMultiArg<std::string> arguments("argument", "Script-Name and Arguments.", false, "arg", cmd);

  std::vector<std::string> words;
  for (int i = 0; i < runtime->argument_count(); ++i) words.emplace_back(runtime->argument(i));
  // TCLAP prints help, version and command-line errors itself; its status comes back here
  // instead of ending the process under a live runtime.
  cmd.setExceptionHandling(false);
  try {
    cmd.parse(words);
  } catch (TCLAP::ArgException& e) {
    try {
      cmd.getOutput()->failure(cmd, e);
    } catch (TCLAP::ExitException& exit) {
      return exit.getExitStatus();
    }
    return 1;
  } catch (TCLAP::ExitException& exit) {
    return exit.getExitStatus();
  }

  Screen* screen = runtime->get_screen();
  // Sized to the values: however many arguments a script gets, all of them arrive.
  std::vector<const char*> argv;
  const std::vector<std::string>& values = arguments.getValue();
  if (asserts.isSet()) runtime->asserts = true;
  if (values.empty()) {
    screen->set_interactive(true);
  } else {
    for (const std::string& value : values) argv.push_back(value.c_str());
    screen->set_interactive(interactive.isSet());
  }
  int script_count = static_cast<int>(argv.size());
  argv.push_back(nullptr);

  if (sysinfo.isSet()) return CollectPrintSysinfo(runtime);
  // An unknown charset is refused, as for --codepage, not ignored.
  if (cstdout.isSet() && SetOutputCharset(screen, cstdout.getValue().c_str()) != 0) {
    screen->err(String("--cstdout not supported"));
    return 1;
  }
  if (cstdin.isSet() && SetInputCharset(screen, cstdin.getValue().c_str()) != 0) {
    screen->err(String("--cstdin not supported"));
    return 1;
  }
  if (codepage.isSet()) {
    const std::string& name = codepage.getValue();
    long id = std::strtol(name.c_str(), nullptr, 10);
    bool usable = runtime->set_codepage_by_name(name.c_str()) ||
                  (id > 0 && id <= INT_MAX && runtime->set_codepage_by_id(static_cast<int>(id)));
    if (!usable) {
      screen->err(String("--codepage not supported"));
      return 1;
    }
  }

  if (script_count > 0) return runtime->run_program(String(argv[0]), script_count, argv.data());

  PrintScreenUtf8(screen, kBanner);
  RunInteractiveShell(runtime);
  return 0;
}

}  // namespace qzbase
