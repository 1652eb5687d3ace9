// random_numbers.h - the engines behind RAND and SRAND.
//
// Both are the minimal standard generator (std::minstd_rand0); a value is made from two
// successive outputs by std::generate_canonical for 53 bits, so that a seed gives the same
// sequence on every run. The library keeps one RandomNumbers for the whole process; language
// threads share it, so each call takes its lock (the sequence one thread sees is unchanged as
// long as no other thread draws in between).
#pragma once

#include <cstdint>
#include <mutex>
#include <random>

namespace qzbase {

class RandomNumbers {
 public:
  // RAND(): the next value; an engine never seeded gives kFirstValue and takes kFirstState.
  double next();
  // RAND(seed): a seed above the comparison tolerance seeds from std::hash of the double, one
  // below minus the tolerance from the system; one within the tolerance of 0 is RAND().
  double next(double seed);
  // SRAND(): the next value of the second engine, seeded from the system on first use.
  double next_separate();

  // What RAND() gives as the first call of a process, and the state it leaves.
  static constexpr double kFirstValue = 0.2853166021273582;
  static constexpr uint32_t kFirstState = 612712738;

 private:
  double draw_locked();

  std::mutex lock_;
  std::minstd_rand0 rand_engine_;
  bool rand_seeded_ = false;
  std::minstd_rand0 separate_engine_;
  bool separate_seeded_ = false;
};

// The engine state of a seed value: std::hash of the double, modulo 2^31 - 1, 0 made 1.
uint32_t random_state_of_seed(double seed);
// A state from the system: two words of std::random_device scaled below 9999999999, time() and
// the system clock's tick count, mixed by std::seed_seq.
uint32_t random_state_from_system();

// The process's engines.
RandomNumbers& process_random_numbers();

}  // namespace qzbase
