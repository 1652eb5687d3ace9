// screen.h - the screen's internals: the per-thread screen override.
//
// The classes Screen, NullScreen, ConsoleScreen and ScreenOutputLock are public (qzbase.h).
//
// While the compiler or the preprocessor runs code at compile time it installs a NullScreen so
// that such code prints nothing. Swapping the Runtime's shared `screen` field would not do: two
// threads compiling at once restore in the wrong order and can leave a freed NullScreen installed.
// Here the override belongs to the calling thread only: Runtime::get_screen() answers the
// innermost override of the calling thread for that Runtime, and every other thread keeps
// seeing the host's screen. Use ScreenRedirect, which restores on every exit, exceptions
// included.
#pragma once

#include <qzbase.h>

namespace qzbase {

// One override on the calling thread's chain (innermost first). Lives on the caller's stack.
struct screen_redirect_st {
  const Runtime* runtime;
  Screen* screen;  // the screen installed for that runtime on this thread
  screen_redirect_st* prev;
};

// Installs `replacement` as the calling thread's screen of `runtime` until restore_screen(scope).
void redirect_screen(screen_redirect_st* scope, const Runtime* runtime, Screen* replacement);
// Removes the override (also when it is not the innermost one).
void restore_screen(screen_redirect_st* scope);
// The calling thread's innermost override for runtime, or null.
Screen* screen_override(const Runtime* runtime);

// The scoped form the compiler and the preprocessor use.
class ScreenRedirect {
 public:
  ScreenRedirect(const Runtime* runtime, Screen* replacement) { redirect_screen(&scope_, runtime, replacement); }
  ~ScreenRedirect() { restore_screen(&scope_); }
  ScreenRedirect(const ScreenRedirect&) = delete;
  ScreenRedirect& operator=(const ScreenRedirect&) = delete;

 private:
  screen_redirect_st scope_;
};

// The message-box button rows in prompt order: bit, label, answer key.
struct msgbox_button_st {
  int bit;
  const char* label;
  char key;
};
extern const msgbox_button_st msgbox_buttons[7];

}  // namespace qzbase
