// The Debian package as a person gets it: built by CPack from this build, checked as Debian and the
// software centres check it (lintian, AppStream, the desktop entry), unpacked into a scratch root,
// its dependencies resolved by apt against the system's package lists, and the clock started through
// the installed launcher with a fresh home folder.
#include <gtest/gtest.h>

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include "e2e/desktop.h"
#include "e2e/program.h"

using namespace e2e;

class Package : public OnTheDesktop {};

namespace {

struct ToolRun {
    int code = -1;
    QString output;
    QString errors;  // only when asked for apart
};

// The environment of a person with no locale at all (LANG unset, as under env -i or cron): the
// program's folder names are not ASCII, and packing, the launcher and the program must not mind.
QProcessEnvironment WithoutLocale(QProcessEnvironment env = QProcessEnvironment::systemEnvironment()) {
    for (const QString& name : env.keys())
        if (name == "LANG" || name == "LANGUAGE" || name.startsWith("LC_")) env.remove(name);
    return env;
}

// Standard output and error together in output, or apart.
ToolRun RunTool(const QString& program, const QStringList& args, bool apart = false,
                const QProcessEnvironment& env = QProcessEnvironment::systemEnvironment()) {
    QProcess p;
    p.setProcessChannelMode(apart ? QProcess::SeparateChannels : QProcess::MergedChannels);
    p.setProcessEnvironment(env);
    p.start(program, args);
    if (!p.waitForStarted(10000)) return {-1, program + ": " + p.errorString(), {}};
    if (!p.waitForFinished(120000)) {
        p.kill();
        p.waitForFinished(5000);
        return {-1, program + " did not finish", {}};
    }
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, QString::fromUtf8(p.readAllStandardOutput()),
            QString::fromUtf8(p.readAllStandardError())};
}

// Whether a checker's report holds an error or a warning (a line "E: ..." or "W: ...").
bool Complains(const QString& report) {
    for (const QString& line : report.split('\n'))
        if (line.trimmed().startsWith("E: ") || line.trimmed().startsWith("W: ")) return true;
    return false;
}

// Every file and link under a folder, with its size, relative to it: what the program must not change.
QStringList Listing(const QString& root) {
    QStringList all;
    QDirIterator it(root, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        all << QDir(root).relativeFilePath(path) + " " + QString::number(it.fileInfo().size());
    }
    all.sort();
    return all;
}

}  // namespace

