// A manual mail check against a real Dovecot mailbox holding three messages: the notice board, the
// cat show with the ghost cat, and "戻す" ending the show.
#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QFontDatabase>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QRegularExpression>
#include <algorithm>
#include <set>

#include "e2e/desktop.h"
#include "e2e/program.h"
#include "support/dovecot_mail.h"
#include "support/hand_server.h"

using namespace e2e;

class MailCheck : public OnTheDesktop {};

namespace {

const QString kBoardTitle = QStringLiteral("新着お知らせボード");
const QStringList kCats = {"cat1", "cat2", "cat3", "cat4"};

// The program's font: the first Japanese font installed of its list, 9 points.
QFont ProgramFont() {
    QFont font = QApplication::font();
    const QStringList installed = QFontDatabase::families();
    for (const QString& family : {QStringLiteral("IPAPGothic"), QStringLiteral("IPAGothic"),
                                  QStringLiteral("Noto Sans CJK JP"), QStringLiteral("VL PGothic")}) {
        if (installed.contains(family)) {
            font = QFont(family);
            font.setPointSize(9);
            break;
        }
    }
    return font;
}

// A text field of the same kind, size and font showing this text, as this process draws it.
QImage RenderedField(const QString& text, QSize size, Qt::Alignment alignment) {
    QLineEdit field(text);
    field.setFont(ProgramFont());
    field.setAlignment(alignment);
    field.setFrame(true);
    field.resize(size);
    field.setCursorPosition(0);
    return field.grab().toImage().convertToFormat(QImage::Format_RGB32);
}

int Differing(const QImage& a, const QImage& b) {
    if (a.size() != b.size()) return -1;
    int n = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x)
            if ((a.pixel(x, y) & 0xFFFFFF) != (b.pixel(x, y) & 0xFFFFFF)) ++n;
    return n;
}

// The text of a field of the program, as a person copies it: click into it, select all, copy.
QString CopyFieldText(QPoint at) {
    QGuiApplication::clipboard()->clear();
    Click(at);
    Keys({"ctrl+a", "ctrl+c"});
    QString text;
    Until([&] { return !(text = QGuiApplication::clipboard()->text()).isEmpty(); });
    return text;
}

}  // namespace

