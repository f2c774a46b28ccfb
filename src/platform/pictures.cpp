#include "platform/pictures.h"

#include <QImageReader>
#include <sys/stat.h>

namespace platform {

QImage LoadPicture(const std::string& path) {
    QImageReader reader(QString::fromStdString(path));
    reader.setDecideFormatFromContent(true);
    QImage img = reader.read();
    if (img.isNull()) return {};
    // One pixel format for every picture, so colour reads compare alike.
    return img.convertToFormat(QImage::Format_RGB32);
}

std::optional<FileStamp> StampOf(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return std::nullopt;
    return FileStamp{uint64_t(st.st_dev), uint64_t(st.st_ino), uint64_t(st.st_size),
                     int64_t(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec,
                     int64_t(st.st_ctim.tv_sec) * 1000000000 + st.st_ctim.tv_nsec};
}

}  // namespace platform
