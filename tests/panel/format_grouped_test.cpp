#include "format_grouped.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <type_traits>
#include <utility>

namespace {

// Only the three value types compile; a long, whose width differs between targets, does not.
template <typename T, typename = void>
struct Formats : std::false_type {};
template <typename T>
struct Formats<T, std::void_t<decltype(FormatGrouped(nullptr, 0, "", std::declval<T>()))>>
    : std::true_type {};
static_assert(Formats<int32_t>::value && Formats<uint32_t>::value && Formats<double>::value);
static_assert(!Formats<long>::value && !Formats<unsigned long>::value && !Formats<int64_t>::value);
static_assert(!Formats<float>::value && !Formats<const char*>::value && !Formats<bool>::value);

template <typename T>
std::string Grouped(const char* format, T value, size_t capacity = 128)
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
    const struct { const char* format; Type type; double value; const char* expected; } cases[] = {
        {"%ld", I32, 0, "0"}, {"%ld", I32, 999, "999"}, {"%ld", I32, 100000, "100,000"}, {"%ld", I32, -100, "-100"},
        {"%ld", I32, -123456, "-123,456"}, {"%ld", I32, -2147483648.0, "-2,147,483,648"},
        {"%lu", U32, 0, "0"}, {"%lu", U32, 4294967295.0, "4,294,967,295"},
        {"%.3g", DBL, 1.0, "1"}, {"%.3g", DBL, 1.5, "1.5"}, {"%.3g", DBL, 9.765625, "9.77"},
        {"%.3g", DBL, 12.5, "12.5"},
        {"%.3g", DBL, 1.125, "1.13"}, // exact halves: away from zero
        {"%.3g", DBL, 100.5, "101"}, {"%.3g", DBL, -1.125, "-1.13"},
        {"%.3g", DBL, 999.4990234375, "999"},
        {"%.3g", DBL, 999.5, "1e+003"}, // rounds up into the exponent form
        {"%.3g", DBL, 1004.9990234375, "1e+003"}, {"%.3g", DBL, 1005.0, "1.01e+003"},
        {"%.3g", DBL, 1023.9990234375, "1.02e+003"}, {"%.3g", DBL, 4294967295.0 / 1048576.0, "4.1e+003"},
        {"%.3g", DBL, 0.0, "0"}, {"%.3g", DBL, -0.0, "-0"},
        {"%.3g", DBL, 0.0001234, "0.000123"}, {"%.3g", DBL, 0.00001234, "1.23e-005"},
        {"%.3g", DBL, 0.1, "0.1"},   // 0.1000000000000000055...
        {"%.3g", DBL, 2.675, "2.67"}, // 2.67499999999999982236431605997495353221893310546875
        {"%.3g", DBL, 123456789.0, "1.23e+008"}, {"%.3g", DBL, 1e300, "1e+300"},
        {"%.3g", DBL, 1.7976931348623157e308, "1.8e+308"}, {"%.3g", DBL, 4.9406564584124654e-324, "4.94e-324"},
        {"%g", DBL, 1234567.0, "1.23457e+006"}, {"%g", DBL, 123456.0, "123,456"},
        {"%.1g", DBL, 0.25, "0.3"}, {"%.17g", DBL, 0.1, "0.10000000000000001"},
        // Literal text around the conversion; grouping runs over the whole formatted text.
        {"[%ld]", I32, 5, "[5]"}, {"%lu%%", U32, 50, "50%"}, {"%ld Byte", I32, 1234, "123,4 Byte"},
        // Formats that do not suit the value give the empty text.
        {"%lu", I32, 1, ""}, {"%ld", U32, 1, ""}, {"%ld", DBL, 1, ""}, {"%.3g", I32, 1, ""},
        {"%s", I32, 1, ""}, {"%ld %ld", I32, 1, ""}, {"no conversion", I32, 1, ""},
        {"%lld", I32, 1, ""}, {"%.100g", DBL, 1, ""},
    };
    for (const auto& c : cases) {
        std::string text = c.type == I32   ? Grouped(c.format, static_cast<int32_t>(c.value))
                           : c.type == U32 ? Grouped(c.format, static_cast<uint32_t>(c.value))
                                           : Grouped(c.format, c.value);
        EXPECT_EQ(text, c.expected) << c.format << " of " << c.value;
    }
}

// The tail from the last '.' on is never touched; a comma only follows a digit.
TEST(FormatGroupedTest, GroupingKeepsTheTail)
{
    const char* cases[][2] = {{"1234", "1,234"}, {"-123456", "-123,456"}, {"+1234", "+1,234"}, {"1e+003", "1e+003"},
                              {"1.02e+003", "1.02e+003"}, {"123.5", "123.5"}, {"1.2.3456", "1.2.3456"}, {"1234.5678", "1,234.5678"}};
    for (const auto& c : cases) {
        char dest[64];
        GroupDigits(dest, sizeof dest, c[0]);
        EXPECT_STREQ(dest, c[1]) << c[0];
    }
}

TEST(FormatGroupedTest, NeverWritesPastTheDestination)
{
    // "-2,147,483,648" needs 15 bytes with its terminator.
    EXPECT_EQ(Grouped("%ld", int32_t{-2147483647 - 1}, 15), "-2,147,483,648");
    EXPECT_EQ(Grouped("%ld", int32_t{-2147483647 - 1}, 14), "");
    EXPECT_EQ(Grouped("%ld", int32_t{7}, 1), "");
    std::string longFormat(254, 'a');
    EXPECT_EQ(Grouped((longFormat + "%ld").c_str(), int32_t{7}, 300), longFormat + "7");
    EXPECT_EQ(Grouped((longFormat + "%ld").c_str(), int32_t{77}, 300), "");
    char untouched = 'X';
    FormatGrouped(&untouched, 0, "%ld", int32_t{1});
    EXPECT_EQ(untouched, 'X');
}

} // namespace
