#include "platform/textfile.h"

#include <QDir>
#include <gtest/gtest.h>
#include <cerrno>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "support/temp_folder.h"

using namespace platform;
using Lines = std::vector<std::string>;

namespace {

mode_t ModeOf(const std::string& path) {
    struct stat st {};
    EXPECT_EQ(stat(path.c_str(), &st), 0) << path;
    return st.st_mode & 07777;
}

QStringList Entries(const testsupport::TempFolder& t) {
    return QDir(t.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
}

}  // namespace

TEST(TextFile, ReadTextLinesSplitsOnEveryLineEnd) {
    testsupport::TempFolder t;
    const std::vector<std::pair<QByteArray, Lines>> cases = {
        {"a\r\nb\nc\rd", {"a", "b", "c", "d"}}, {"a\r\n", {"a"}},          {"a\n\n", {"a", ""}},
        {"\r\r\n", {"", ""}},                   {"", {}},                   {"\xEF\xBB\xBFx\n", {"x"}},
        {"\x96\xA2\x90\xDD\x92\xE8\r\n", {"未設定"}},
        {"未設定\n\x96\xA2\x90\xDD\x92\xE8", {"未設定", "未設定"}}};  // each line in its own encoding
    for (const auto& [bytes, expected] : cases) {
        t.write("f.txt", bytes);
        EXPECT_EQ(ReadTextLines(t.fileUtf8("f.txt")), std::optional<Lines>(expected)) << bytes.toHex().data();
    }
    EXPECT_EQ(ReadTextLines(t.fileUtf8("missing.txt")), std::nullopt);
    EXPECT_EQ(ReadTextLines(t.path().toStdString()), std::nullopt);
    EXPECT_TRUE(FileExists(t.fileUtf8("f.txt")));
    EXPECT_FALSE(FileExists(t.path().toStdString()));
    EXPECT_FALSE(FileExists(t.fileUtf8("missing.txt")));
}

TEST(TextFile, DecodeLegacyTextKeepsUtf8AndDecodesTheRest) {
    EXPECT_EQ(DecodeLegacyText("未設定 C:\\x"), "未設定 C:\\x");
    EXPECT_EQ(DecodeLegacyText("\x96\xA2\x90\xDD\x92\xE8 C:\\x"), "未設定 C:\\x");
    EXPECT_EQ(DecodeLegacyText("A\x80" "B\x96"), "A\uFFFDB\uFFFD");  // undecodable, and cut at the end
    EXPECT_EQ(DecodeLegacyText("\x82\x20z"), "\uFFFD z");          // a bad pair loses only its first byte
    EXPECT_EQ(DecodeLegacyText("\xC0\xAF"), "ﾀｯ");                 // overlong UTF-8 is not UTF-8
    EXPECT_EQ(DecodeLegacyText("未設定\r\n\x96\xA2\x90\xDD\x92\xE8\r; caf\xE9"),  // each line by itself
              "未設定\r\n未設定\r; caf\uFFFD");
    EXPECT_FALSE(IsValidUtf8("\xF4\x90\x80\x80"));                 // past U+10FFFF
}

TEST(TextFile, WriteFileAtomicallyReplacesWithTheRightMode) {
    testsupport::TempFolder t;
    const std::string f = t.fileUtf8("a.ini");
    const mode_t mask = umask(022);
    umask(mask);

    ASSERT_TRUE(WriteFileAtomically(f, "one", FileAccess::Normal));
    EXPECT_EQ(ModeOf(f), 0666 & ~mask);
    ASSERT_EQ(chmod(f.c_str(), 0640), 0);
    ASSERT_EQ(link(f.c_str(), t.fileUtf8("old").c_str()), 0);
    ASSERT_TRUE(WriteFileAtomically(f, std::string_view("two\0", 4), FileAccess::Normal));
    EXPECT_EQ(t.read("a.ini"), QByteArray("two\0", 4));
    EXPECT_EQ(t.read("old"), "one");  // replaced by a new file, never rewritten in place
    EXPECT_EQ(ModeOf(f), 0640u);

    ASSERT_TRUE(WriteFileAtomically(f, "three", FileAccess::OwnerOnly));
    EXPECT_EQ(ModeOf(f), 0600u);
    ASSERT_TRUE(WriteFileAtomically(t.fileUtf8("new.ini"), "", FileAccess::OwnerOnly));
    EXPECT_EQ(ModeOf(t.fileUtf8("new.ini")), 0600u);

    ASSERT_EQ(symlink("a.ini", t.fileUtf8("link.ini").c_str()), 0);
    ASSERT_TRUE(WriteFileAtomically(t.fileUtf8("link.ini"), "four", FileAccess::Normal));
    EXPECT_EQ(t.read("a.ini"), "four");
    EXPECT_EQ(Entries(t), QStringList({"a.ini", "link.ini", "new.ini", "old"}));  // no temp files left
}

TEST(TextFile, WriteFileAtomicallyHonoursWriteProtection) {
    testsupport::TempFolder t;
    t.write("ro.ini", "keep");
    ASSERT_EQ(chmod(t.fileUtf8("ro.ini").c_str(), 0444), 0);
    EXPECT_FALSE(WriteFileAtomically(t.fileUtf8("ro.ini"), "x", FileAccess::Normal));
    EXPECT_EQ(t.read("ro.ini"), "keep");
    EXPECT_EQ(Entries(t), QStringList({"ro.ini"}));
}

// Root saving into a user's folder (sudo, a system service): the files stay the user's, the password
// file included, so that the user's own copy of the program can still read and replace them.
TEST(TextFile, WriteFileAtomicallyKeepsTheOwner) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to hand files to another user";
    testsupport::TempFolder t;
    constexpr uid_t kUser = 4321;
    constexpr gid_t kGroup = 4322;
    auto ownerOf = [&](const QString& name) {
        struct stat st {};
        EXPECT_EQ(stat(t.fileUtf8(name).c_str(), &st), 0) << name.toStdString();
        return std::pair<uid_t, gid_t>(st.st_uid, st.st_gid);
    };
    const std::pair<uid_t, gid_t> user(kUser, kGroup), root(0, getegid());
    for (const FileAccess access : {FileAccess::Normal, FileAccess::OwnerOnly}) {
        SCOPED_TRACE(int(access));
        t.write("a.ini", "old");
        ASSERT_EQ(chown(t.fileUtf8("a.ini").c_str(), kUser, kGroup), 0);
        ASSERT_EQ(chmod(t.fileUtf8("a.ini").c_str(), 0644), 0);
        ASSERT_TRUE(WriteFileAtomically(t.fileUtf8("a.ini"), "new", access));
        EXPECT_EQ(t.read("a.ini"), "new");
        EXPECT_EQ(ownerOf("a.ini"), user);
        EXPECT_EQ(ModeOf(t.fileUtf8("a.ini")), access == FileAccess::OwnerOnly ? 0600u : 0644u);
    }

