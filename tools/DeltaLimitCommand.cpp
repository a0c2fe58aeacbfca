#include "DeltaLimitCommand.h"

#include "DatabaseConnection.h"
#include "Recordset.h"
#include "ToolCommand.h"

#include <cmath>
#include <cstdio>

namespace {

const char* const kDelete = "DELETE FROM PARAMETER_DELTA_LIMITS WHERE MachineID = ? AND refcode = ?";
const char* const kInsert =
    "INSERT INTO PARAMETER_DELTA_LIMITS (MachineID, refcode, maxChange, maxChangePercent) VALUES (?, ?, ?, ?)";
const char* const kSelectAll =
    "SELECT MachineID, refcode, maxChange, maxChangePercent FROM PARAMETER_DELTA_LIMITS ORDER BY MachineID, refcode";
const char* const kParameter = "SELECT 1 FROM PARAMETERS WHERE MachineID = ? AND refcode = ?";

// "-" for none, else a number of 0 or more (a comma may stand for the decimal point).
bool parseLimit(QString text, QVariant* limit) {
    text = text.trimmed();
    if (text == QLatin1String("-")) {
        *limit = QVariant();
        return true;
    }
    text.replace(QLatin1Char(','), QLatin1Char('.'));
    bool ok = false;
    const double value = text.toDouble(&ok);
    if (!ok || !std::isfinite(value) || value < 0)
        return false;
    *limit = value;
    return true;
}

QString limitText(const QVariant& value, const char* suffix) {
    return value.isNull() ? QStringLiteral("-") : QString::number(value.toDouble(), 'g', 10) + QLatin1String(suffix);
}

} // namespace

bool parseDeltaLimitArguments(const QStringList& args, DeltaLimitCommand* command, QString* error) {
    QStringList rest;
    const int action = splitToolCommand(
        args, "--delta-limit", {{"set", 5}, {"clear", 3}, {"list", 1}}, &rest, error,
        QStringLiteral("--delta-limit cere set, clear sau list"),
        QStringLiteral("--delta-limit set cere MACHINEID REFCODE MAXIM PROCENT si baza de date; clear cere "
                       "MACHINEID REFCODE si baza de date; list cere baza de date"));
    if (action < 0)
        return false;
    // The actions are named in the order of the enumeration.
    command->action = static_cast<DeltaLimitCommand::Action>(action);
    const int expected = int(rest.size());
    command->target = rest.takeLast();
    if (expected >= 3) {
        bool ok = false;
        command->machineId = rest.takeFirst().trimmed().toInt(&ok);
        command->refcode = rest.takeFirst().trimmed();
        if (!ok || command->refcode.isEmpty() || command->refcode.size() > 20) {
            *error = QStringLiteral("MACHINEID este numarul aparatului, REFCODE codul parametrului (1 - 20 caractere)");
            return false;
        }
    }
    if (expected == 5) {
        if (!parseLimit(rest.takeFirst(), &command->maxChange) ||
            !parseLimit(rest.takeFirst(), &command->maxChangePercent)) {
            *error = QStringLiteral("MAXIM si PROCENT sunt numere de la 0 in sus, sau - cand limita lipseste");
            return false;
        }
        if (command->maxChange.isNull() && command->maxChangePercent.isNull()) {
            *error = QStringLiteral("nicio limita data; o limita se sterge cu --delta-limit clear");
            return false;
        }
    }
    return true;
}

int runDeltaLimitCommand(const DeltaLimitCommand& command) {
    DatabaseConnection database;
    if (!openToolDatabase(command.target, "PARAMETER_DELTA_LIMITS",
                          QStringLiteral("baza de date nu are tabela limitelor de schimbare; adaugati-o cu "
                                         "labrosa-dbtool --upgrade"),
                          &database))
        return 1;
    if (command.action == DeltaLimitCommand::Action::list) {
        Recordset read;
        if (!read.open(QString::fromLatin1(kSelectAll), &database)) {
            sayTool(stderr, read.errorText());
            return 1;
        }
        QVariant machine, refcode, change, percent;
        while (!read.isEOF()) {
            read.getFieldValueAt(0, &machine);
            read.getFieldValueAt(1, &refcode);
            read.getFieldValueAt(2, &change);
            read.getFieldValueAt(3, &percent);
            std::printf("%d\t%s\t%s\t%s\n", machine.toInt(), refcode.toString().toUtf8().constData(),
                        limitText(change, "").toUtf8().constData(), limitText(percent, "%").toUtf8().constData());
            read.moveNext();
        }
        const bool complete = !read.readFailed();
        if (!complete)
            sayTool(stderr, read.errorText());
        return complete ? 0 : 1;
    }

    const QString parameter = QStringLiteral("%1 %2").arg(command.machineId).arg(command.refcode);
    if (command.action == DeltaLimitCommand::Action::set) {
        // A code the laboratory's parameter list does not know is most likely mistyped.
        Recordset known;
        if (known.open(QString::fromLatin1(kParameter), &database, {command.machineId, command.refcode}) &&
            known.isEOF())
            sayTool(stderr,
                    QStringLiteral("atentie: parametrul %1 nu este in lista parametrilor (PARAMETERS)").arg(parameter));
    }
    // Replaced in one transaction: a parameter never has two limits, nor none for a moment.
    if (!database.beginTransaction()) {
        sayTool(stderr, databaseReason(database));
        return 1;
    }
    bool ok = database.execute(QString::fromLatin1(kDelete), {command.machineId, command.refcode});
    const bool removed = ok && database.rowsAffected() > 0;
    if (ok && command.action == DeltaLimitCommand::Action::set) {
        const QVariant none = QVariant(QMetaType::fromType<double>());
        ok =
            database.execute(QString::fromLatin1(kInsert),
                             {command.machineId, command.refcode, command.maxChange.isNull() ? none : command.maxChange,
                              command.maxChangePercent.isNull() ? none : command.maxChangePercent});
    }
    if (!ok || !database.commitTransaction()) {
        const QString reason = databaseReason(database);
        database.rollbackTransaction();
        sayTool(stderr, QStringLiteral("nu s-a schimbat nimic: %1").arg(reason));
        return 1;
    }
    if (command.action == DeltaLimitCommand::Action::set)
        sayTool(stdout,
                QStringLiteral("limita de schimbare a parametrului %1: %2, %3")
                    .arg(parameter, limitText(command.maxChange, ""), limitText(command.maxChangePercent, "%")));
    else
        sayTool(stdout, removed ? QStringLiteral("parametrul %1 nu mai are limita de schimbare").arg(parameter)
                                : QStringLiteral("parametrul %1 nu avea limita de schimbare").arg(parameter));
    return 0;
}
