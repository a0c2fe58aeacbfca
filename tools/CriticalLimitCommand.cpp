#include "CriticalLimitCommand.h"

#include <QRegularExpression>

#include "DatabaseConnection.h"
#include "LabSchemaCheck.h"
#include "Recordset.h"

#include <cstdio>

namespace {

// A NULL sex is matched with IS NULL, so the row of either sex is told apart from a sex's own.
const char* const kDelete = "DELETE FROM CRITICAL_VALUES WHERE profileID = ? AND refcode = ? AND "
                            "((sex IS NULL AND ? = '') OR sex = ?)";
const char* const kInsert =
    "INSERT INTO CRITICAL_VALUES (profileID, refcode, sex, criticalLow, criticalHigh) VALUES (?, ?, ?, ?, ?)";
const char* const kSelectAll = "SELECT profileID, refcode, sex, criticalLow, criticalHigh FROM CRITICAL_VALUES "
                               "ORDER BY profileID, refcode, CASE WHEN sex IS NULL THEN 0 ELSE 1 END, sex";

// The longest texts the table holds, refused rather than cut.
constexpr int kMaxRefcode = 20;
constexpr int kMaxSex = 10;
constexpr int kMaxLimit = 30;

void say(FILE* stream, const QString& text) {
    std::fprintf(stream, "labrosa-dbtool: %s\n", text.toUtf8().constData());
}

QString describe(const DatabaseConnection& database) {
    for (const QString& line : database.m_comError.split(QLatin1Char('\n')))
        if (line.startsWith(QLatin1String("\tDescription = ")))
            return line.mid(15).trimmed();
    return database.m_comError.simplified();
}

// A limit is read by its leading number, as the bulletin reads an interval's bound: one
// without a number would never mark anything.
bool isLimit(const QString& text) {
    static const QRegularExpression number(QStringLiteral("^\\s*[+-]?([0-9]|[.,][0-9])"));
    return text.isEmpty() || (text.size() <= kMaxLimit && number.match(text).hasMatch());
}

QVariant nullWhenEmpty(const QString& text) {
    return text.isEmpty() ? QVariant() : QVariant(text);
}

} // namespace

bool parseCriticalLimitArguments(const QStringList& args, CriticalLimitCommand* command, QString* error) {
    QStringList rest;
    for (int i = 1; i < args.size(); ++i)
        if (args.at(i) != QLatin1String("--critical-limit"))
            rest << args.at(i);
    const QString action = rest.isEmpty() ? QString() : rest.takeFirst();
    int expected = 0;
    if (action == QLatin1String("set")) {
        command->action = CriticalLimitCommand::Action::set;
        expected = 6;
    } else if (action == QLatin1String("clear")) {
        command->action = CriticalLimitCommand::Action::clear;
        expected = 4;
    } else if (action == QLatin1String("list")) {
        command->action = CriticalLimitCommand::Action::list;
        expected = 1;
    } else {
        *error = QStringLiteral("--critical-limit cere set, clear sau list");
        return false;
    }
    if (rest.size() != expected) {
        *error = QStringLiteral("--critical-limit set cere PROFIL COD SEX MIN MAX si baza de date; clear cere PROFIL "
                                "COD SEX si baza de date; list cere baza de date (SEX, MIN sau MAX gol: \"\")");
        return false;
    }
    command->target = rest.takeLast();
    if (expected == 1)
        return true;
    bool ok = false;
    command->profileId = rest.takeFirst().trimmed().toInt(&ok);
    if (!ok || command->profileId < -32768 || command->profileId > 32767) {
        *error = QStringLiteral("PROFIL este numarul profilului (VET_PROFILES.id)");
        return false;
    }
    command->refcode = rest.takeFirst().trimmed();
    command->sex = rest.takeFirst().trimmed();
    if (command->refcode.isEmpty() || command->refcode.size() > kMaxRefcode || command->sex.size() > kMaxSex) {
        *error = QStringLiteral("COD are intre 1 si %1 caractere, SEX cel mult %2 (gol: oricare)")
                     .arg(kMaxRefcode)
                     .arg(kMaxSex);
        return false;
    }
    if (expected == 6) {
        command->low = rest.takeFirst().trimmed();
        command->high = rest.takeFirst().trimmed();
        if ((command->low.isEmpty() && command->high.isEmpty()) || !isLimit(command->low) || !isLimit(command->high)) {
            *error = QStringLiteral("MIN si MAX sunt numere de cel mult %1 caractere, cel putin unul dat (gol: fara "
                                    "limita)")
                         .arg(kMaxLimit);
            return false;
        }
    }
    return true;
}