TEST_F(MailCheck, ThreeMessagesShowTheBoardAndTheCatShowUntilStopped) {
    testsupport::DovecotServer dovecot(std::map<QString, QString>{{"alice", "alicepw"}});
    ASSERT_TRUE(dovecot.error().isEmpty()) << dovecot.error().toStdString();
    for (int i = 1; i <= 3; ++i) dovecot.deliver("alice", MailMessage(i));
    ProgramFolder folder;
    ASSERT_TRUE(folder.ok());
    folder.writeServer(QString("127.0.0.1:%1").arg(dovecot.pop3Port()));
    folder.writeAccount("alice", "alicepw");
    folder.writeIni("NUMBER5=1\r\n");  // the ghost cat comes along with the show
    StartOptions options;
    options.trustedCertificate = dovecot.certificate();
    RunningProgram program(folder, options);
    ASSERT_TRUE(program.started()) << program.error().toStdString();
    const auto clock = program.waitForClock();
    ASSERT_TRUE(clock) << program.error().toStdString();
    const QRect face = FaceRect(*clock);
    ASSERT_TRUE(Until([&] { return FaceDifference(Grab(face), folder.picture("Watch")) == 0; }))
        << "the clock does not show Watch.gif: " << FaceDifference(Grab(face), folder.picture("Watch"));

    MoveMouse({150, 650});  // the ghost cat appears at the pointer: away from the clock and the board
    ASSERT_TRUE(ChooseMenuItem(*clock, kMailCheck));

    // The notice board, on top of every window.
    const auto board = WaitForWindow(kBoardTitle);
    ASSERT_TRUE(board) << "no notice board; Dovecot says:\n" << dovecot.log().toStdString();
    EXPECT_TRUE(Until([&] { return Above(*board); })) << NetWmState(*board).toStdString();
    const QRect boardArea = Info(*board)->rect;
    // The count field: 33 × 18 pixels at (208, 0) of the board, right-aligned. Inside its frame it
    // must look exactly as a field of the same kind, size and font showing "3" looks when this
    // process draws it; a field showing "2" or "4" would not. (The frame's rounded corners show
    // what lies behind the field, which differs between the board and a lone field.)
    const QRect countField(boardArea.topLeft() + QPoint(208, 0), QSize(33, 18));
    const QRect inside = QRect(QPoint(0, 0), countField.size()).adjusted(2, 2, -2, -2);
    const QImage expected = RenderedField("3", countField.size(), Qt::AlignRight).copy(inside);
    ASSERT_NE(Differing(expected, RenderedField("4", countField.size(), Qt::AlignRight).copy(inside)), 0);
    QImage shown;
    const bool looksRight =
        Until([&] { return Differing(shown = Grab(countField.adjusted(2, 2, -2, -2)), expected) == 0; });
    EXPECT_TRUE(looksRight) << "the count field differs from a field showing \"3\" in " << Differing(shown, expected)
                            << " pixels; see " << SaveArtefact(shown, "board-count-shown.png").toStdString()
                            << " and " << SaveArtefact(expected, "board-count-expected.png").toStdString();
    SaveArtefact(GrabScreen(), "notice-board.png");
    // And the texts themselves, copied out of the fields as a person would.
    EXPECT_EQ(CopyFieldText(countField.center()).toStdString(), "3");
    EXPECT_EQ(CopyFieldText(boardArea.topLeft() + QPoint(100, 9)).toStdString(), "新着メールが有ります");

    // The cat show: with the board closed, the clock shows the cat pictures in turn, and the ghost
    // cat is out, on top.
    Activate(*board);
    Keys({"alt+F4"});
    ASSERT_TRUE(WaitUntilGone(kBoardTitle));
    QString cat;
    EXPECT_TRUE(Until([&] { return !(cat = FaceShows(Grab(face), folder, kCats)).isEmpty(); }))
        << "no cat picture in the clock";
    const auto ghost = WaitForWindow("Form1");
    ASSERT_TRUE(ghost) << "no ghost cat";
    EXPECT_TRUE(Until([&] { return Above(*ghost); })) << NetWmState(*ghost).toStdString();

    // "戻す": the ghost cat goes, and the show ends: the clock picture comes back and stays. (The
    // cycle under way runs out first: its remaining cats may show for a moment.) A show that went on
    // would put a cat up every 0.6 s, so ten looks at 0.1 s intervals all seeing the clock picture
    // tell it has stopped.
    ASSERT_TRUE(ChooseMenuItem(*clock, kStopShow));
    EXPECT_TRUE(WaitUntilGone("Form1")) << "the ghost cat stayed";
    int watchInARow = 0;
    QString last;
    EXPECT_TRUE(Until([&] {
        last = FaceShows(Grab(face), folder, QStringList{"Watch"} + kCats);
        watchInARow = last == "Watch" ? watchInARow + 1 : 0;
        if (watchInARow >= 10) return true;
        Pause(100);
        return false;
    })) << "the show goes on; the clock shows " << (last.isEmpty() ? "none of its pictures" : qPrintable(last));
}