TEST_F(Package, TheDebianPackageInstallsAndStartsTheClockInAFolderOfTheUsersOwn) {
    QTemporaryDir work(QDir::tempPath() + "/vellumine-package-XXXXXX");
    ASSERT_TRUE(work.isValid());
    const QString out = work.path() + "/out", root = work.path() + "/root", home = work.path() + "/home";
    ASSERT_TRUE(QDir().mkpath(home));

    // Through the package target, as the README says, with no locale.
    const QString built = QStringLiteral(VELLUMINE_BINARY_DIR "/vellumine_" VELLUMINE_VERSION "_amd64.deb");
    QFile::remove(built);
    const ToolRun cpack =
        RunTool(VELLUMINE_CMAKE, {"--build", VELLUMINE_BINARY_DIR, "--target", "package"}, false, WithoutLocale());
    ASSERT_EQ(cpack.code, 0) << cpack.output.toStdString();
    ASSERT_TRUE(QDir().mkpath(out));
    ASSERT_TRUE(QFile::copy(built, out + "/" + QFileInfo(built).fileName())) << cpack.output.toStdString();
    const QString deb = out + "/" + QFileInfo(built).fileName();

    // What it needs: the libraries dpkg-shlibdeps found, the soundfont and the Japanese font, and
    // apt can satisfy all of it from Debian 12's packages.
    const ToolRun depends = RunTool("dpkg-deb", {"-f", deb, "Depends"});
    ASSERT_EQ(depends.code, 0) << depends.output.toStdString();
    for (const char* needed : {"ca-certificates", "libqt6widgets6", "libqt6network6", "libfluidsynth3", "timgm6mb-soundfont",
                               "fonts-ipafont-gothic"}) {
        EXPECT_TRUE(depends.output.contains(needed)) << needed << " missing from: " << depends.output.toStdString();
    }
    const ToolRun apt = RunTool("apt-get", {"install", "--simulate", "--no-install-recommends", deb});
    EXPECT_EQ(apt.code, 0) << apt.output.toStdString();
    EXPECT_FALSE(apt.output.contains("unmet")) << apt.output.toStdString();
    // Debian's policy checks: no error and no warning (info and pedantic notes may stay).
    const ToolRun lintian = RunTool("lintian", {"--fail-on", "error,warning", deb});
    EXPECT_EQ(lintian.code, 0) << lintian.output.toStdString();
    EXPECT_FALSE(Complains(lintian.output)) << lintian.output.toStdString();

    // Unpacked into a scratch root, as dpkg would place it under /.
    const ToolRun unpack = RunTool("dpkg-deb", {"-x", deb, root});
    ASSERT_EQ(unpack.code, 0) << unpack.output.toStdString();
    const QString lib = root + "/usr/lib/vellumine";
    EXPECT_TRUE(QFileInfo(lib + "/vellumine").isExecutable());
    EXPECT_TRUE(QFileInfo(root + "/usr/bin/vellumine").isExecutable());
    EXPECT_GE(QDir(lib + "/画像データ").entryList({"*.gif"}, QDir::Files).size(), 10);
    EXPECT_GT(QFileInfo(lib + "/Sound/Kouka.mid").size(), 0);
    EXPECT_TRUE(QFileInfo(lib + "/★MailData").isDir());
    EXPECT_TRUE(QDir(lib + "/★MailData").isEmpty());
    // The icon in every size menus, docks and software centres ask for, each as large as its folder says.
    for (int size : {16, 24, 32, 48, 64, 128, 256}) {
        const QImage icon(root + QStringLiteral("/usr/share/icons/hicolor/%1x%1/apps/vellumine.png").arg(size));
        EXPECT_EQ(icon.size(), QSize(size, size)) << size;
        EXPECT_TRUE(icon.hasAlphaChannel()) << size;
    }
    // The desktop entry; the AppStream metainfo alone, and with what it points at (the desktop entry).
    const QString entry = root + "/usr/share/applications/" VELLUMINE_APP_ID ".desktop";
    const ToolRun validate = RunTool("desktop-file-validate", {entry});
    EXPECT_EQ(validate.code, 0) << validate.output.toStdString();
    EXPECT_TRUE(validate.output.trimmed().isEmpty()) << validate.output.toStdString();
    const QString metainfo = root + "/usr/share/metainfo/" VELLUMINE_APP_ID ".metainfo.xml";
    for (const QStringList& args :
         {QStringList{"validate", "--no-net", metainfo}, QStringList{"validate-tree", "--no-net", root}}) {
        const ToolRun check = RunTool("appstreamcli", args);
        EXPECT_EQ(check.code, 0) << check.output.toStdString();
        EXPECT_FALSE(Complains(check.output)) << check.output.toStdString();
    }

    // The command line through the installed launcher, with no display: questions are answered on the
    // terminal, anything else is refused with the usage, and neither makes a folder in the home folder.
    // No arguments start the clock: the rest of this test.
    QProcessEnvironment noDisplay = QProcessEnvironment::systemEnvironment();
    noDisplay.remove("DISPLAY");
    noDisplay.remove("WAYLAND_DISPLAY");
    noDisplay.insert("HOME", home);
    const QString usage = "Usage: vellumine [options]\n";
    const struct {
        QStringList args;
        int code;
        QString out, err;  // what each begins with; empty: nothing at all
    } commandLines[] = {
        {{"--help"}, 0, usage, ""},
        {{"--version"}, 0, "vellumine " VELLUMINE_VERSION "\n", ""},
        {{"--frobnicate"}, 2, "", "vellumine: Unknown option 'frobnicate'.\n\n" + usage},
        {{"clock"}, 2, "", "vellumine: Unexpected argument 'clock'.\n\n" + usage},
    };
    for (const auto& row : commandLines) {
        const ToolRun run = RunTool(root + "/usr/bin/vellumine", row.args, true, noDisplay);
        const std::string said = (row.args.join(' ') + " -> " + run.output + " | " + run.errors).toStdString();
        EXPECT_EQ(run.code, row.code) << said;
        EXPECT_TRUE(row.out.isEmpty() ? run.output.isEmpty() : run.output.startsWith(row.out)) << said;
        EXPECT_TRUE(row.err.isEmpty() ? run.errors.isEmpty() : run.errors.startsWith(row.err)) << said;
    }
    EXPECT_TRUE(QDir(home).isEmpty())
        << QDir(home).entryList(QDir::AllEntries | QDir::NoDotAndDotDot).join(" ").toStdString();
    const QStringList installed = Listing(root);

    // Started as the desktop entry starts it (Exec=vellumine), by a user with an empty home folder:
    // the first start asks for the server and the account.
    StartOptions options;
    options.home = home;
    options.locale.clear();  // the launcher and the program with no locale: the folders are not ASCII
    RunningProgram program(root + "/usr/bin/vellumine", home, options);
    ASSERT_TRUE(program.started()) << program.error().toStdString();
    const auto clock = program.waitForClock();
    ASSERT_TRUE(clock) << program.error().toStdString();
    EXPECT_TRUE(WaitForWindow(QStringLiteral("サーバー設定")).has_value());
    EXPECT_TRUE(WaitForWindow(QStringLiteral("ID,PASS")).has_value());

    // The user's program folder: links to what was installed, a settings folder of its own.
    const QString mine = home + "/.local/share/Vellumine";
    for (const QString& item : {QString("vellumine"), QString("画像データ"), QString("Sound")}) {
        const QFileInfo link(mine + "/" + item);
        EXPECT_TRUE(link.isSymLink()) << item.toStdString();
        EXPECT_EQ(link.canonicalFilePath(), QFileInfo(lib + "/" + item).canonicalFilePath()) << item.toStdString();
    }
    EXPECT_TRUE(QFileInfo(mine + "/★MailData").isDir());
    EXPECT_FALSE(QFileInfo(mine + "/★MailData").isSymLink());

    // Closed through its close box: the settings are written where the user's folder is, and the
    // installed files stay as they were.
    Activate(*clock);
    Keys({"alt+F4"});
    ASSERT_TRUE(program.waitForExit()) << "the close box did not end the program: " << program.output().toStdString();
    EXPECT_EQ(program.exitCode(), 0);
    EXPECT_TRUE(QFileInfo(mine + "/★MailData/ini.ini").isFile()) << QDir(mine + "/★MailData").entryList().join(" ").toStdString();
    EXPECT_EQ(Listing(root), installed);
}

