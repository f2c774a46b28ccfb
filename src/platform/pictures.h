#pragma once
// Picture files: GIF and the other formats Qt reads.
#include <QImage>
#include <string>

namespace platform {

// The picture in the file, or a null image when the file is missing or unreadable.
QImage LoadPicture(const std::string& path);

}  // namespace platform
