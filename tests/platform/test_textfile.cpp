#include "platform/textfile.h"

#include <QDir>
#include <gtest/gtest.h>
#include <sys/stat.h>
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
