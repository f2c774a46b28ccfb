// Reading numbers out of text and rounding them: any text gives a number (never NaN), blanks anywhere
// and anything after the number change nothing, numbers printed exactly read back exactly, and the
// rounding calls round halves to even and saturate instead of overflowing.
//
// Input: the first byte picks how the rest becomes text (UTF-8, or UTF-16 code units so that any
// QChar can appear); the same bytes also serve as doubles and integers to print and read back.
#include <QString>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>

#include "core/numbers.h"
#include "fuzz_support.h"

namespace {

bool Same(double a, double b) { return (std::isnan(a) && std::isnan(b)) || (a == b && std::signbit(a) == std::signbit(b)); }

std::string Shown(const QString& text) { return fuzz::Quoted(text.toStdString()); }

void CheckRounding(double v) {
    const double r = core::RoundHalfEven(v);
    if (!std::isfinite(v)) {
        FUZZ_CHECK(Same(r, v), "RoundHalfEven changed a non-finite value");
    } else {
        FUZZ_CHECK(r == std::floor(r) && std::fabs(r - v) <= 0.5, "RoundHalfEven(" + std::to_string(v) + ") is off");
        if (std::fabs(r - v) == 0.5) FUZZ_CHECK(std::fmod(r, 2.0) == 0, "a half not rounded to even");
    }

    const int32_t i32 = core::RoundToInt32(v);
    if (std::isnan(v)) {
        FUZZ_CHECK(i32 == 0, "NaN did not give 0");
    } else if (r >= 2147483647.0) {
        FUZZ_CHECK(i32 == std::numeric_limits<int32_t>::max(), "no saturation at the top");
    } else if (r <= -2147483648.0) {
        FUZZ_CHECK(i32 == std::numeric_limits<int32_t>::min(), "no saturation at the bottom");
    } else {
        FUZZ_CHECK(static_cast<double>(i32) == r, "RoundToInt32 differs from RoundHalfEven");
    }

    const int16_t i16 = core::RoundToInt16(v);
    const int32_t clamped = std::clamp<int32_t>(i32, std::numeric_limits<int16_t>::min(), std::numeric_limits<int16_t>::max());
    FUZZ_CHECK(i16 == clamped, "RoundToInt16 differs from RoundToInt32 brought into range");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const uint8_t mode = data[0];
    const char* rest = reinterpret_cast<const char*>(data + 1);
    const size_t restSize = size - 1;
    const QString text = (mode & 1) ? QString::fromUtf16(reinterpret_cast<const char16_t*>(rest), qsizetype(restSize / 2))
                                    : QString::fromUtf8(rest, qsizetype(restSize));

    const double v = core::LeadingNumber(text);
    FUZZ_CHECK(!std::isnan(v), "NaN from " + Shown(text));
    CheckRounding(v);

    // A blank anywhere is ignored.
    const qsizetype at = text.isEmpty() ? 0 : qsizetype((mode >> 1) % (text.size() + 1));
    static const char16_t kBlanks[] = {u' ', u'\t', u'\n'};
    const QString spaced = QString(text).insert(at, QChar(kBlanks[(mode >> 4) % 3]));
    FUZZ_CHECK(Same(core::LeadingNumber(spaced), v), Shown(spaced) + " reads differently from " + Shown(text));
    // So is whatever follows something that cannot continue a number.
    FUZZ_CHECK(Same(core::LeadingNumber(text + u'#'), v), Shown(text) + " followed by # reads differently");

    if (restSize >= sizeof(double)) {
        double d;
        std::memcpy(&d, rest, sizeof d);
        CheckRounding(d);
        if (std::isfinite(d)) {
            char digits[40];
            std::snprintf(digits, sizeof digits, "%.17g", d);  // "-0" keeps its sign, unlike Qt's printing
            const QString printed = QString::fromLatin1(digits);
            FUZZ_CHECK(Same(core::LeadingNumber(printed), d), Shown(printed) + " does not read back exactly");
        }
        uint64_t u;
        std::memcpy(&u, rest, sizeof u);
        u &= (uint64_t{1} << 53) - 1;  // exact as a double
        const QString hex = QStringLiteral("&H") + QString::number(u, 16);
        const QString octal = QStringLiteral("&o") + QString::number(u, 8);
        FUZZ_CHECK(core::LeadingNumber(hex) == double(u), Shown(hex) + " does not read back exactly");
        FUZZ_CHECK(core::LeadingNumber(octal) == double(u), Shown(octal) + " does not read back exactly");
        FUZZ_CHECK(core::LeadingNumber(QString::number(qlonglong(u))) == double(u), "a whole number does not read back");
    }
    return 0;
}
