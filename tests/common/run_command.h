// run_command.h - runs a shell command for tests that check files with outside readers.
#pragma once

#include <stdio.h>

#include <string>

namespace qzbase::testing_files {

// The command's standard output and error together; a failing command adds its exit status, so a
// mismatch shows why.
inline std::string run_command(const std::string& command) {
  std::string out;
  FILE* pipe = popen((command + " 2>&1").c_str(), "r");
  if (pipe == nullptr) return "popen failed";
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
  int status = pclose(pipe);
  if (status != 0) out += "\n(exit status " + std::to_string(status) + ")";
  return out;
}

}  // namespace qzbase::testing_files
