// exit_status.h - the process exit status of the shell's result.
#pragma once

namespace qzsh {

// The low byte of the result, which is an error number or 0. A non-zero number whose low byte is
// zero (256, 512, ...) gives 1: a failed script must not end the process as a success.
inline int exit_status(int result) {
  int status = result & 0xFF;
  return (status == 0 && result != 0) ? 1 : status;
}

}  // namespace qzsh
