#include "format_grouped.h"

#include <cmath>
#include <cstring>

namespace {

enum ConversionKind {
    CONVERSION_NONE,
    CONVERSION_SIGNED,     // %ld %d %li %i
    CONVERSION_UNSIGNED,   // %lu %u
    CONVERSION_UNSIGNED64, // %llu
    CONVERSION_GENERAL,    // %.Pg
};

struct Conversion {
    int kind;          // ConversionKind
    int precision;     // significant digits for CONVERSION_GENERAL
    size_t start;      // offset of the '%' in the format
    size_t end;        // offset just behind the conversion character
};

// Finds the one conversion in `format`. False when there is none, more than one, or one that
// this formatter does not know.
bool ParseConversion(const char* format, Conversion* conversion)
{
    conversion->kind = CONVERSION_NONE;
    conversion->precision = 0;
    conversion->start = 0;
    conversion->end = 0;
    for (size_t i = 0; format[i] != '\0'; ++i) {
        if (format[i] != '%')
            continue;
        if (format[i + 1] == '%') {
            ++i;
            continue;
        }
        if (conversion->kind != CONVERSION_NONE)
            return false;
        size_t at = i + 1;
        int precision = -1;
        if (format[at] == '.') {
            ++at;
            precision = 0;
            while (format[at] >= '0' && format[at] <= '9') {
                precision = precision * 10 + (format[at] - '0');
                if (precision > 99)
                    return false;
                ++at;
            }
        }
        bool isLong = format[at] == 'l';
        if (isLong)
            ++at;
        bool isLongLong = isLong && format[at] == 'l';
        if (isLongLong)
            ++at;
        char type = format[at];
        if (isLongLong && (type != 'u' || precision >= 0))
            return false;
        if ((type == 'd' || type == 'i') && precision < 0)
            conversion->kind = CONVERSION_SIGNED;
        else if (type == 'u' && precision < 0)
            conversion->kind = isLongLong ? CONVERSION_UNSIGNED64 : CONVERSION_UNSIGNED;
        else if (type == 'g' && !isLong)
            conversion->kind = CONVERSION_GENERAL;
        else
            return false;
        conversion->precision = precision < 0 ? 6 : (precision == 0 ? 1 : precision);
        conversion->start = i;
        conversion->end = at + 1;
        i = at;
    }
    return conversion->kind != CONVERSION_NONE;
}

// A bounded text under construction; `failed` once anything did not fit.
struct TextBuilder {
    char* text;
    size_t capacity;
    size_t length;
    bool failed;
};

void AppendByte(TextBuilder* builder, char byte)
{
    if (builder->length + 1 >= builder->capacity) {
        builder->failed = true;
        return;
    }
    builder->text[builder->length++] = byte;
    builder->text[builder->length] = '\0';
}

void AppendDigits(TextBuilder* builder, const unsigned char* digits, int count)
{
    for (int i = 0; i < count; ++i)
        AppendByte(builder, static_cast<char>('0' + digits[i]));
}

void AppendUnsigned(TextBuilder* builder, uint64_t value)
{
    unsigned char digits[20];
    int count = 0;
    do {
        digits[19 - count] = static_cast<unsigned char>(value % 10);
        value /= 10;
        ++count;
    } while (value != 0);
    AppendDigits(builder, digits + 20 - count, count);
}

void AppendSigned(TextBuilder* builder, int32_t value)
{
    uint32_t magnitude = static_cast<uint32_t>(value);
    if (value < 0) {
        AppendByte(builder, '-');
        magnitude = 0u - magnitude;
    }
    AppendUnsigned(builder, magnitude);
}

// The exact decimal expansion of a finite double's magnitude: value = digits x 10^power10, the
// digits least significant first. 2^-1074 needs 751 significant digits plus the mantissa's 16.
enum {
    EXACT_DIGITS_MAX = 800,
};

struct ExactDecimal {
    unsigned char digits[EXACT_DIGITS_MAX];
    int count;
    int power10;
};

void MultiplySmall(ExactDecimal* number, uint32_t factor)
{
    uint64_t carry = 0;
    for (int i = 0; i < number->count; ++i) {
        uint64_t product = static_cast<uint64_t>(number->digits[i]) * factor + carry;
        number->digits[i] = static_cast<unsigned char>(product % 10);
        carry = product / 10;
    }
    while (carry != 0 && number->count < EXACT_DIGITS_MAX) {
        number->digits[number->count++] = static_cast<unsigned char>(carry % 10);
        carry /= 10;
    }
}

void ExpandExactly(double magnitude, ExactDecimal* number)
{
    uint64_t bits;
    std::memcpy(&bits, &magnitude, sizeof bits);
    int biased = static_cast<int>((bits >> 52) & 0x7FF);
    uint64_t mantissa = bits & ((uint64_t{1} << 52) - 1);
    int exponent2 = -1074;
    if (biased != 0) {
        mantissa |= uint64_t{1} << 52;
        exponent2 = biased - 1075;
    }
    while (mantissa != 0 && (mantissa & 1) == 0 && exponent2 < 0) {
        mantissa >>= 1;
        ++exponent2;
    }
    number->count = 0;
    number->power10 = 0;
    do {
        number->digits[number->count++] = static_cast<unsigned char>(mantissa % 10);
        mantissa /= 10;
    } while (mantissa != 0);
    // m x 2^e: for e < 0 it is m x 5^-e x 10^e. Factors are taken in large steps for speed.
    for (int left = exponent2; left > 0; left -= 28)
        MultiplySmall(number, uint32_t{1} << (left < 28 ? left : 28));
    if (exponent2 < 0) {
        for (int left = -exponent2; left > 0; left -= 12) {
            uint32_t factor = 1;
            for (int i = 0; i < (left < 12 ? left : 12); ++i)
                factor *= 5;
            MultiplySmall(number, factor);
        }
        number->power10 = exponent2;
    }
}

// The general ("g") conversion of a double, rounded on its exact decimal value.
void AppendGeneral(TextBuilder* builder, double value, int precision)
{
    if (value != value) {
        AppendByte(builder, 'n');
        AppendByte(builder, 'a');
        AppendByte(builder, 'n');
        return;
    }
    if (std::signbit(value))
        AppendByte(builder, '-');
    double magnitude = value < 0 ? -value : value;
    if (magnitude > 1.7976931348623157e308) {
        AppendByte(builder, 'i');
        AppendByte(builder, 'n');
        AppendByte(builder, 'f');
        return;
    }
    unsigned char rounded[100] = {}; // most significant first, `precision` digits
    int exponent10 = 0;              // value ~ rounded[0].rounded[1].. x 10^exponent10
    if (magnitude != 0) {
        ExactDecimal number;
        ExpandExactly(magnitude, &number);
        while (number.count > 1 && number.digits[number.count - 1] == 0)
            --number.count;
        exponent10 = number.count - 1 + number.power10;
        for (int i = 0; i < precision && i < number.count; ++i)
            rounded[i] = number.digits[number.count - 1 - i];
        // The digits behind the kept ones are at least one half exactly when the next is 5..9.
        if (precision < number.count && number.digits[number.count - 1 - precision] >= 5) {
            int i = precision - 1;
            while (i >= 0 && rounded[i] == 9)
                rounded[i--] = 0;
            if (i >= 0) {
                ++rounded[i];
            } else {
                rounded[0] = 1;
                ++exponent10;
            }
        }
    }
    int kept = precision;
    if (exponent10 < -4 || exponent10 >= precision) {
        while (kept > 1 && rounded[kept - 1] == 0)
            --kept;
        AppendDigits(builder, rounded, 1);
        if (kept > 1) {
            AppendByte(builder, '.');
            AppendDigits(builder, rounded + 1, kept - 1);
        }
        AppendByte(builder, 'e');
        AppendByte(builder, exponent10 < 0 ? '-' : '+');
        int power = exponent10 < 0 ? -exponent10 : exponent10;
        if (power < 100)
            AppendByte(builder, '0');
        if (power < 10)
            AppendByte(builder, '0');
        AppendUnsigned(builder, static_cast<uint32_t>(power));
        return;
    }
    int integerDigits = exponent10 >= 0 ? exponent10 + 1 : 0;
    while (kept > integerDigits && rounded[kept - 1] == 0)
        --kept;
    if (integerDigits == 0)
        AppendByte(builder, '0');
    else
        AppendDigits(builder, rounded, integerDigits);
    if (kept > integerDigits) {
        AppendByte(builder, '.');
        for (int i = exponent10 + 1; i < 0; ++i)
            AppendByte(builder, '0');
        AppendDigits(builder, rounded + integerDigits, kept - integerDigits);
    }
}

struct Value {
    int kind; // ConversionKind
    int32_t signedValue;
    uint64_t unsignedValue; // of either unsigned kind
    double realValue;
};

void AppendLiteral(TextBuilder* builder, const char* format, size_t from, size_t to)
{
    for (size_t i = from; i < to; ++i) {
        AppendByte(builder, format[i]);
        if (format[i] == '%')
            ++i; // "%%"
    }
}

void FormatValue(char* dest, size_t capacity, const char* format, const Value& value)
{
    if (dest == nullptr || capacity == 0)
        return;
    dest[0] = '\0';
    Conversion conversion;
    if (format == nullptr || !ParseConversion(format, &conversion) ||
        conversion.kind != value.kind)
        return;
    char work[FORMAT_GROUPED_WORK_SIZE];
    TextBuilder builder = {work, sizeof work, 0, false};
    work[0] = '\0';
    AppendLiteral(&builder, format, 0, conversion.start);
    if (value.kind == CONVERSION_SIGNED)
        AppendSigned(&builder, value.signedValue);
    else if (value.kind == CONVERSION_UNSIGNED || value.kind == CONVERSION_UNSIGNED64)
        AppendUnsigned(&builder, value.unsignedValue);
    else
        AppendGeneral(&builder, value.realValue, conversion.precision);
    AppendLiteral(&builder, format, conversion.end, std::strlen(format));
    if (!builder.failed)
        GroupDigits(dest, capacity, work);
}

bool IsDigit(char byte)
{
    return byte >= '0' && byte <= '9';
}

} // namespace

