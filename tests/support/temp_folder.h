#pragma once
// A scratch folder for one test, removed afterwards, with helpers to read and write whole files.
#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

namespace testsupport {

class TempFolder {
public:
    TempFolder();
    QString path() const { return dir_.path(); }
    QString file(const QString& name) const { return dir_.path() + "/" + name; }
    std::string fileUtf8(const QString& name) const { return file(name).toStdString(); }
    void write(const QString& name, const QByteArray& bytes) const;
    QByteArray read(const QString& name) const;
    bool exists(const QString& name) const;

private:
    QTemporaryDir dir_;
};

}  // namespace testsupport
