#include "support/temp_folder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace testsupport {

TempFolder::TempFolder() : dir_(QDir::tempPath() + "/vellumine-test-XXXXXX") {}

void TempFolder::write(const QString& name, const QByteArray& bytes) const {
    QFile f(file(name));
    QDir().mkpath(QFileInfo(f).absolutePath());
    f.open(QIODevice::WriteOnly | QIODevice::Truncate);
    f.write(bytes);
}

QByteArray TempFolder::read(const QString& name) const {
    QFile f(file(name));
    if (!f.open(QIODevice::ReadOnly)) return {};
    return f.readAll();
}

bool TempFolder::exists(const QString& name) const { return QFileInfo::exists(file(name)); }

}  // namespace testsupport