// A check asked for ten seconds into the cat show of the one before reaches the server, and the
// board, left open, shows the count it found.
TEST_F(MailCheck, ACheckAskedForDuringTheCatShowLogsInAgainAndTheBoardShowsItsCount) {
    testsupport::DovecotServer dovecot(std::map<QString, QString>{{"alice", "alicepw"}});
    ASSERT_TRUE(dovecot.error().isEmpty()) << dovecot.error().toStdString();
    for (int i = 1; i <= 3; ++i) dovecot.deliver("alice", MailMessage(i));
    ProgramFolder folder;
    ASSERT_TRUE(folder.ok());
    folder.writeServer(QString("127.0.0.1:%1").arg(dovecot.pop3Port()));
    folder.writeAccount("alice", "alicepw");
    folder.writeIni("NUMBER2=0\r\n");
    StartOptions options;
    options.trustedCertificate = dovecot.certificate();
    RunningProgram program(folder, options);
    ASSERT_TRUE(program.started()) << program.error().toStdString();
    const auto clock = program.waitForClock();
    ASSERT_TRUE(clock) << program.error().toStdString();
    // Dovecot 2.3 logs "Login:", 2.4 "Logged in:".
    const QRegularExpression login(QStringLiteral("(Login|Logged in): user=<alice>"));
    const auto logins = [&] { return int(dovecot.log().count(login)); };

    ASSERT_TRUE(ChooseMenuItem(*clock, kMailCheck));
    const auto board = WaitForWindow(kBoardTitle);
    ASSERT_TRUE(board) << "no notice board; Dovecot says:\n" << dovecot.log().toStdString();
    QElapsedTimer sinceBoard;
    sinceBoard.start();
    // The count field, 33 × 18 pixels at (208, 0) of the board, inside its frame, against a field of
    // the same kind showing the count as this process draws it.
    const QRect countField(Info(*board)->rect.topLeft() + QPoint(208, 0), QSize(33, 18));
    const QRect inside = QRect(QPoint(0, 0), countField.size()).adjusted(2, 2, -2, -2);
    const auto boardShows = [&](const QString& count) {
        const QImage expected = RenderedField(count, countField.size(), Qt::AlignRight).copy(inside);
        return Until([&] { return Differing(Grab(countField.adjusted(2, 2, -2, -2)), expected) == 0; });
    };
    EXPECT_TRUE(boardShows("3"));
    ASSERT_TRUE(Until([&] { return logins() == 1; })) << dovecot.log().toStdString();

    // The show runs from the moment the board is up, for five minutes; ten seconds into it, with a
    // fourth message come, the check is asked for again.
    dovecot.deliver("alice", MailMessage(4));
    Pause(int(std::max<qint64>(0, 10000 - sinceBoard.elapsed())));
    ASSERT_TRUE(ChooseMenuItem(*clock, kMailCheck));
    EXPECT_TRUE(Until([&] { return logins() == 2; }, 15000)) << "no second login; Dovecot says:\n"
                                                              << dovecot.log().toStdString();
    EXPECT_TRUE(boardShows("4")) << "the board does not show the second check's count";
    SaveArtefact(GrabScreen(), "check-during-show.png");
    ASSERT_TRUE(ChooseMenuItem(*clock, kStopShow));
}

TEST_F(MailCheck, AServerThatSaysNothingNeitherStopsTheClockNorHoldsUpItsClose) {
    testsupport::HandServer silent;  // takes the connection, never greets
    ProgramFolder folder;
    ASSERT_TRUE(folder.ok());
    folder.writeServer(QString::fromStdString(silent.address()));
    folder.writeAccount("alice", "alicepw");
    folder.writeIni("NUMBER2=0\r\n");
    RunningProgram program(folder);
    ASSERT_TRUE(program.started()) << program.error().toStdString();
    const auto clock = program.waitForClock();
    ASSERT_TRUE(clock) << program.error().toStdString();
    const QRect face = FaceRect(*clock);

    ASSERT_TRUE(ChooseMenuItem(*clock, kMailCheck));
    ASSERT_TRUE(Until([&] { return silent.TakeWaiting() == 1; })) << "the check never connected";
    // Waiting for the greeting, the clock still tells the time: its hands move every second.
    QImage before = Grab(face);
    for (int second = 1; second <= 4; ++second) {
        Pause(1000);
        const QImage now = Grab(face);
        EXPECT_NE(now, before) << "the clock stood still in second " << second << " of the stalled check";
        before = now;
    }
    // Closed now, the program is gone at once: it does not wait out the server.
    Activate(*clock);
    Keys({"alt+F4"});
    EXPECT_TRUE(program.waitForExit(1000)) << "still running a second after its close box";
    EXPECT_TRUE(silent.ClosedByClient(0));
    EXPECT_EQ(silent.Heard(0), "CAPA\r\n");  // sent as it connected; nothing at the close, not even QUIT
    EXPECT_TRUE(folder.iniValue("NAME").has_value()) << "the settings were not saved at the close";
}

