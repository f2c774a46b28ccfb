// qorvel.ini, read from the current folder into the program's server values: any file content gives
// values of at most 100 characters, whole ones, on one line; and writing them back and reading
// again gives the same values.
//
// Input: the file's bytes. The target works in a scratch folder of its own, entered once.
#include <QList>
#include <QString>

#include "core/program.h"
#include "fuzz_support.h"
#include "settings/server_file.h"

namespace {

struct Values {
    QString smtp, pop3, mail;
    int16_t apop;
    bool operator==(const Values&) const = default;
};

Values Current() { return {prog::SmtpServer, prog::Pop3Server, prog::MailAddress, prog::ApopFlag}; }

void CheckValue(const QString& value, const char* name, const std::string& content) {
    const std::string where = std::string(name) + " read from " + fuzz::Quoted(content);
    FUZZ_CHECK(value.toUcs4().size() <= 100, "more than 100 characters in " + where);
    FUZZ_CHECK(!value.contains(u'\r') && !value.contains(u'\n'), "line end in " + where);
    FUZZ_CHECK(value.isEmpty() || !value.back().isHighSurrogate(), "half a character at the end of " + where);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    if (chdir(fuzz::ScratchFolder().c_str()) != 0) {
        std::perror("chdir");
        std::abort();
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string content(reinterpret_cast<const char*>(data), size);
    fuzz::WriteBytes("qorvel.ini", content);
    prog::ResetProgramValues();
    ReadServerFile();
    const Values read = Current();
    CheckValue(read.smtp, "SMTP", content);
    CheckValue(read.pop3, "POP3", content);
    CheckValue(read.mail, "MAIL", content);

    WriteServerFile();
    prog::ResetProgramValues();
    ReadServerFile();
    FUZZ_CHECK(Current() == read, "values changed by writing them back: POP3 " +
                                      fuzz::Quoted(read.pop3.toStdString()) + " now " +
                                      fuzz::Quoted(prog::Pop3Server.toStdString()) + ", from " + fuzz::Quoted(content));
    return 0;
}
