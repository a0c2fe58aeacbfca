#include "BackupCommand.h"

#include "BackupSettings.h"
#include "ConnectionString.h"
#include "DatabaseBackup.h"
#include "DatabaseRestore.h"
#include "ToolCommand.h"

#include <QCommandLineParser>
#include <QDir>
#include <QFileInfo>

namespace {
const char* const kMsgArguments = "--backup cere dosarul copiilor si baza de date; --restore cere dosarul copiei si "
                                  "baza de date SQLite";
const char* const kMsgMade = "copia %1: %2 seturi de rezultate, ultimul transfer %3, %4 octeti, SHA-256 %5; "
                             "verificata: %6; %7 fisiere ale laboratorului";
const char* const kMsgRemoved = "copia veche %1 a fost stearsa (rotatia)";
const char* const kMsgRestored = "copia %1 (%2 seturi de rezultate, ultimul transfer %3) este acum baza de date %4";
const char* const kMsgSetAside = "baza de date de dinainte a fost pusa deoparte: %1";
const char* const kMsgRestorePg =
    "o baza de date PostgreSQL o pune la loc administratorul: pg_restore --clean --if-exists --no-owner "
    "--dbname \"%1\" \"<copia>.dump\"";

QString connectionOf(const QString& target) {
    return target.contains(QLatin1Char('=')) ? target : QStringLiteral("Provider=SQLite;Data Source=%1").arg(target);
}
} // namespace

bool parseBackupArguments(const QStringList& args, BackupCommand* command, QString* error) {
    QCommandLineParser parser;
    const QCommandLineOption backup(QStringLiteral("backup"), QString(), QStringLiteral("DEST"));
    const QCommandLineOption restore(QStringLiteral("restore"), QString(), QStringLiteral("COPIE"));
    parser.addOption(backup);
    parser.addOption(restore);
    parser.addPositionalArgument(QStringLiteral("database"), QString());
    if (!parser.parse(args)) {
        *error = parser.errorText();
        return false;
    }
    if (parser.isSet(backup) == parser.isSet(restore) || parser.positionalArguments().size() != 1) {
        *error = QLatin1String(kMsgArguments);
        return false;
    }
    command->restore = parser.isSet(restore);
    command->folder = parser.value(command->restore ? restore : backup);
    command->target = parser.positionalArguments().constFirst();
    return !command->folder.isEmpty() && !command->target.isEmpty();
}

int runBackupCommand(const BackupCommand& command) {
    const QString connection = connectionOf(command.target);
    const ConnectionString parsed = ConnectionString::parse(connection);
    if (command.restore) {
        if (!parsed.isSQLite()) {
            sayTool(stderr, QString::fromLatin1(kMsgRestorePg).arg(parsed.value(QStringLiteral("Database"))));
            return 2;
        }
        RestoreResult result;
        QString error;
        if (!DatabaseRestore::run(command.folder, parsed.sqliteFile(), &result, &error)) {
            sayTool(stderr, error);
            return 1;
        }
        sayTool(stdout, QString::fromLatin1(kMsgRestored)
                            .arg(command.folder)
                            .arg(result.manifest.resultSets)
                            .arg(result.manifest.newestTransfer, QFileInfo(parsed.sqliteFile()).absoluteFilePath()));
        if (!result.setAside.isEmpty())
            sayTool(stdout, QString::fromLatin1(kMsgSetAside).arg(result.setAside));
        return 0;
    }
    // The laboratory's files are those beside a SQLite database, or of the current folder.
    const QString labFolder = parsed.isSQLite() ? QFileInfo(parsed.sqliteFile()).absolutePath() : QDir::currentPath();
    DatabaseBackup backup(connection, labFolder);
    BackupResult result;
    QString error;
    if (!backup.make(command.folder, false, BackupSettings(), &result, &error)) {
        sayTool(stderr, error);
        return 1;
    }
    const BackupManifest& made = result.manifest;
    sayTool(stdout, QString::fromLatin1(kMsgMade)
                        .arg(result.folder)
                        .arg(made.resultSets)
                        .arg(made.newestTransfer)
                        .arg(made.size)
                        .arg(made.sha256, made.check)
                        .arg(made.labFiles));
    for (const QString& removed : result.removed)
        sayTool(stdout, QString::fromLatin1(kMsgRemoved).arg(removed));
    if (!result.rotationProblem.isEmpty())
        sayTool(stderr, result.rotationProblem);
    return 0;
}