    // New files: in the user's own folder they are the user's; in a folder others may write to as
    // well, and in root's, they are root's.
    ASSERT_EQ(mkdir(t.fileUtf8("home").c_str(), 0755), 0);
    ASSERT_EQ(chown(t.fileUtf8("home").c_str(), kUser, kGroup), 0);
    ASSERT_TRUE(WriteFileAtomically(t.fileUtf8("home/new.ini"), "x", FileAccess::OwnerOnly));
    EXPECT_EQ(ownerOf("home/new.ini"), user);
    ASSERT_EQ(chmod(t.fileUtf8("home").c_str(), 01777), 0);
    ASSERT_TRUE(WriteFileAtomically(t.fileUtf8("home/shared.ini"), "x", FileAccess::Normal));
    EXPECT_EQ(ownerOf("home/shared.ini"), root);
    ASSERT_TRUE(WriteFileAtomically(t.fileUtf8("mine.ini"), "x", FileAccess::Normal));
    EXPECT_EQ(ownerOf("mine.ini"), root);

    // A writer other than root may change a file of someone else's that it may write to, but cannot
    // give the replacement that owner: the file stays as it was rather than becoming the writer's.
    t.write("home/theirs.ini", "theirs");
    ASSERT_EQ(chmod(t.fileUtf8("home/theirs.ini").c_str(), 0666), 0);
    ASSERT_EQ(chown(t.fileUtf8("home/theirs.ini").c_str(), kUser, kGroup), 0);
    ASSERT_EQ(chmod(t.path().toUtf8().constData(), 0755), 0);  // so that the writer can reach it
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (setgid(kGroup + 10) != 0 || setuid(kUser + 10) != 0) _exit(2);
        errno = 0;
        const bool written = WriteFileAtomically(t.fileUtf8("home/theirs.ini"), "other's", FileAccess::Normal);
        _exit(!written && errno == EPERM ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
    EXPECT_EQ(t.read("home/theirs.ini"), "theirs");
    EXPECT_EQ(ownerOf("home/theirs.ini"), user);
    EXPECT_EQ(QDir(t.file("home")).entryList(QDir::Files | QDir::Hidden),
              QStringList({"new.ini", "shared.ini", "theirs.ini"}));
}
