#include "platform/profile.h"

#include <QDir>
#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <iconv.h>
#include <random>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "support/temp_folder.h"

using namespace platform;

namespace {

const std::string kUnset = "未設定";

std::string Bytes(const testsupport::TempFolder& t, const QString& name) { return t.read(name).toStdString(); }

// Reads through a guarded buffer and checks that the call keeps to the size it was given.
std::string Get(const std::string& file, const std::string& sec, const std::string& key,
                const std::string& def = "def", uint32_t size = 256) {
    std::vector<char> buf(size + 8, '#');
    uint32_t n = GetPrivateProfileStringA(sec, key, def, buf.data(), size, file);
    EXPECT_LT(n, std::max<uint32_t>(size, 1));
    EXPECT_EQ(buf[n], '\0');
    for (size_t i = size; i < buf.size(); ++i) EXPECT_EQ(buf[i], '#') << "written past the buffer";
    return std::string(buf.data(), n);
}

std::string ToCp932(const std::string& utf8) {
    iconv_t cd = iconv_open("CP932", "UTF-8");
    std::string out(utf8.size() * 2, '\0');
    char* in = const_cast<char*>(utf8.data());
    char* o = out.data();
    size_t inLeft = utf8.size(), outLeft = out.size();
    EXPECT_NE(iconv(cd, &in, &inLeft, &o, &outLeft), static_cast<size_t>(-1));
    iconv_close(cd);
    out.resize(out.size() - outLeft);
    return out;
}

}  // namespace

TEST(Profile, ReadsNamesValuesAndCommentsTheWindowsWay) {
    testsupport::TempFolder t;
    const std::vector<std::string> lines = {
        "Orphan=before any section", "  [ exeini ]  ", "  Number = 42A  ", "NAME=\"quoted\"", "single='x'",
        "lone=\"", ";hidden=1", "note=a;b", "number=7", "empty=", "nokey", "[Other]", "Orphan=other",
        "[EXEINI]", "late=1"};
    for (const char* eol : {"\r\n", "\n", "\r"}) {
        SCOPED_TRACE(testing::PrintToString(eol));
        std::string text;
        for (const std::string& l : lines) text += (text.empty() ? "" : eol) + l;  // no final line end
        t.write("a.ini", QByteArray::fromStdString(text));
        const std::string f = t.fileUtf8("a.ini");

        EXPECT_EQ(Get(f, "EXEINI", "NUMBER"), "42A");  // first of two, names folded, blanks trimmed
        EXPECT_EQ(Get(f, " exeINI ", "name"), "quoted");
        EXPECT_EQ(Get(f, "EXEINI", "single"), "x");
        EXPECT_EQ(Get(f, "EXEINI", "lone"), "\"");
        EXPECT_EQ(Get(f, "EXEINI", ";hidden"), "def");
        EXPECT_EQ(Get(f, "EXEINI", "note"), "a;b");
        EXPECT_EQ(Get(f, "EXEINI", "empty"), "");
        EXPECT_EQ(Get(f, "EXEINI", "nokey"), "def");
        EXPECT_EQ(Get(f, "EXEINI", "Orphan"), "def");
        EXPECT_EQ(Get(f, "other", "orphan"), "other");
        EXPECT_EQ(Get(f, "EXEINI", "late"), "def");  // only the first of duplicate sections is used
        EXPECT_EQ(Get(f, "Missing", "NAME", kUnset + " \t "), kUnset);
        EXPECT_EQ(GetPrivateProfileIntA("EXEINI", "empty", 5, f), 5);
    }
    EXPECT_EQ(Get(t.fileUtf8("none.ini"), "EXEINI", "NAME", "a b  "), "a b");
}

