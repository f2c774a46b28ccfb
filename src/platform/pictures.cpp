#include "platform/pictures.h"

#include <QImageReader>

namespace platform {

QImage LoadPicture(const std::string& path) {
    QImageReader reader(QString::fromStdString(path));
    reader.setDecideFormatFromContent(true);
    QImage img = reader.read();
    if (img.isNull()) return {};
    // One pixel format for every picture, so colour reads compare alike.
    return img.convertToFormat(QImage::Format_RGB32);
}

}  // namespace platform
