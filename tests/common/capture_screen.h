// capture_screen.h - a Screen that keeps what is written to it, as UTF-8.
#pragma once

#include <qzbase.h>

#include <string>

namespace qzbase::testing_screen {

class CaptureScreen : public Screen {
 public:
  void internal_out(const String& text) override { out += text.u8str(); }
  void internal_err(const String& text) override { err += text.u8str(); }
  std::string out;
  std::string err;
};

}  // namespace qzbase::testing_screen
