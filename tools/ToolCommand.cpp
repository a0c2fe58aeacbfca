#include "ToolCommand.h"

#include "DatabaseConnection.h"
#include "DatabaseProblems.h"
#include "LabSchemaCheck.h"
#include "SqliteIntegrityCheck.h"

#include <memory>

void sayTool(FILE* stream, const QString& text) {
    std::fprintf(stream, "labrosa-dbtool: %s\n", text.toUtf8().constData());
}

int splitToolCommand(const QStringList& args, const char* option,
                     const std::vector<std::pair<const char*, int>>& actions, QStringList* words, QString* error,
                     const QString& unknownAction, const QString& wrongCount) {
    words->clear();
    for (int i = 1; i < args.size(); ++i)
        if (args.at(i) != QLatin1String(option))
            *words << args.at(i);
    const QString action = words->isEmpty() ? QString() : words->takeFirst();
    for (int i = 0; i < int(actions.size()); ++i) {
        if (action != QLatin1String(actions[i].first))
            continue;
        if (words->size() == actions[i].second)
            return i;
        *error = wrongCount;
        return -1;
    }
    *error = unknownAction;
    return -1;
}

bool openToolDatabase(const QString& target, const char* table, const QString& missingTable,
                      DatabaseConnection* database) {
    const QString connection =
        target.contains(QLatin1Char('=')) ? target : QStringLiteral("Provider=SQLite;Data Source=%1").arg(target);
    // Made before the open, which applies a -wal or -journal lying beside the file.
    const std::shared_ptr<SqliteIntegrityCheck> check = SqliteIntegrityCheck::forConnection(connection);
    if (!database->open(connection)) {
        sayTool(stderr, QStringLiteral("nu se poate deschide baza de date: %1").arg(databaseReason(*database)));
        return false;
    }
    // A damaged SQLite file is not written, not even by the checkpoint of its -wal on close.
    if (check && !check->run()) {
        SqliteIntegrityCheck::keepWalOnClose(database->connection());
        sayTool(stderr, damagedDatabaseText(*check));
        return false;
    }
    QString error;
    const int exists = tableExists(database, QString::fromLatin1(table), &error);
    if (exists == 1)
        return true;
    sayTool(stderr, exists == 0 ? missingTable : QStringLiteral("nu se poate citi baza de date: %1").arg(error));
    return false;
}
