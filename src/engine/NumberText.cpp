#include "engine/NumberText.h"

#include <string>

namespace tollavar {

namespace {

bool isBlank(char c)
{
    return c == ' ' || c == '\t';
}

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

// The parts of a numeric text: sign, the significant digits, and the power of ten that the last digit
// stands for.
struct Decimal
{
    bool negative = false;
    std::string digits;
    long long exponent = 0;
};

std::optional<Decimal> parseDecimal(std::string_view s)
{
    size_t i = 0;
    size_t end = s.size();
    while (i < end && isBlank(s[i]))
        ++i;
    while (end > i && isBlank(s[end - 1]))
        --end;
    Decimal d;
    if (i < end && (s[i] == '+' || s[i] == '-'))
        d.negative = s[i++] == '-';
    bool anyDigit = false;
    while (i < end && isDigit(s[i])) {
        d.digits.push_back(s[i++]);
        anyDigit = true;
    }
    if (i < end && s[i] == '.') {
        ++i;
        while (i < end && isDigit(s[i])) {
            d.digits.push_back(s[i++]);
            --d.exponent;
            anyDigit = true;
        }
    }
    if (!anyDigit)
        return std::nullopt;
    if (i < end && (s[i] == 'e' || s[i] == 'E')) {
        ++i;
        bool negativeExponent = false;
        if (i < end && (s[i] == '+' || s[i] == '-'))
            negativeExponent = s[i++] == '-';
        if (i >= end || !isDigit(s[i]))
            return std::nullopt;
        long long e = 0;
        while (i < end && isDigit(s[i])) {
            if (e < 100000)
                e = e * 10 + (s[i] - '0');
            ++i;
        }
        d.exponent += negativeExponent ? -e : e;
    }
    if (i != end)
        return std::nullopt;
    return d;
}

} // namespace

bool isNumeric(std::string_view text)
{
    return parseDecimal(text).has_value();
}

std::optional<long long> parseRoundedInteger(std::string_view text, long long min, long long max)
{
    auto parsed = parseDecimal(text);
    if (!parsed)
        return std::nullopt;
    Decimal& d = *parsed;
    // Drop leading zeros so the length of the whole part says how large the number is.
    size_t firstNonZero = d.digits.find_first_not_of('0');
    if (firstNonZero == std::string::npos)
        return 0;
    d.digits.erase(0, firstNonZero);
    const long long total = static_cast<long long>(d.digits.size());
    const long long wholeDigits = total + d.exponent; // digits before the decimal point
    if (wholeDigits > 19)
        return std::nullopt;
    unsigned long long whole = 0;
    for (long long k = 0; k < wholeDigits; ++k)
        whole = whole * 10 + static_cast<unsigned long long>(k < total ? d.digits[static_cast<size_t>(k)] - '0' : 0);
    // The fraction decides the rounding: above a half rounds up, a half exactly goes to the even one.
    int firstFraction = 0;
    bool restNonZero = false;
    for (long long k = std::max<long long>(wholeDigits, 0); k < total; ++k) {
        int digit = d.digits[static_cast<size_t>(k)] - '0';
        if (k == wholeDigits)
            firstFraction = digit;
        else if (digit != 0)
            restNonZero = true;
    }
    if (wholeDigits < 0) { // the first fraction digit is a zero that was never written
        firstFraction = 0;
        restNonZero = true;
    }
    if (firstFraction > 5 || (firstFraction == 5 && (restNonZero || (whole & 1))))
        ++whole;
    if (whole > 9223372036854775807ULL)
        return std::nullopt;
    long long value = d.negative ? -static_cast<long long>(whole) : static_cast<long long>(whole);
    if (value < min || value > max)
        return std::nullopt;
    return value;
}

} // namespace tollavar
