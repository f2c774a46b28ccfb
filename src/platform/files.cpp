#include "platform/files.h"

#include <QFileDialog>
#include <cstring>

namespace platform {

namespace {
std::function<std::optional<std::string>()> g_dialogHook;

// Bytes of text that fit into n bytes without splitting a UTF-8 character.
size_t WholeCharacters(const std::string& s, size_t n) {
    if (s.size() <= n) return s.size();
    while (n > 0 && (static_cast<unsigned char>(s[n]) & 0xC0) == 0x80) --n;
    return n;
}
}  // namespace

int32_t GetFileTitleA(const std::string& path, char* buffer, uint16_t size) {
    const size_t slash = path.find_last_of('/');
    const std::string title = slash == std::string::npos ? path : path.substr(slash + 1);
    if (title.empty()) return -1;
    if (!buffer || size == 0) return int32_t(title.size() + 1);
    if (title.size() + 1 > size) {
        const size_t n = WholeCharacters(title, size_t(size) - 1);
        std::memcpy(buffer, title.data(), n);
        buffer[n] = '\0';
        return int32_t(title.size() + 1);
    }
    std::memcpy(buffer, title.data(), title.size());
    buffer[title.size()] = '\0';
    return 0;
}

std::optional<std::string> ShowOpenFileDialog(HWND owner) {
    if (g_dialogHook) return g_dialogHook();
    QFileDialog dialog(owner);
    dialog.setFileMode(QFileDialog::ExistingFile);
    MakeOwned(&dialog);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
    const QString chosen = dialog.selectedFiles().constFirst();
    if (chosen.isEmpty()) return std::nullopt;
    return chosen.toStdString();
}

void SetOpenFileDialogHook(std::function<std::optional<std::string>()> hook) { g_dialogHook = std::move(hook); }

}  // namespace platform
