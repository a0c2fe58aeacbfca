#include "MdbImport.h"

#include "DatabaseConnection.h"
#include "DatabaseProblems.h"
#include "ImportMapping.h"
#include "MdbReader.h"
#include "ResultImporter.h"
#include "SqliteIntegrityCheck.h"

#include <QElapsedTimer>
#include <QFileInfo>

#include <cstdio>

namespace {

void say(const QString& text) {
    std::fprintf(stderr, "labrosa-dbtool: %s\n", text.toUtf8().constData());
    std::fflush(stderr);
}

} // namespace

bool parseMdbImportArguments(const QStringList& args, MdbImportRequest* request, QString* error) {
    for (int i = 1; i < args.size(); ++i) {
        const QString& a = args.at(i);
        if (a == QLatin1String("--import-mdb") || a == QLatin1String("--map")) {
            if (i + 1 >= args.size()) {
                *error = QStringLiteral("%1 cere numele unui fisier").arg(a);
                return false;
            }
            (a == QLatin1String("--map") ? request->mapping : request->file) = args.at(++i);
        } else if (a == QLatin1String("--replace")) {
            request->replace = true;
        } else if (a.startsWith(QLatin1String("--")) || !request->target.isEmpty()) {
            *error = QStringLiteral("%1 nu se foloseste cu --import-mdb").arg(a);
            return false;
        } else {
            request->target = a;
        }
    }
    if (request->file.isEmpty() || request->target.isEmpty()) {
        *error = QStringLiteral("--import-mdb cere fisierul .mdb si baza de date in care se importa");
        return false;
    }
    return true;
}

int runMdbImport(const MdbImportRequest& request) {
    QElapsedTimer timer;
    timer.start();
    QString error;
    ImportMapping mapping;
    if (!request.mapping.isEmpty() && !mapping.load(request.mapping, &error)) {
        say(error);
        return 1;
    }
    say(QStringLiteral("%1: se verifica fisierul").arg(request.file));
    MdbReader reader;
    if (!MdbReader::probe(request.file, &error) || !reader.open(request.file, &error)) {
        say(error);
        return 1;
    }
    say(QStringLiteral("%1 (%2): fisierul se citeste intreg").arg(request.file, reader.formatName()));

    const QString connection = request.target.contains(QLatin1Char('='))
                                   ? request.target
                                   : QStringLiteral("Provider=SQLite;Data Source=%1").arg(request.target);
    // Made before the open, which applies a -wal or -journal lying beside the file.
    const std::shared_ptr<SqliteIntegrityCheck> check = SqliteIntegrityCheck::forConnection(connection);
    DatabaseConnection database;
    if (!database.open(connection)) {
        const QString reason = database.errorText().simplified();
        const QString file = database.databaseFile();
        const QString fullDisk = QFileInfo(file).isFile() ? fullDiskText(file, reason) : QString();
        say(!fullDisk.isEmpty()
                ? fullDisk
                : QStringLiteral("baza de date %1 nu se poate deschide: %2. O baza de date noua se face cu --empty.")
                      .arg(request.target.contains(QLatin1Char('=')) ? database.m_databaseName : request.target,
                           reason));
        return 1;
    }
    if (check) {
        say(QStringLiteral("%1: se verifica integritatea bazei de date").arg(request.target));
        if (!check->run()) {
            SqliteIntegrityCheck::keepWalOnClose(database.connection());
            say(damagedDatabaseText(*check));
            return 1;
        }
    }
    ImportOptions options;
    options.replace = request.replace;
    options.progress = say;
    ImportSummary summary;
    ResultImporter importer(database.connection());
    if (!importer.run(reader, mapping, options, &summary, &error)) {
        say(error);
        return 1;
    }
    for (const TableImport& t : summary.tables) {
        // The old values of the sets replaced, which the replacing rows took the place of.
        const QString removed =
            t.removed > 0 ? QStringLiteral(" (in locul a %1 randuri vechi)").arg(t.removed) : QString();
        std::printf("labrosa-dbtool: %s <- %s: %lld randuri citite, %lld adaugate, %lld inlocuite%s; %s are acum %lld "
                    "randuri\n",
                    t.target.toUtf8().constData(), t.source.toUtf8().constData(), static_cast<long long>(t.sourceRows),
                    static_cast<long long>(t.inserted), static_cast<long long>(t.replaced),
                    removed.toUtf8().constData(), t.target.toUtf8().constData(), static_cast<long long>(t.targetRows));
    }
    std::printf("labrosa-dbtool: import incheiat in %.1f s\n", timer.elapsed() / 1000.0);
    return 0;
}
