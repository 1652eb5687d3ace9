// qzsh: the Qz shell. Until the runtime entry points exist it only reports the library's version.
#include <qzbase.h>

#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
  if (argc > 1 && std::strcmp(argv[1], "--version") == 0) {
    std::printf("qzsh 0.1.0\n");
    return 0;
  }
  std::printf("qzsh 0.1.0: the runtime's program entry points are not built yet.\n");
  return 0;
}
