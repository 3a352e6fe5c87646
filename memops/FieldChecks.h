#pragma once
// The checks a dialog's integer edit fields get: the texts the desktop framework shows for a
// field that is not a number or is out of range, written to the message stream.

#include <string>

namespace memops {

enum class IntegerKind {
    Signed,    // "Please enter an integer."
    Unsigned,  // "Please enter a positive integer."
};

// A value already read: "Please enter an integer between <min> and <max>." when outside.
bool CheckIntegerRange(long long value, long long min, long long max);

// Reads text (white space around it allowed) as a decimal integer of the kind from min to max.
// On failure writes the kind's text, or "Please enter an integer between <min> and <max>.",
// and leaves value as it was.
bool CheckIntegerField(const std::string& text, IntegerKind kind, long long min, long long max,
                       long long& value);

}  // namespace memops
