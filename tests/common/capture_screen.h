// capture_screen.h - a Screen that keeps what is written to it, as UTF-8.
#pragma once

#include <qzbase.h>

#include <mutex>
#include <string>

namespace qzbase::testing_screen {

class CaptureScreen : public Screen {
 public:
  void internal_out(const String& text) override { out += text.u8str(); }
  void internal_err(const String& text) override { err += text.u8str(); }
  std::string out;
  std::string err;
};

// Both streams into one text, for screens written from several threads.
class CapturingScreen : public Screen {
 public:
  void internal_out(const String& text) override {
    std::lock_guard<std::mutex> lock(mutex_);
    out_.append(text.read(), text.size());
  }
  void internal_err(const String& text) override { internal_out(text); }
  std::string text() {
    std::lock_guard<std::mutex> lock(mutex_);
    return out_;
  }

 private:
  std::mutex mutex_;
  std::string out_;
};

}  // namespace qzbase::testing_screen
