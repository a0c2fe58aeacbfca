#include "ProgramOptions.h"

#include <QCommandLineParser>

#include <cstdio>

namespace ProgramOptions {

int answer(const QStringList& arguments, bool qtOptionsRemoved) {
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Cauta, corecteaza si tipareste rezultatele analizelor unui laborator."));
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    parser.addOption(QCommandLineOption(
        QStringLiteral("database"),
        QStringLiteral("Deschide baza de date pe care o numeste sirul de conectare (altfel LABROSA_DATABASE)."),
        QStringLiteral("conexiune")));
    parser.addOption(QCommandLineOption(QStringLiteral("lab-dir"),
                                        QStringLiteral("Folderul laboratorului, cu lab.db si fisierele lui."),
                                        QStringLiteral("folder")));

    // What follows --webEngineArgs belongs to the bulletin view's browser engine.
    const qsizetype engine = arguments.indexOf(QStringLiteral("--webEngineArgs"));
    if (!parser.parse(engine < 0 ? arguments : arguments.mid(0, engine))) {
        if (!qtOptionsRemoved)
            return kStart;
        std::fprintf(stderr, "labrosa: %s\n\n%s", parser.errorText().toLocal8Bit().constData(),
                     parser.helpText().toLocal8Bit().constData());
        return 2;
    }
    // --help-all gets the same text; the manual page names Qt's own options.
    if (parser.isSet(help) || parser.isSet(QStringLiteral("help-all"))) {
        std::fputs(parser.helpText().toLocal8Bit().constData(), stdout);
        return 0;
    }
    if (parser.isSet(version)) {
        std::printf("labrosa %s\n", LABROSA_VERSION);
        return 0;
    }
    return kStart;
}

} // namespace ProgramOptions