TEST(Profile, CutsToTheBufferWithoutSplittingCharacters) {
    testsupport::TempFolder t;
    const std::string f = t.fileUtf8("a.ini");
    std::string jp;
    for (int i = 0; i < 100; ++i) jp += "設";
    ASSERT_TRUE(WritePrivateProfileStringA("EXEINI", "NAME", "a" + jp, f));
    ASSERT_TRUE(WritePrivateProfileStringA("EXEINI", "SHORT", "val1", f));

    EXPECT_EQ(Get(f, "EXEINI", "NAME"), "a" + jp.substr(0, 84 * 3));  // 253 bytes: a 255th would split
    EXPECT_EQ(Get(f, "EXEINI", "NAME", "", 257), "a" + jp.substr(0, 85 * 3));
    EXPECT_EQ(Get(f, "EXEINI", "missing", jp, 256), jp.substr(0, 85 * 3));
    EXPECT_EQ(Get(f, "EXEINI", "SHORT", "", 4), "val");
    EXPECT_EQ(Get(f, "EXEINI", "SHORT", "", 1), "");
    char untouched[2] = {'k', '\0'};
    EXPECT_EQ(GetPrivateProfileStringA("EXEINI", "SHORT", "", untouched, 0, f), 0u);
    EXPECT_EQ(untouched[0], 'k');
}

TEST(Profile, ParsesIntegersLikeWindows) {
    testsupport::TempFolder t;
    const std::string f = t.fileUtf8("a.ini");
    const std::vector<std::pair<std::string, int32_t>> cases = {
        {"42A", 42}, {"B1", 0}, {"+1", 1}, {"-7", -7}, {"\"15\"", 15}, {"4294967297", 1},
        {"-4294967297", -1}, {"2147483648", INT32_MIN}, {"0012", 12}};
    for (const auto& [text, expected] : cases) {
        ASSERT_TRUE(WritePrivateProfileStringA("Test", "ProfileInt", text, f));
        EXPECT_EQ(GetPrivateProfileIntA("test", "profileint", 99, f), expected) << text;
    }
    EXPECT_EQ(GetPrivateProfileIntA("Test", "Missing", -3, f), -3);
    EXPECT_EQ(GetPrivateProfileIntA("Test", "ProfileInt", -3, t.fileUtf8("none.ini")), -3);
}

TEST(Profile, WritesKeepEverythingElseByteForByte) {
    testsupport::TempFolder t;
    const std::string f = t.fileUtf8("a.ini");
    EXPECT_NE(WritePrivateProfileStringA("EXEINI", "NUMBER", "1", f), 0);
    EXPECT_NE(WritePrivateProfileStringA("Other", "a", "x", f), 0);
    EXPECT_NE(WritePrivateProfileStringA("EXEINI", "NAME", kUnset, f), 0);
    EXPECT_NE(WritePrivateProfileStringA("exeini", "number", "2", f), 0);
    EXPECT_EQ(Bytes(t, "a.ini"), "[EXEINI]\r\nNUMBER=2\r\nNAME=" + kUnset + "\r\n[Other]\r\na=x\r\n");

    t.write("b.ini", "; top\n[A]\nx=1\n\n[B]\ny = 2");
    const std::string g = t.fileUtf8("b.ini");
    EXPECT_NE(WritePrivateProfileStringA("A", "z", "3", g), 0);
    EXPECT_NE(WritePrivateProfileStringA("C", "k", "v", g), 0);
    EXPECT_NE(WritePrivateProfileStringA("B", "Y", "first\r\n[Evil]\r\nx=1", g), 0);
    EXPECT_EQ(Bytes(t, "b.ini"), "; top\n[A]\nx=1\nz=3\r\n\n[B]\ny=first\r\n[C]\r\nk=v\r\n");
    EXPECT_EQ(WritePrivateProfileStringA("", "k", "v", g), 0);
    EXPECT_EQ(WritePrivateProfileStringA("A", "k=1", "v", g), 0);
}

TEST(Profile, SameValueLeavesTheFileAloneButStillMakesItPrivate) {
    testsupport::TempFolder t;
    t.write("a.ini", "[POP]\nPASS =  x \n");
    const std::string f = t.fileUtf8("a.ini");
    ASSERT_EQ(chmod(f.c_str(), 0644), 0);
    struct stat before {}, after {};
    ASSERT_EQ(stat(f.c_str(), &before), 0);
    EXPECT_NE(WritePrivateProfileStringA("POP", "PASS", "x", f), 0);
    ASSERT_EQ(stat(f.c_str(), &after), 0);
    EXPECT_EQ(before.st_ino, after.st_ino);  // not even replaced by an identical copy
    EXPECT_NE(WritePrivateProfileStringA("POP", "PASS", "x", f, FileAccess::OwnerOnly), 0);
    ASSERT_EQ(stat(f.c_str(), &after), 0);
    EXPECT_EQ(after.st_mode & 07777, 0600u);
    EXPECT_EQ(Bytes(t, "a.ini"), "[POP]\nPASS =  x \n");
}

