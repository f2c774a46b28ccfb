#pragma once
// Helpers shared by the artwork tests: where the built files are, and a little colour arithmetic.
#include <QImage>
#include <QString>

#include <cmath>

namespace artchecks {

inline QString pictureFile(const QString& name) {
    return QStringLiteral(VELLUMINE_PROGRAM_DIR) + QStringLiteral("/画像データ/") + name;
}

inline QString soundFile(const QString& name) {
    return QStringLiteral(VELLUMINE_PROGRAM_DIR) + QStringLiteral("/Sound/") + name;
}

// Decoded as 32-bit so that pixels compare as plain QRgb values.
inline QImage load(const QString& path) {
    QImage image(path);
    return image.isNull() ? image : image.convertToFormat(QImage::Format_ARGB32);
}

// WCAG relative luminance and contrast ratio: a ratio of 4.5 or more reads comfortably.
inline double relativeLuminance(QRgb c) {
    auto channel = [](int v) {
        const double s = v / 255.0;
        return s <= 0.03928 ? s / 12.92 : std::pow((s + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * channel(qRed(c)) + 0.7152 * channel(qGreen(c)) + 0.0722 * channel(qBlue(c));
}

inline double contrastRatio(QRgb a, QRgb b) {
    const double la = relativeLuminance(a), lb = relativeLuminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

inline double colourDistance(QRgb a, QRgb b) {
    const double dr = qRed(a) - qRed(b), dg = qGreen(a) - qGreen(b), db = qBlue(a) - qBlue(b);
    return std::sqrt(dr * dr + dg * dg + db * db);
}

}  // namespace artchecks
