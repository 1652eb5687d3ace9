// fcvt_test - prints ecvt_cross and fcvt_cross next to the platform's ecvt and fcvt.
//
// Usage: fcvt_test [-d DIGITS] [-r COUNT] [-s SEED] [NUMBER...]
//   NUMBER...  the numbers to convert (strtod syntax)
//   -d DIGITS  the ndigits argument of both conversions (default 6)
//   -r COUNT   add COUNT random numbers (random bits and random magnitudes)
//   -s SEED    the seed of the random numbers (default 1)
// Each line shows the number, then for ecvt and for fcvt the digits, decpt and sign of the
// library and of the platform, and "=" or "!" for whether they agree. The exit code is 0.
#include <qzbase.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <random>
#include <string>
#include <vector>

#include "external/fcvt/fcvt.h"

namespace {

struct result_st {
  std::string digits;
  int decpt = 0;
  int sign = 0;
};

result_st ours(bool f, double v, int nd) {
  std::vector<char> buf(static_cast<size_t>(nd) + 400);
  result_st r;
  size_t len = 0;
  try {
    const char* p = f ? qzbase::fcvt_cross(buf.data(), buf.size(), v, nd, &r.decpt, &r.sign, &len)
                      : qzbase::ecvt_cross(buf.data(), buf.size(), v, nd, &r.decpt, &r.sign, &len);
    r.digits.assign(p, len);
  } catch (const std::exception&) {
    r.digits = "<buffer too small>";
  }
  return r;
}

result_st platform(bool f, double v, int nd) {
  result_st r;
  const char* p = f ? fcvt(v, nd, &r.decpt, &r.sign) : ecvt(v, nd, &r.decpt, &r.sign);
  r.digits = p ? p : "";
  return r;
}

void show(double v, int nd, int* differ) {
  std::printf("%.17g", v);
  for (bool f : {false, true}) {
    result_st a = ours(f, v, nd), b = platform(f, v, nd);
    bool same = a.digits == b.digits && a.decpt == b.decpt && a.sign == b.sign;
    if (!same) ++*differ;
    std::printf("  %s %s %d %d | %s %d %d %s", f ? "fcvt" : "ecvt", a.digits.c_str(), a.decpt,
                a.sign, b.digits.c_str(), b.decpt, b.sign, same ? "=" : "!");
  }
  std::printf("\n");
}

}  // namespace

int main(int argc, char** argv) {
  int nd = 6;
  long count = 0;
  unsigned long seed = 1;
  std::vector<double> values;
  for (int i = 1; i < argc; ++i) {
    if (!std::strcmp(argv[i], "-d") && i + 1 < argc) {
      nd = std::atoi(argv[++i]);
    } else if (!std::strcmp(argv[i], "-r") && i + 1 < argc) {
      count = std::atol(argv[++i]);
    } else if (!std::strcmp(argv[i], "-s") && i + 1 < argc) {
      seed = std::strtoul(argv[++i], nullptr, 10);
    } else if (!std::strcmp(argv[i], "-h") || !std::strcmp(argv[i], "--help")) {
      std::printf("usage: %s [-d DIGITS] [-r COUNT] [-s SEED] [NUMBER...]\n", argv[0]);
      return 0;
    } else {
      values.push_back(std::strtod(argv[i], nullptr));
    }
  }
  std::mt19937_64 rng(seed);
  for (long i = 0; i < count; ++i) {
    // Alternate between uniformly random magnitudes and a few decimals at a scale.
    if (i % 2) {
      double mant = std::uniform_real_distribution<double>(-1, 1)(rng);
      int ex = std::uniform_int_distribution<int>(-20, 20)(rng);
      values.push_back(mant * std::pow(10.0, ex));
    } else {
      int64_t cents = std::uniform_int_distribution<int64_t>(-10000000, 10000000)(rng);
      values.push_back(static_cast<double>(cents) / 1000.0);
    }
  }
  if (values.empty()) values = {0.0, -0.0, 0.5, 0.99999, 1.0, 2.5, 123.456, 1e-5, 1e22, -7.25};
  int differ = 0;
  for (double v : values) show(v, nd, &differ);
  std::printf("%zu numbers, %d conversions differ from the platform's\n", values.size(), differ);
  return 0;
}
