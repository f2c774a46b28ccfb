#pragma once
// Picture files: GIF and the other formats Qt reads.
#include <QImage>
#include <cstdint>
#include <optional>
#include <string>

namespace platform {

// The picture in the file, or a null image when the file is missing or unreadable.
QImage LoadPicture(const std::string& path);

// What tells a file's present content from an earlier one without reading it: which file it is, its
// size and when it last changed. None when there is no such file.
struct FileStamp {
    uint64_t device, inode, size;
    int64_t modifiedNs, changedNs;
    bool operator==(const FileStamp&) const = default;
};
std::optional<FileStamp> StampOf(const std::string& path);

}  // namespace platform
