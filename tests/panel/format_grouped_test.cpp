#include "format_grouped.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

template <typename T>
std::string Grouped(const char* format, T value, size_t capacity = 128)
{
    char dest[300];
    std::memset(dest, 'X', sizeof dest);
    FormatGrouped(dest, capacity, format, value);
    // Nothing may be written behind the capacity.
    for (size_t i = capacity; i < sizeof dest; ++i)
        EXPECT_EQ(dest[i], 'X') << "byte " << i << " written";
    return dest;
}

struct SignedCase {
    int32_t value;
    const char* expected;
};

TEST(FormatGroupedTest, SignedIntegers)
{
    const SignedCase cases[] = {
        {0, "0"},           {999, "999"},         {1000, "1,000"},
        {65536, "65,536"},  {1234567, "1,234,567"}, {2147483647, "2,147,483,647"},
        {-1, "-1"},         {-480, "-480"},       {-1234, "-1,234"},
        {-123456, "-123,456"}, {-2147483647 - 1, "-2,147,483,648"}, {123456, "123,456"},
        {100000, "100,000"}, {-100, "-100"},
    };
    for (const SignedCase& c : cases)
        EXPECT_EQ(Grouped("%ld", c.value), c.expected) << c.value;
}

struct UnsignedCase {
    uint32_t value;
    const char* expected;
};

TEST(FormatGroupedTest, UnsignedIntegers)
{
    const UnsignedCase cases[] = {
        {0u, "0"}, {1024u, "1,024"}, {3000000000u, "3,000,000,000"}, {4294967295u, "4,294,967,295"},
    };
    for (const UnsignedCase& c : cases)
        EXPECT_EQ(Grouped("%lu", c.value), c.expected) << c.value;
}

struct RealCase {
    double value;
    const char* expected;
};

TEST(FormatGroupedTest, ThreeSignificantDigits)
{
    const RealCase cases[] = {
        {1.0, "1"},
        {1.5, "1.5"},
        {9.765625, "9.77"},
        {12.5, "12.5"},
        {1.125, "1.13"},     // exact half: away from zero
        {100.5, "101"},      // exact half
        {999.4990234375, "999"},
        {999.5, "1e+003"},   // rounds up into the exponent form
        {1004.9990234375, "1e+003"},
        {1005.0, "1.01e+003"},
        {1023.9990234375, "1.02e+003"},
        {4294967295.0 / 1048576.0, "4.1e+003"},
        {2861.0229492187500, "2.86e+003"},
        {0.0, "0"},
        {-0.0, "-0"},
        {-1.125, "-1.13"},
        {0.0001234, "0.000123"},
        {0.00001234, "1.23e-005"},
        {0.1, "0.1"},         // 0.1000000000000000055...
        {2.675, "2.67"},      // 2.67499999999999982236431605997495353221893310546875
        {1e300, "1e+300"},
        {1.7976931348623157e308, "1.8e+308"},
        {4.9406564584124654e-324, "4.94e-324"},
        {123456789.0, "1.23e+008"},
    };
    for (const RealCase& c : cases)
        EXPECT_EQ(Grouped("%.3g", c.value), c.expected) << c.value;
}

TEST(FormatGroupedTest, OtherPrecisions)
{
    EXPECT_EQ(Grouped("%g", 1234567.0), "1.23457e+006");
    EXPECT_EQ(Grouped("%g", 123456.0), "123,456");
    EXPECT_EQ(Grouped("%.1g", 0.25), "0.3");
    EXPECT_EQ(Grouped("%.0g", 2.5), "3");
    EXPECT_EQ(Grouped("%.17g", 0.1), "0.10000000000000001");
    EXPECT_EQ(Grouped("%.20g", 1.0), "1");
}

TEST(FormatGroupedTest, GroupingKeepsTheTail)
{
    const struct {
        const char* text;
        const char* expected;
    } cases[] = {
        {"1234", "1,234"},   {"123456", "123,456"}, {"-123456", "-123,456"}, {"-480", "-480"},
        {"1e+003", "1e+003"}, {"1.02e+003", "1.02e+003"}, {"1234.5", "1,234.5"},
        {"123", "123"},      {"123.5", "123.5"},    {"", ""},               {"1.2.3456", "1.2.3456"},
        {"1234.5678", "1,234.5678"}, {"+1234", "+1,234"},
    };
    for (const auto& c : cases) {
        char dest[64];
        GroupDigits(dest, sizeof dest, c.text);
        EXPECT_STREQ(dest, c.expected) << c.text;
    }
}

TEST(FormatGroupedTest, LiteralTextAroundTheConversion)
{
    EXPECT_EQ(Grouped("[%ld]", int32_t{5}), "[5]");
    EXPECT_EQ(Grouped("%lu%%", uint32_t{50}), "50%");
    // Grouping runs over the whole formatted text, as the caller asked for it.
    EXPECT_EQ(Grouped("%ld Byte", int32_t{1234}), "123,4 Byte");
}

TEST(FormatGroupedTest, RefusesFormatsThatDoNotSuitTheValue)
{
    EXPECT_EQ(Grouped("%lu", int32_t{1}), "");
    EXPECT_EQ(Grouped("%ld", uint32_t{1}), "");
    EXPECT_EQ(Grouped("%ld", 1.0), "");
    EXPECT_EQ(Grouped("%.3g", int32_t{1}), "");
    EXPECT_EQ(Grouped("%s", int32_t{1}), "");
    EXPECT_EQ(Grouped("%ld %ld", int32_t{1}), "");
    EXPECT_EQ(Grouped("no conversion", int32_t{1}), "");
    EXPECT_EQ(Grouped("%lld", int32_t{1}), "");
    EXPECT_EQ(Grouped("%.100g", 1.0), "");
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

// Every integer of a sweep agrees with the standard library's digits once grouped.
TEST(FormatGroupedTest, AgreesWithPrintfOnIntegers)
{
    for (int64_t v = -2147483648LL; v <= 2147483647LL; v += 104729 * 7 + 3) {
        char plain[32];
        std::snprintf(plain, sizeof plain, "%lld", static_cast<long long>(v));
        char expected[64];
        GroupDigits(expected, sizeof expected, plain);
        EXPECT_EQ(Grouped("%ld", static_cast<int32_t>(v)), expected);
    }
}

} // namespace
