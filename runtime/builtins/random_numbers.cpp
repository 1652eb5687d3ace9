// random_numbers.cpp - the engines behind RAND and SRAND.
#include "builtins/random_numbers.h"

#include <qzbase.h>

#include <chrono>
#include <ctime>
#include <functional>

#include "values/comparison.h"

namespace qzbase {

namespace {

constexpr uint32_t kEngineModulus = 2147483647u;

uint32_t engine_state(uint64_t word) {
  uint32_t s = static_cast<uint32_t>(word % kEngineModulus);
  return s == 0 ? 1 : s;
}

double canonical(std::minstd_rand0& engine) { return std::generate_canonical<double, 53>(engine); }

}  // namespace

uint32_t random_state_of_seed(double seed) {
  QZ_TRACE;
  return engine_state(std::hash<double>{}(seed));
}

uint32_t random_state_from_system() {
  QZ_TRACE;
  uint64_t words = 0;
  try {
    std::random_device device("default");
    uint64_t high = device();
    uint64_t low = device();
    words = (high << 32) | (low & 0xFFFFFFFFu);
  } catch (const std::exception&) {
    // No entropy source: the clock words below still vary from call to call.
  }
  const double fraction = static_cast<double>(words) / 18446744073709551616.0;
  uint64_t scaled = static_cast<uint64_t>(fraction * 9999999999.0);
  if (scaled >= 9999999999u) scaled = 9999999998u;  // a fraction rounded up to 1
  const auto ticks = std::chrono::system_clock::now().time_since_epoch().count();
  std::seed_seq sequence{scaled, static_cast<uint64_t>(std::time(nullptr)), static_cast<uint64_t>(ticks)};
  uint32_t word = 0;
  sequence.generate(&word, &word + 1);
  return engine_state(word);
}

double RandomNumbers::draw_locked() {
  if (!rand_seeded_) {
    rand_seeded_ = true;
    rand_engine_.seed(kFirstState);
    return kFirstValue;
  }
  return canonical(rand_engine_);
}

double RandomNumbers::next() {
  QZ_TRACE;
  std::lock_guard<std::mutex> guard(lock_);
  return draw_locked();
}

double RandomNumbers::next(double seed) {
  QZ_TRACE;
  // The system is asked before the lock is taken: it may block on the entropy source.
  if (seed < -kCmpTolerance) {
    const uint32_t state = random_state_from_system();
    std::lock_guard<std::mutex> guard(lock_);
    rand_engine_.seed(state);
    rand_seeded_ = true;
    return canonical(rand_engine_);
  }
  std::lock_guard<std::mutex> guard(lock_);
  if (seed > kCmpTolerance) {
    rand_engine_.seed(random_state_of_seed(seed));
    rand_seeded_ = true;
    return canonical(rand_engine_);
  }
  return draw_locked();  // within the tolerance of 0, and a NaN
}

double RandomNumbers::next_separate() {
  QZ_TRACE;
  std::unique_lock<std::mutex> guard(lock_);
  if (!separate_seeded_) {
    guard.unlock();
    const uint32_t state = random_state_from_system();
    guard.lock();
    if (!separate_seeded_) {  // another thread may have seeded it meanwhile
      separate_engine_.seed(state);
      separate_seeded_ = true;
    }
  }
  return canonical(separate_engine_);
}

RandomNumbers& process_random_numbers() {
  QZ_TRACE;
  static RandomNumbers engines;
  return engines;
}

}  // namespace qzbase