TEST_F(Package, TheTarballIsAProgramFolderThatRunsWhereItIsUnpacked) {
    QTemporaryDir work(QDir::tempPath() + "/vellumine-tarball-XXXXXX");
    ASSERT_TRUE(work.isValid());
    const ToolRun pack = RunTool(VELLUMINE_CMAKE, {"--build", VELLUMINE_BINARY_DIR, "--target", "package-tarball"},
                                 false, WithoutLocale());
    ASSERT_EQ(pack.code, 0) << pack.output.toStdString();
    const QStringList tarballs =
        QDir(VELLUMINE_BINARY_DIR).entryList({"Vellumine-*.tar.gz"}, QDir::Files, QDir::Time);
    ASSERT_FALSE(tarballs.isEmpty());
    const ToolRun unpack = RunTool("tar", {"-xzf", QStringLiteral(VELLUMINE_BINARY_DIR "/") + tarballs.first(),
                                           "-C", work.path()});
    ASSERT_EQ(unpack.code, 0) << unpack.output.toStdString();

    // Exactly the program folder, with no settings of the builder's own runs in it.
    const QString folder = work.path() + "/Vellumine";
    EXPECT_EQ(QDir(work.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList{"Vellumine"});
    EXPECT_EQ(QDir(folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot, QDir::Name),
              (QStringList{"Sound", "vellumine", "★MailData", "画像データ"}));
    EXPECT_TRUE(QFileInfo(folder + "/vellumine").isExecutable());
    EXPECT_TRUE(QDir(folder + "/★MailData").isEmpty());
    EXPECT_GT(QFileInfo(folder + "/Sound/Kouka.mid").size(), 0);
    EXPECT_GE(QDir(folder + "/画像データ").entryList({"*.gif"}, QDir::Files).size(), 10);

    // Started inside it (the folder is its current directory), it keeps its settings there, in any
    // locale: here none at all.
    StartOptions options;
    options.locale.clear();
    RunningProgram program(folder + "/vellumine", folder, options);
    ASSERT_TRUE(program.started()) << program.error().toStdString();
    const auto clock = program.waitForClock();
    ASSERT_TRUE(clock) << program.error().toStdString();
    Activate(*clock);
    Keys({"alt+F4"});
    ASSERT_TRUE(program.waitForExit()) << program.output().toStdString();
    EXPECT_TRUE(QFileInfo(folder + "/★MailData/ini.ini").isFile());
}