TEST(Profile, EachLineKeepsItsEncodingAndEveryLineNotWrittenItsBytes) {
    testsupport::TempFolder t;
    const std::string f = t.fileUtf8("a.ini");

    // A file of the Windows program, all Shift_JIS: it reads as Japanese, and a write turns only the
    // lines written into UTF-8.
    const std::string sjisTop = ToCp932("; 時計の設定\r\n[EXEINI]\r\n");
    t.write("a.ini", QByteArray::fromStdString(sjisTop + ToCp932("NAME=" + kUnset + "\r\n") + "NUMBER=3\r\n"));
    EXPECT_EQ(Get(f, "EXEINI", "NAME"), kUnset);
    EXPECT_NE(WritePrivateProfileStringA("EXEINI", "NUMBER", "4", f), 0);
    EXPECT_NE(WritePrivateProfileStringA("EXEINI", "NAME", "時計", f), 0);
    EXPECT_EQ(Bytes(t, "a.ini"), sjisTop + "NAME=時計\r\nNUMBER=4\r\n");

    // Written by the program in UTF-8, then edited by hand: a comment saved in Latin-1 and a value
    // pasted in Shift_JIS. Each line reads in its own encoding; a write changes its own line only.
    const std::string path = "/home/ユーザー/メーラー/run.sh";
    const std::string mixed = "[EXEINI]\r\nNAME=" + path + "\r\n; caf\xE9\r\nNOTE=" + ToCp932("時計") + "\r\nNUMBER=2\n";
    t.write("a.ini", QByteArray::fromStdString(mixed));
    EXPECT_EQ(Get(f, "EXEINI", "NAME"), path);
    EXPECT_EQ(Get(f, "EXEINI", "NOTE"), "時計");
    EXPECT_EQ(GetPrivateProfileIntA("EXEINI", "NUMBER", 0, f), 2);
    EXPECT_NE(WritePrivateProfileStringA("EXEINI", "NAME", path, f), 0);
    EXPECT_EQ(Bytes(t, "a.ini"), mixed);  // the same value: untouched
    EXPECT_NE(WritePrivateProfileStringA("EXEINI", "NUMBER", "1", f), 0);
    EXPECT_EQ(Bytes(t, "a.ini"), mixed.substr(0, mixed.size() - 9) + "NUMBER=1\n");

    // Random bytes: every one of them stays, the section and key are added after them.
    std::mt19937 random(12);
    std::string noise(1 << 18, '\0');
    for (char& c : noise) c = static_cast<char>(random() & 0xFF);
    noise += "x";  // an unfinished last line, which gets its line end
    t.write("a.ini", QByteArray::fromStdString(noise));
    EXPECT_NE(WritePrivateProfileStringA("EXEINI", "NAME", kUnset, f), 0);
    EXPECT_EQ(Bytes(t, "a.ini"), noise + "\r\n[EXEINI]\r\nNAME=" + kUnset + "\r\n");
    EXPECT_EQ(Get(f, "EXEINI", "NAME"), kUnset);
}

TEST(Profile, LegacyBytesFromTheCallerAndStrayBytesInTheFile) {
    testsupport::TempFolder t;
    const std::string f = t.fileUtf8("a.ini");
    // Names handed in Shift_JIS are stored as UTF-8 and found again with the same bytes.
    const std::string section = ToCp932("設定"), key = ToCp932("名前");
    ASSERT_NE(WritePrivateProfileStringA(section, key, ToCp932("時計"), f), 0);
    EXPECT_EQ(Bytes(t, "a.ini"), "[設定]\r\n名前=時計\r\n");
    EXPECT_EQ(Get(f, section, key), "時計");
    EXPECT_EQ(Get(f, "設定", "名前"), "時計");

    // A file marked UTF-8 by its byte-order mark stays UTF-8 when one byte in it is broken: the broken
    // byte is replaced, the rest reads as written.
    t.write("b.ini", QByteArray("\xEF\xBB\xBF[EXEINI]\r\nNAME=") + QByteArray::fromStdString(kUnset) +
                         QByteArray("\r\nNOTE=a\xFF" "b\r\n"));
    const std::string g = t.fileUtf8("b.ini");
    EXPECT_EQ(Get(g, "EXEINI", "NAME"), kUnset);
    EXPECT_EQ(Get(g, "EXEINI", "NOTE"), "a\uFFFDb");
}

