// Build-time tool: turns a score (see assets/tune/kouka.score for the notation) into a Standard
// MIDI File.  Usage: vellumine_make_tune SCORE OUTPUT.mid
#include "artkit/score.h"

#include <QCoreApplication>
#include <QFile>
#include <QSaveFile>

#include <cstdio>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() != 3) {
        std::fprintf(stderr, "usage: %s SCORE OUTPUT.mid\n", argv[0]);
        return 2;
    }
    QFile in(args[1]);
    if (!in.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "cannot read %s\n", qPrintable(args[1]));
        return 1;
    }
    try {
        const auto score = vellumine::artkit::parseScore(QString::fromUtf8(in.readAll()));
        QSaveFile out(args[2]);
        if (!out.open(QIODevice::WriteOnly)) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(args[2]));
            return 1;
        }
        out.write(vellumine::artkit::writeMidi(score));
        if (!out.commit()) return 1;
        std::printf("%s: %d bars, %.1f s\n", qPrintable(args[2]), score.totalTicks / score.ticksPerBar(),
                    score.seconds());
    } catch (const vellumine::artkit::ScoreError& e) {
        std::fprintf(stderr, "%s:%s\n", qPrintable(args[1]), e.what());
        return 1;
    }
    return 0;
}
