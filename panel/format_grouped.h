// printf-style formatting of one value, then commas between the groups of three digits in front
// of the last '.'. Portable and independent of the platform's printf: the same bytes everywhere.
#pragma once

#include <cstddef>
#include <cstdint>

enum {
    FORMAT_GROUPED_WORK_SIZE = 256, // the formatted text is at most 255 bytes
};

// The format holds literal text ("%%" for a percent sign) and exactly one conversion, which must
// suit the value's type:
//   int32_t   "%ld" (also "%d", "%li", "%i")
//   uint32_t  "%lu" (also "%u")
//   uint64_t  "%llu"
//   double    "%.Pg" (P up to 99; "%g" means "%.6g")
// "%ld" and "%lu" are 32-bit whatever the platform's long. "%g" rounds the exact decimal value
// of the double, an exact half away from zero, and writes the exponent with its sign and at least
// three digits ("1.01e+003").
// `dest` receives the grouped text and its terminator; nothing is written past `capacity` bytes.
// When the format does not suit the value, or the formatted text exceeds 255 bytes, or the
// result does not fit, `dest` receives the empty text rather than a misleading number.
void FormatGrouped(char* dest, size_t capacity, const char* format, int32_t value);
void FormatGrouped(char* dest, size_t capacity, const char* format, uint32_t value);
void FormatGrouped(char* dest, size_t capacity, const char* format, uint64_t value);
void FormatGrouped(char* dest, size_t capacity, const char* format, double value);

// Any other type (long, int64_t, float, a pointer...) is refused at compile time, so a value can
// never be read with the wrong width.
template <typename T>
void FormatGrouped(char* dest, size_t capacity, const char* format, T value) = delete;

// Only the grouping step: commas into `text` as FormatGrouped puts them. Same limits and
// same empty result when the text is too long or the result does not fit.
void GroupDigits(char* dest, size_t capacity, const char* text);
