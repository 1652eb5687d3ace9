// ryu_printf.h - the d2fixed and d2exp entry points of Ryu's printf module.
//
// The project takes Ryu from the C++ library: libstdc++'s std::to_chars with a precision is Ryu
// printf (d2fixed for chars_format::fixed, d2exp for chars_format::scientific), so these are thin
// wrappers with Ryu's names, results and special-value spellings ("nan", "Infinity", "-Infinity").
#pragma once

#include <cstdint>

extern "C" {
// Fixed notation with precision digits after the point; returns the length, writes no
// terminator. The caller's buffer must hold the text (at most 1 + 309 + 1 + precision bytes).
int d2fixed_buffered_n(double d, uint32_t precision, char* result);
// As d2fixed_buffered_n, with a terminator.
void d2fixed_buffered(double d, uint32_t precision, char* result);
// Exponent notation: one digit, "." and precision digits (no point for precision 0), "e", a sign
// and at least two exponent digits; returns the length, writes no terminator. The buffer must hold
// at most 1 + 1 + 1 + precision + 5 bytes.
int d2exp_buffered_n(double d, uint32_t precision, char* result);
void d2exp_buffered(double d, uint32_t precision, char* result);
}
