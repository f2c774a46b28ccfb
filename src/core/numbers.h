#pragma once
// Number reading and rounding shared by the clock, the settings and the mail schedule.
#include <QString>
#include <cstdint>

namespace core {

// The number a text begins with: blanks, tabs and line feeds anywhere are ignored; then an optional
// sign, digits with at most one "." and an optional exponent, or &H / &O with hex or octal digits.
// Reading stops at the first character that does not fit; no number gives 0.
double LeadingNumber(const QString& text);

// Nearest integer, halves to the even neighbour (1.5 -> 2, 2.5 -> 2, -0.5 -> 0).
double RoundHalfEven(double v);
// The same, brought into a 32-bit signed integer (saturating at its ends; NaN gives 0).
int32_t RoundToInt32(double v);
// The same, brought into a 16-bit signed integer (saturating at its ends; NaN gives 0).
int16_t RoundToInt16(double v);

// Plain decimal text of a whole number ("0", "12", "-5").
QString DecimalText(int64_t v);

}  // namespace core