TEST_F(MailCheck, ACheckOnASilentServerHoldsUpNeitherTheClockNorTheLampNorTheChime) {
    testsupport::HandServer silent;  // takes the connection, never greets
    ProgramFolder folder;
    ASSERT_TRUE(folder.ok());
    folder.writeServer(QString::fromStdString(silent.address()));
    folder.writeAccount("alice", "alicepw");
    folder.writeIni("NUMBER2=1\r\n");  // interval checking on: the lamp blinks
    StartOptions options;
    options.fakeTime = StartOptions::kBeforeOne;
    RunningProgram program(folder, options);
    ASSERT_TRUE(program.started()) << program.error().toStdString();
    const auto clock = program.waitForClock();
    ASSERT_TRUE(clock) << program.error().toStdString();
    const QRect face = FaceRect(*clock);
    // Under the face, the strip: the 16 × 16 lamp at its left, the ticker beside it.
    const QPoint client = face.topLeft() - QPoint(3, 3);
    const QRect lamp(client + QPoint(0, 104), QSize(16, 16));
    const QRect ticker(client + QPoint(18, 104), QSize(92, 18));

    // The bird of one o'clock is out; a check is chosen from the menu meanwhile.
    const QStringList birds = {"Bird1", "Bird2", "Bird3"};
    ASSERT_TRUE(Until([&] { return !FaceShows(Grab(face), folder, birds).isEmpty(); }, 25000)) << "no bird on the hour";
    QElapsedTimer sinceBird;
    sinceBird.start();
    ASSERT_TRUE(ChooseMenuItem(*clock, kMailCheck));
    ASSERT_TRUE(Until([&] { return silent.TakeWaiting() == 1; })) << "the check never connected";
    // The bird goes back in when its second is up, not when the server has been silent for 30 s.
    EXPECT_TRUE(Until([&] { return FaceShows(Grab(face), folder, QStringList{"Watch"} + birds) == "Watch"; }, 5000))
        << "the bird stayed out " << sinceBird.elapsed() << " ms";

    // While the check waits: the hands move every second, the ticker runs, the lamp blinks.
    QImage faceBefore = Grab(face);
    std::set<QByteArray> tickerPictures;
    std::set<QRgb> lampColours;
    for (int second = 1; second <= 4; ++second) {
        for (int quarter = 0; quarter < 4; ++quarter) {
            Pause(250);
            const QImage t = Grab(ticker);
            tickerPictures.insert(QByteArray(reinterpret_cast<const char*>(t.constBits()), int(t.sizeInBytes())));
            lampColours.insert(Grab(lamp).pixel(8, 8) & 0xFFFFFF);
        }
        const QImage now = Grab(face);
        EXPECT_NE(now, faceBefore) << "the hands stood still in second " << second << " of the check";
        faceBefore = now;
    }
    // A ticker that stood still gives one picture; a loaded machine may grab the same one twice.
    EXPECT_GE(tickerPictures.size(), 4u) << "the ticker stood still";
    EXPECT_GE(lampColours.size(), 2u) << "the lamp did not blink";
    // All that time the check went on waiting for the greeting.
    EXPECT_EQ(silent.Heard(0), "CAPA\r\n");
    EXPECT_FALSE(silent.ClosedByClient(0));
}