int runCriticalLimitCommand(const CriticalLimitCommand& command) {
    DatabaseConnection database;
    const QString connection = command.target.contains(QLatin1Char('='))
                                   ? command.target
                                   : QStringLiteral("Provider=SQLite;Data Source=%1").arg(command.target);
    if (!database.open(connection)) {
        say(stderr, QStringLiteral("nu se poate deschide baza de date: %1").arg(describe(database)));
        return 1;
    }
    QString error;
    const int exists = tableExists(&database, QStringLiteral("CRITICAL_VALUES"), &error);
    if (exists != 1) {
        say(stderr, exists == 0 ? QStringLiteral("baza de date nu are tabela valorilor critice; adaugati-o cu "
                                                 "labrosa-dbtool --upgrade")
                                : QStringLiteral("nu se poate citi baza de date: %1").arg(error));
        return 1;
    }
    if (command.action == CriticalLimitCommand::Action::list) {
        Recordset read;
        if (!read.open(QString::fromLatin1(kSelectAll), &database)) {
            say(stderr, read.errorText());
            return 1;
        }
        QVariant profile, code, sex, low, high;
        while (!read.isEOF()) {
            read.getFieldValue(QStringLiteral("profileID"), &profile);
            read.getFieldValue(QStringLiteral("refcode"), &code);
            read.getFieldValue(QStringLiteral("sex"), &sex);
            read.getFieldValue(QStringLiteral("criticalLow"), &low);
            read.getFieldValue(QStringLiteral("criticalHigh"), &high);
            std::printf("%s\t%s\t%s\t%s\t%s\n", profile.toString().toUtf8().constData(),
                        code.toString().toUtf8().constData(),
                        sex.isNull() ? "oricare" : sex.toString().toUtf8().constData(),
                        low.toString().toUtf8().constData(), high.toString().toUtf8().constData());
            read.moveNext();
        }
        const bool complete = !read.readFailed();
        if (!complete)
            say(stderr, read.errorText());
        return complete ? 0 : 1;
    }

    // One row per profile, code and sex: the old one goes in the same transaction.
    if (!database.beginTransaction()) {
        say(stderr, describe(database));
        return 1;
    }
    bool ok =
        database.execute(QString::fromLatin1(kDelete), {command.profileId, command.refcode, command.sex, command.sex});
    if (ok && command.action == CriticalLimitCommand::Action::set)
        ok = database.execute(QString::fromLatin1(kInsert),
                              {command.profileId, command.refcode, nullWhenEmpty(command.sex),
                               nullWhenEmpty(command.low), nullWhenEmpty(command.high)});
    if (!ok || !database.commitTransaction()) {
        const QString reason = describe(database);
        database.rollbackTransaction();
        say(stderr, QStringLiteral("nu s-a schimbat nimic: %1").arg(reason));
        return 1;
    }
    const QString sexText = command.sex.isEmpty() ? QStringLiteral("oricare sex") : command.sex;
    say(stdout, command.action == CriticalLimitCommand::Action::set
                    ? QStringLiteral("profilul %1, %2, %3: limite critice %4 .. %5")
                          .arg(QString::number(command.profileId), command.refcode, sexText, command.low, command.high)
                    : QStringLiteral("profilul %1, %2, %3: fara limite critice")
                          .arg(QString::number(command.profileId), command.refcode, sexText));
    return 0;
}