TEST(Profile, FailedWriteCreatesNothing) {
    testsupport::TempFolder t;
    EXPECT_EQ(WritePrivateProfileStringA("EXEINI", "NUMBER", "1", t.fileUtf8("nope/a.ini")), 0);
    EXPECT_FALSE(t.exists("nope"));
    EXPECT_TRUE(QDir(t.path()).isEmpty(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot));
}

namespace {

// Every name in the folder, hidden ones included, sorted.
QStringList Entries(const testsupport::TempFolder& t) {
    QStringList names = QDir(t.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    names.sort();
    return names;
}

struct Killed {};  // a process killed at a step of its write

const std::string kBefore = "; mine\r\n[EXEINI]\r\nNUMBER=0\r\nNAME=x\r\n[Other]\r\nk=v\r\n";
const std::vector<ProfileValue> kThreeKeys = {{"NUMBER", "1"}, {"NUMBER2", "5"}, {"NAME", "y"}};
const std::string kAfter = "; mine\r\n[EXEINI]\r\nNUMBER=1\r\nNAME=y\r\nNUMBER2=5\r\n[Other]\r\nk=v\r\n";

}  // namespace

TEST(Profile, SeveralKeysLandInOneReplacementOrNotAtAll) {
    testsupport::TempFolder t;
    const std::string f = t.fileUtf8("a.ini");
    struct Fault {
        WriteStep step;
        int error;
    };
    for (const Fault& fault : {Fault{WriteStep::CreateTemp, EACCES}, Fault{WriteStep::Write, ENOSPC},
                               Fault{WriteStep::Write, EDQUOT}, Fault{WriteStep::Sync, EIO},
                               Fault{WriteStep::Rename, EROFS}}) {
        SCOPED_TRACE(testing::Message() << int(fault.step) << " " << fault.error);
        t.write("a.ini", QByteArray::fromStdString(kBefore));
        SetWriteFaultHook([&](WriteStep step, const std::string&) { return step == fault.step ? fault.error : 0; });
        errno = 0;
        EXPECT_EQ(WritePrivateProfileStrings("EXEINI", kThreeKeys, f), 0);
        EXPECT_EQ(errno, fault.error);
        SetWriteFaultHook(nullptr);
        EXPECT_EQ(Bytes(t, "a.ini"), kBefore);
        EXPECT_EQ(Entries(t), QStringList({".a.ini.lock", "a.ini"}));  // the failed temp file went too
    }
    // The real thing: a read-only file (for root too) and a missing folder, with their causes.
    ASSERT_EQ(chmod(f.c_str(), 0444), 0);
    EXPECT_EQ(WritePrivateProfileStrings("EXEINI", kThreeKeys, f), 0);
    EXPECT_EQ(errno, EACCES);
    ASSERT_EQ(chmod(f.c_str(), 0644), 0);
    EXPECT_EQ(WritePrivateProfileStrings("EXEINI", kThreeKeys, t.fileUtf8("none/a.ini")), 0);
    EXPECT_EQ(errno, ENOENT);

    // Without a fault all three land in one replacement; then the same values again write nothing.
    int steps = 0;
    SetWriteFaultHook([&](WriteStep, const std::string&) { return ++steps, 0; });
    EXPECT_NE(WritePrivateProfileStrings("EXEINI", kThreeKeys, f), 0);
    EXPECT_EQ(steps, 4);  // one temp file, one write, one sync, one rename
    EXPECT_EQ(Bytes(t, "a.ini"), kAfter);
    EXPECT_NE(WritePrivateProfileStrings("EXEINI", kThreeKeys, f), 0);
    EXPECT_EQ(steps, 4);
    // One unusable name: none of the keys is written.
    EXPECT_EQ(WritePrivateProfileStrings("EXEINI", {{"NUMBER", "9"}, {"a=b", "1"}}, f), 0);
    EXPECT_EQ(steps, 4);
    SetWriteFaultHook(nullptr);
    EXPECT_EQ(Bytes(t, "a.ini"), kAfter);
}

TEST(Profile, TempFilesOfKilledWritesGoButNeverOneStillBeingWritten) {
    testsupport::TempFolder t;
    const std::string f = t.fileUtf8("a.ini");
    t.write("a.ini", QByteArray::fromStdString(kBefore));
    auto killedWrite = [&] {
        SetWriteFaultHook([](WriteStep step, const std::string&) -> int {
            if (step == WriteStep::Rename) throw Killed{};
            return 0;
        });
        EXPECT_THROW(WritePrivateProfileStrings("EXEINI", kThreeKeys, f), Killed);
        SetWriteFaultHook(nullptr);
    };
    killedWrite();
    EXPECT_EQ(Bytes(t, "a.ini"), kBefore);  // killed before the rename: all old
    ASSERT_EQ(Entries(t).size(), 3);  // the file, its lock file and the temp file left

    // Another copy of the program in the middle of its write holds its temp file locked.
    t.write(".a.ini.abcd1234.tmp", "half");
    const int running = ::open(t.fileUtf8(".a.ini.abcd1234.tmp").c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(running, 0);
    ASSERT_EQ(flock(running, LOCK_EX | LOCK_NB), 0);
    // Names that are not this file's temp files, in this folder.
    const QStringList others = {".a.ini.ABCD1234.tmp", ".a.ini.abc.tmp", ".b.ini.abcd1234.tmp", "a.ini.abcd1234.tmp"};
    for (const QString& name : others) t.write(name, "x");
    const QStringList kept = [&] {
        QStringList k = others + QStringList{".a.ini.abcd1234.tmp", ".a.ini.lock", "a.ini"};
        k.sort();
        return k;
    }();

    RemoveLeftoverTemps(f);  // as at start-up
    EXPECT_EQ(Entries(t), kept);
    killedWrite();
    EXPECT_NE(WritePrivateProfileStrings("EXEINI", kThreeKeys, f), 0);  // the next write clears up too
    EXPECT_EQ(Entries(t), kept);
    EXPECT_EQ(Bytes(t, "a.ini"), kAfter);

    ::close(running);  // that writer died without renaming: now its temp file goes as well
    RemoveLeftoverTemps(f);
    EXPECT_FALSE(Entries(t).contains(".a.ini.abcd1234.tmp"));
    EXPECT_TRUE(Entries(t).contains(".a.ini.lock"));  // the lock file is no temp file: it stays
}

// Two copies of the program on one folder, each saving keys of its own into the same file at the same
// time: every key of both lands (without a lock across processes, one writes back what it read before
// the other's last save, and that save is lost).
TEST(Profile, TwoProcessesSavingAtOnceKeepEachOthersKeys) {
    testsupport::TempFolder t;
    const std::string f = t.fileUtf8("a.ini");
    ASSERT_NE(WritePrivateProfileStringA("EXEINI", "NAME", kUnset, f), 0);
    constexpr int kRounds = 150;
    std::vector<pid_t> writers;
    for (const char* who : {"A", "B"}) {
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            for (int i = 0; i < kRounds; ++i) {
                const std::string n = std::to_string(i);
                if (WritePrivateProfileStringA(i % 2 ? "EXEINI" : "POP", who + n, n, f) == 0) _exit(1);
            }
            _exit(0);
        }
        writers.push_back(child);
    }
    for (pid_t child : writers) {
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "a writer failed: " << status;
    }
    int lost = 0;
    for (const char* who : {"A", "B"})
        for (int i = 0; i < kRounds; ++i) lost += Get(f, i % 2 ? "EXEINI" : "POP", who + std::to_string(i)) != std::to_string(i);
    EXPECT_EQ(lost, 0) << "keys lost of " << 2 * kRounds;
    EXPECT_EQ(Get(f, "EXEINI", "NAME"), kUnset);
    EXPECT_EQ(Entries(t), QStringList({".a.ini.lock", "a.ini"}));
}