TEST_F(MailCheck, ASelfSignedCertificateIsAskedAboutOnceAndAgainWhenItChanges) {
    testsupport::DovecotServer dovecot(std::map<QString, QString>{{"alice", "alicepw"}});
    ASSERT_TRUE(dovecot.error().isEmpty()) << dovecot.error().toStdString();
    ProgramFolder folder;
    ASSERT_TRUE(folder.ok());
    folder.writeServer(QString("127.0.0.1:%1").arg(dovecot.pop3Port()));
    folder.writeAccount("alice", "alicepw");
    RunningProgram program(folder);  // the certificate is in no store the program trusts
    ASSERT_TRUE(program.started()) << program.error().toStdString();
    const auto clock = program.waitForClock();
    ASSERT_TRUE(clock) << program.error().toStdString();
    const auto logins = [&] { return dovecot.log().count("user=<alice>"); };
    const QString trust = QStringLiteral("★MailData/iniCert.ini");
    const QString kept = QString("[127.0.0.1:%1]\r\nSHA256=%2\r\n").arg(dovecot.pop3Port());

    // The first check asks, before any login; "はい" keeps the certificate and logs in at once.
    ASSERT_TRUE(ChooseMenuItem(*clock, kMailCheck));
    auto box = WaitForWindow(QStringLiteral("証明書の確認"));
    ASSERT_TRUE(box) << "no certificate box; the program said: " << program.output().toStdString();
    EXPECT_EQ(TransientFor(*box), *clock);
    EXPECT_TRUE(Until([&] { return StackedAbove(*box, *clock); })) << "the box is under the clock";
    Pause(300);  // drawn before the picture is taken
    SaveArtefact(Grab(FrameRect(*box)), "certificate-box.png");
    EXPECT_EQ(logins(), 0);
    Activate(*box);
    Keys({"Return"});  // the default button: Yes
    EXPECT_TRUE(WaitUntilGone(QStringLiteral("証明書の確認")));
    EXPECT_TRUE(Until([&] { return logins() == 1; })) << dovecot.log().toStdString();
    EXPECT_EQ(folder.read(trust), kept.arg(dovecot.fingerprint()).toUtf8());

    // The next check logs in without a word.
    ASSERT_TRUE(ChooseMenuItem(*clock, kMailCheck));
    EXPECT_TRUE(Until([&] { return logins() == 2; })) << dovecot.log().toStdString();
    EXPECT_FALSE(FindWindow(QStringLiteral("証明書の確認")).has_value());

    // A new certificate: the box says it changed; "いいえ" keeps nothing and sends nothing.
    const QString first = dovecot.fingerprint();
    ASSERT_TRUE(dovecot.renewCertificate()) << dovecot.error().toStdString();
    ASSERT_TRUE(ChooseMenuItem(*clock, kMailCheck));
    box = WaitForWindow(QStringLiteral("証明書が変わりました"));
    ASSERT_TRUE(box) << "no box for the changed certificate; the program said: " << program.output().toStdString();
    Pause(300);
    SaveArtefact(Grab(FrameRect(*box)), "certificate-changed-box.png");
    Activate(*box);
    Keys({"Escape"});  // No
    EXPECT_TRUE(WaitUntilGone(QStringLiteral("証明書が変わりました")));
    // That check has ended, with nothing more: the next one asks again, and still nobody logged in.
    ASSERT_TRUE(ChooseMenuItem(*clock, kMailCheck));
    box = WaitForWindow(QStringLiteral("証明書が変わりました"));
    ASSERT_TRUE(box) << program.output().toStdString();
    EXPECT_EQ(logins(), 2);
    EXPECT_FALSE(FindWindow(QStringLiteral("エラー")).has_value());
    EXPECT_EQ(folder.read(trust), kept.arg(first).toUtf8());
    Activate(*box);
    Keys({"Escape"});
    EXPECT_TRUE(WaitUntilGone(QStringLiteral("証明書が変わりました")));
    EXPECT_TRUE(program.running());
}