void GroupDigits(char* dest, size_t capacity, const char* text)
{
    if (dest == nullptr || capacity == 0)
        return;
    dest[0] = '\0';
    size_t length = std::strlen(text);
    if (length >= FORMAT_GROUPED_WORK_SIZE)
        return;
    const char* point = std::strrchr(text, '.');
    size_t head = point != nullptr ? static_cast<size_t>(point - text) : length;
    // Cut points every three bytes from the right of the head, never at its start; a comma only
    // where a digit stands in front of the cut ("-123,456", "1e+003").
    char grouped[FORMAT_GROUPED_WORK_SIZE];
    TextBuilder builder = {grouped, sizeof grouped, 0, false};
    grouped[0] = '\0';
    for (size_t i = 0; i < head; ++i) {
        if (i > 0 && (head - i) % 3 == 0 && IsDigit(text[i - 1]))
            AppendByte(&builder, ',');
        AppendByte(&builder, text[i]);
    }
    for (size_t i = head; i < length; ++i)
        AppendByte(&builder, text[i]);
    if (builder.failed || builder.length >= capacity)
        return;
    std::memcpy(dest, grouped, builder.length + 1);
}

void FormatGrouped(char* dest, size_t capacity, const char* format, int32_t value)
{
    Value typed = {CONVERSION_SIGNED, value, 0, 0.0};
    FormatValue(dest, capacity, format, typed);
}

void FormatGrouped(char* dest, size_t capacity, const char* format, uint32_t value)
{
    Value typed = {CONVERSION_UNSIGNED, 0, value, 0.0};
    FormatValue(dest, capacity, format, typed);
}

void FormatGrouped(char* dest, size_t capacity, const char* format, uint64_t value)
{
    Value typed = {CONVERSION_UNSIGNED64, 0, value, 0.0};
    FormatValue(dest, capacity, format, typed);
}

void FormatGrouped(char* dest, size_t capacity, const char* format, double value)
{
    Value typed = {CONVERSION_GENERAL, 0, 0, value};
    FormatValue(dest, capacity, format, typed);
}
