#include "core/numbers.h"

#include <algorithm>
#include <locale.h>
#include <stdlib.h>
#include <cmath>
#include <limits>
#include <string>

namespace core {

namespace {

bool IsBlank(QChar c) { return c == u' ' || c == u'\t' || c == u'\n'; }

}  // namespace

double LeadingNumber(const QString& text) {
    // Blanks count nowhere, so drop them first: "1 2" reads as 12.
    QString s;
    s.reserve(text.size());
    for (QChar c : text)
        if (!IsBlank(c)) s.append(c);

    int i = 0;
    const int n = int(s.size());
    auto at = [&](int k) -> QChar { return k < n ? s[k] : QChar(); };

    if (at(0) == u'&') {
        const QChar p = at(1).toUpper();
        int base = p == u'H' ? 16 : p == u'O' ? 8 : 0;
        if (base == 0) return 0;
        double v = 0;
        for (i = 2; i < n; ++i) {
            const int d = s[i].isDigit() ? s[i].digitValue()
                          : (base == 16 && s[i].toUpper() >= u'A' && s[i].toUpper() <= u'F')
                              ? s[i].toUpper().unicode() - u'A' + 10
                              : -1;
            if (d < 0 || d >= base) break;
            v = v * base + d;
        }
        // Hundreds of digits overflow: stay finite, as the decimal path does.
        return std::isfinite(v) ? v : std::numeric_limits<double>::max();
    }

    std::string num;
    if (at(i) == u'+' || at(i) == u'-') num += char(s[i++].unicode());
    bool digits = false, point = false;
    for (; i < n; ++i) {
        const QChar c = s[i];
        if (c >= u'0' && c <= u'9') {
            num += char(c.unicode());
            digits = true;
        } else if (c == u'.' && !point) {
            num += '.';
            point = true;
        } else {
            break;
        }
    }
    if (!digits) return 0;
    if (at(i) == u'E' || at(i) == u'e') {
        int j = i + 1;
        std::string exp = "e";
        if (at(j) == u'+' || at(j) == u'-') exp += char(s[j++].unicode());
        bool expDigits = false;
        for (; j < n && s[j] >= u'0' && s[j] <= u'9'; ++j) {
            exp += char(s[j].unicode());
            expDigits = true;
        }
        if (expDigits) num += exp;
    }
    // Parsed in the "C" locale: the point is "." whatever the user's locale says.
    static const locale_t cLocale = newlocale(LC_ALL_MASK, "C", locale_t(nullptr));
    const double v = strtod_l(num.c_str(), nullptr, cLocale);
    return std::isfinite(v) ? v : (v > 0 ? std::numeric_limits<double>::max() : -std::numeric_limits<double>::max());
}

double RoundHalfEven(double v) {
    if (!std::isfinite(v)) return v;
    return std::nearbyint(v);  // the default rounding mode is to nearest, ties to even
}

int32_t RoundToInt32(double v) {
    if (std::isnan(v)) return 0;
    const double r = RoundHalfEven(v);
    if (r >= 2147483647.0) return std::numeric_limits<int32_t>::max();
    if (r <= -2147483648.0) return std::numeric_limits<int32_t>::min();
    return int32_t(r);
}

int16_t RoundToInt16(double v) {
    const int32_t r = RoundToInt32(v);
    return int16_t(std::clamp<int32_t>(r, std::numeric_limits<int16_t>::min(), std::numeric_limits<int16_t>::max()));
}

QString DecimalText(int64_t v) { return QString::number(v); }

}  // namespace core