// Push against a Dovecot that is killed and started again: the push connection comes back by itself,
// without a box, and a delivery after that starts a check; the clock ticks all the while.
TEST_F(MailCheck, PushComesBackQuietlyAfterTheServerIsKilledAndRestarted) {
    testsupport::DovecotServer dovecot(std::map<QString, QString>{{"alice", "alicepw"}});
    ASSERT_TRUE(dovecot.error().isEmpty()) << dovecot.error().toStdString();
    ProgramFolder folder;
    ASSERT_TRUE(folder.ok());
    folder.writeServer(QString("imap://127.0.0.1:%1").arg(dovecot.imapPort()));
    folder.writeAccount("alice", "alicepw");
    folder.writeIni("NUMBER2=1440\r\n");  // interval checking on, no interval check within the test
    StartOptions options;
    options.trustedCertificate = dovecot.certificate();
    RunningProgram program(folder, options);
    ASSERT_TRUE(program.started()) << program.error().toStdString();
    const auto clock = program.waitForClock();
    ASSERT_TRUE(clock) << program.error().toStdString();
    const QRect face = FaceRect(*clock);
    // Dovecot 2.3 logs "Login:", 2.4 "Logged in:"; the push connection and each check log in.
    const auto logins = [&] { return dovecot.log().count(QRegularExpression("(Login|Logged in): user=<alice>")); };
    ASSERT_TRUE(Until([&] { return logins() == 1; }, 20000)) << dovecot.log().toStdString();

    QImage before = Grab(face);
    ASSERT_TRUE(dovecot.killAndRestart()) << dovecot.error().toStdString();
    ASSERT_TRUE(Until([&] { return logins() == 2; }, 20000)) << "push did not come back:\n" << dovecot.log().toStdString();
    EXPECT_NE(Grab(face), before) << "the clock stood still while the server was away";
    before = Grab(face);
    ASSERT_TRUE(dovecot.save("alice", MailMessage(1)));
    ASSERT_TRUE(Until([&] { return logins() == 3; }, 10000)) << "no check after the delivery:\n" << dovecot.log().toStdString();
    EXPECT_TRUE(WaitForWindow(kBoardTitle));
    // Push may bring the board within the same second as the delivery: the hands move at the next one.
    EXPECT_TRUE(Until([&] { return Grab(face) != before; }, 5000)) << "the clock stood still after the delivery";
    EXPECT_FALSE(FindWindow(QStringLiteral("エラー")));
}

TEST_F(MailCheck, ARefusedLoginsBoxIsTheClocksAndAboveIt) {
    testsupport::DovecotServer dovecot(std::map<QString, QString>{{"alice", "alicepw"}});
    ASSERT_TRUE(dovecot.error().isEmpty()) << dovecot.error().toStdString();
    ProgramFolder folder;
    ASSERT_TRUE(folder.ok());
    folder.writeServer(QString("127.0.0.1:%1").arg(dovecot.pop3Port()));
    folder.writeAccount("alice", "not-alicepw");
    StartOptions options;
    options.trustedCertificate = dovecot.certificate();
    RunningProgram program(folder, options);
    ASSERT_TRUE(program.started()) << program.error().toStdString();
    const auto clock = program.waitForClock();
    ASSERT_TRUE(clock) << program.error().toStdString();
    // Another program's window, right over the clock.
    QWidget other;
    other.setWindowTitle("another program");
    other.setGeometry(Info(*clock)->rect.adjusted(-20, -20, 20, 20));
    other.show();
    const auto otherId = WaitForWindow("another program");
    ASSERT_TRUE(otherId);
    Activate(*otherId);

    // Top-most and not: the check's box (opened beside the clock, without a nested loop) is the
    // clock's and above it, and the clock stays above the other window as it was.
    for (const bool topMost : {true, false}) {
        SCOPED_TRACE(topMost ? "top-most" : "top-most off");
        if (!topMost) {
            ASSERT_TRUE(ChooseMenuItem(*clock, kTopMostOff));
            ASSERT_TRUE(Until([&] { return !Above(*clock); })) << NetWmState(*clock).toStdString();
        }
        ASSERT_TRUE(ChooseMenuItem(*clock, kMailCheck));
        const auto box = WaitForWindow(QStringLiteral("エラー"));
        ASSERT_TRUE(box) << "no box; Dovecot says:\n" << dovecot.log().toStdString();
        EXPECT_EQ(TransientFor(*box), *clock);
        EXPECT_TRUE(Until([&] { return StackedAbove(*box, *clock); })) << "the box is under the clock";
        if (topMost) {
            EXPECT_TRUE(Until([&] { return StackedAbove(*clock, *otherId); })) << "the clock went under another window";
            EXPECT_TRUE(Above(*clock)) << NetWmState(*clock).toStdString();
            SaveArtefact(GrabScreen(), "check-error-box.png");
        }
        Activate(*box);
        Keys({"Return"});
        ASSERT_TRUE(WaitUntilGone(QStringLiteral("エラー")));
    }
}
