#include "memops/FieldChecks.h"

#include <cctype>
#include <limits>

#include "streams/MessageStreams.h"

using streams::msgout;

namespace memops {

namespace {
enum class Parsed { Ok, NotANumber, TooLarge };

Parsed ParseDecimal(const std::string& text, IntegerKind kind, long long& out) {
    size_t b = 0, e = text.size();
    while (b < e && std::isspace(static_cast<unsigned char>(text[b])))
        ++b;
    while (e > b && std::isspace(static_cast<unsigned char>(text[e - 1])))
        --e;
    bool negative = false;
    if (b < e && (text[b] == '+' || (kind == IntegerKind::Signed && text[b] == '-'))) {
        negative = text[b] == '-';
        ++b;
    }
    if (b == e)
        return Parsed::NotANumber;
    // Accumulated as unsigned so that any digit string is read without overflow; a value
    // beyond the type is out of every range.
    unsigned long long v = 0;
    bool huge = false;
    constexpr unsigned long long kLimit = std::numeric_limits<long long>::max();
    for (size_t i = b; i < e; ++i) {
        if (!std::isdigit(static_cast<unsigned char>(text[i])))
            return Parsed::NotANumber;
        if (!huge) {
            v = v * 10 + static_cast<unsigned>(text[i] - '0');
            huge = v > kLimit;
        }
    }
    if (huge)
        return Parsed::TooLarge;
    out = negative ? -static_cast<long long>(v) : static_cast<long long>(v);
    return Parsed::Ok;
}

void RangeMessage(long long min, long long max) {
    msgout() << std::dec << "Please enter an integer between " << min << " and " << max << ".\n";
}
}  // namespace

bool CheckIntegerRange(long long value, long long min, long long max) {
    if (value >= min && value <= max)
        return true;
    RangeMessage(min, max);
    return false;
}

bool CheckIntegerField(const std::string& text, IntegerKind kind, long long min, long long max,
                       long long& value) {
    long long v = 0;
    const Parsed parsed = ParseDecimal(text, kind, v);
    if (parsed == Parsed::NotANumber) {
        msgout() << (kind == IntegerKind::Signed ? "Please enter an integer.\n"
                                                 : "Please enter a positive integer.\n");
        return false;
    }
    if (parsed == Parsed::TooLarge) {
        RangeMessage(min, max);
        return false;
    }
    if (!CheckIntegerRange(v, min, max))
        return false;
    value = v;
    return true;
}

}  // namespace memops
