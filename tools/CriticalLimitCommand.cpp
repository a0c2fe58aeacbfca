#include "CriticalLimitCommand.h"

#include <QRegularExpression>

#include "DatabaseConnection.h"
#include "Recordset.h"
#include "ToolCommand.h"

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
    const int action = splitToolCommand(
        args, "--critical-limit", {{"set", 6}, {"clear", 4}, {"list", 1}}, &rest, error,
        QStringLiteral("--critical-limit cere set, clear sau list"),
        QStringLiteral("--critical-limit set cere PROFIL COD SEX MIN MAX si baza de date; clear cere PROFIL "
                       "COD SEX si baza de date; list cere baza de date (SEX, MIN sau MAX gol: \"\")"));
    if (action < 0)
        return false;
    // The actions are named in the order of the enumeration.
    command->action = static_cast<CriticalLimitCommand::Action>(action);
    const int expected = int(rest.size());
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
    if (!openToolDatabase(command.target, "CRITICAL_VALUES",
                          QStringLiteral("baza de date nu are tabela valorilor critice; adaugati-o cu "
                                         "labrosa-dbtool --upgrade"),
                          &database))
        return 1;
    if (command.action == CriticalLimitCommand::Action::list) {
        Recordset read;
        if (!read.open(QString::fromLatin1(kSelectAll), &database)) {
            sayTool(stderr, read.errorText());
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
            sayTool(stderr, read.errorText());
        return complete ? 0 : 1;
    }

    // One row per profile, code and sex: the old one goes in the same transaction.
    if (!database.beginTransaction()) {
        sayTool(stderr, databaseReason(database));
        return 1;
    }
    bool ok =
        database.execute(QString::fromLatin1(kDelete), {command.profileId, command.refcode, command.sex, command.sex});
    if (ok && command.action == CriticalLimitCommand::Action::set)
        ok = database.execute(QString::fromLatin1(kInsert),
                              {command.profileId, command.refcode, nullWhenEmpty(command.sex),
                               nullWhenEmpty(command.low), nullWhenEmpty(command.high)});
    if (!ok || !database.commitTransaction()) {
        const QString reason = databaseReason(database);
        database.rollbackTransaction();
        sayTool(stderr, QStringLiteral("nu s-a schimbat nimic: %1").arg(reason));
        return 1;
    }
    const QString sexText = command.sex.isEmpty() ? QStringLiteral("oricare sex") : command.sex;
    sayTool(stdout,
            command.action == CriticalLimitCommand::Action::set
                ? QStringLiteral("profilul %1, %2, %3: limite critice %4 .. %5")
                      .arg(QString::number(command.profileId), command.refcode, sexText, command.low, command.high)
                : QStringLiteral("profilul %1, %2, %3: fara limite critice")
                      .arg(QString::number(command.profileId), command.refcode, sexText));
    return 0;
}
