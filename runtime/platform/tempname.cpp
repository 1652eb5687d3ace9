// tempname.cpp - unique temporary names.
#include "platform/tempname.h"

#include <chrono>
#include <cmath>
#include <ctime>
#include <mutex>
#include <random>

namespace qzbase {

namespace {

struct tempname_generator_st {
  std::mutex lock;
  bool seeded = false;
  std::minstd_rand0 engine;  // x' = 16807 x mod 2147483647
};

tempname_generator_st& generator() {
  static tempname_generator_st* g = new tempname_generator_st;  // never destroyed: usable at exit
  return *g;
}

void seed(tempname_generator_st& g) {
  std::random_device device;
  uint64_t mix = device();
  mix = (mix << 32) ^ device();
  mix ^= static_cast<uint64_t>(std::chrono::system_clock::now().time_since_epoch().count());
  mix ^= static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()) * 0x9E3779B97F4A7C15ull;
  mix ^= static_cast<uint64_t>(std::clock());
  // minstd's state must lie in 1 .. 2147483646.
  g.engine.seed(static_cast<std::minstd_rand0::result_type>(mix % 2147483646u + 1));
  g.seeded = true;
}

}  // namespace

String tempname() {
  QZ_TRACE;
  char name[32];
  {
    tempname_generator_st& g = generator();
    std::lock_guard<std::mutex> guard(g.lock);
    if (!g.seeded) seed(g);
    for (char& out : name) {
      int c;
      do {
        double u = std::generate_canonical<double, 53>(g.engine);  // two outputs of the engine
        c = static_cast<int>(std::fmod(u * 10000.0, 75.0));
      } while ((c >= 10 && c <= 16) || (c >= 43 && c <= 48));
      out = static_cast<char>('0' + c);
    }
  }
  return String(name, sizeof name, Charset::utf8);
}

}  // namespace qzbase
