#include "format_grouped.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

// Only the four value types compile; a long, whose width differs between targets, does not.
template <typename T> constexpr bool Formats(...) { return false; }
template <typename T> constexpr auto Formats(int) -> decltype(FormatGrouped(nullptr, 0, "", T()), true) { return true; }
static_assert(Formats<int32_t>(0) && Formats<uint32_t>(0) && Formats<uint64_t>(0) && Formats<double>(0));
static_assert(!Formats<long>(0) && !Formats<int64_t>(0) && !Formats<float>(0) && !Formats<bool>(0));

template <typename T>
std::string Grouped(const char* format, T value, size_t capacity)
{
    char dest[300];
    std::memset(dest, 'X', sizeof dest);
    FormatGrouped(dest, capacity, format, value);
    for (size_t i = capacity; i < sizeof dest; ++i)
        EXPECT_EQ(dest[i], 'X') << "byte " << i << " written past the capacity";
    return dest;
}

enum Type { I32, U32, DBL };

// Every value fits a double exactly; the row's type picks the overload that is called.
TEST(FormatGroupedTest, Conversions)
{
    const std::string a254(254, 'a');
    const struct { std::string format; Type type; double value; std::string expected; size_t capacity = 128; } cases[] = {
        {"%ld", I32, 999, "999"}, {"%ld", I32, 100000, "100,000"}, {"%ld", I32, -123456, "-123,456"},
        {"%lu", U32, 0, "0"}, {"%lu", U32, 4294967295.0, "4,294,967,295"},
        // "-2,147,483,648" needs 15 bytes with its terminator.
        {"%ld", I32, -2147483648.0, "-2,147,483,648", 15}, {"%ld", I32, -2147483648.0, "", 14},
        {a254 + "%ld", I32, 7, a254 + "7", 300}, {a254 + "%ld", I32, 77, "", 300}, // at most 255 bytes formatted
        {"%.3g", DBL, 1.5, "1.5"}, {"%.3g", DBL, 1.125, "1.13"}, {"%.3g", DBL, -100.5, "-101"}, // halves: away from zero
        {"%.3g", DBL, 999.5, "1e+003"}, // rounds up into the exponent form
        {"%.3g", DBL, 1005.0, "1.01e+003"}, {"%.3g", DBL, 0.0, "0"}, {"%.3g", DBL, -0.0, "-0"},
        {"%.3g", DBL, 0.0001234, "0.000123"}, {"%.3g", DBL, 0.00001234, "1.23e-005"},
        {"%.3g", DBL, 2.675, "2.67"}, // 2.67499999999999982236431605997495353221893310546875
        {"%.3g", DBL, 1.7976931348623157e308, "1.8e+308"}, {"%.3g", DBL, 4.9406564584124654e-324, "4.94e-324"},
        {"%g", DBL, 1234567.0, "1.23457e+006"}, {"%g", DBL, 123456.0, "123,456"},
        {"%.1g", DBL, 0.25, "0.3"}, {"%.17g", DBL, 0.1, "0.10000000000000001"},
        // Literal text around the conversion; grouping runs over the whole text up to its last '.',
        // a comma only after a digit.
        {"[%lu%%]", U32, 5, "[5%]"}, {"%ld Byte", I32, 1234, "123,4 Byte"}, {"1.%ld.5", I32, 234567, "1.234,567.5"},
        // Formats that do not suit the value give the empty text.
        {"%lu", I32, 1, ""}, {"%ld", DBL, 1, ""}, {"%s", I32, 1, ""}, {"%ld %ld", I32, 1, ""},
        {"no conversion", I32, 1, ""}, {"%lld", I32, 1, ""}, {"%.100g", DBL, 1, ""}, {"%llu", U32, 1, ""},
    };
    for (const auto& c : cases) {
        const char* format = c.format.c_str();
        std::string text = c.type == I32   ? Grouped(format, static_cast<int32_t>(c.value), c.capacity)
                           : c.type == U32 ? Grouped(format, static_cast<uint32_t>(c.value), c.capacity)
                                           : Grouped(format, c.value, c.capacity);
        EXPECT_EQ(text, c.expected) << format << " of " << c.value;
    }
    // 64-bit counts come from the integer itself, whole past what a double holds exactly.
    const struct { const char* format; uint64_t value; const char* expected; } counts[] = {
        {"%llu", 0, "0"}, {"%llu", (uint64_t{1} << 53) + 1, "9,007,199,254,740,993"},
        {"= %llu", ~uint64_t{0}, "= 18,446,744,073,709,551,615"},
        {"%lu", 1, ""}, {"%lld", 1, ""}, {"%.3llu", 1, ""}, {"%llg", 1, ""},
    };
    for (const auto& c : counts)
        EXPECT_EQ(Grouped(c.format, c.value, 128), c.expected) << c.format << " of " << c.value;
    char untouched = 'X';
    FormatGrouped(&untouched, 0, "%ld", int32_t{1});
    EXPECT_EQ(untouched, 'X');
}

} // namespace
