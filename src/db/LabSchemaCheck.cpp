#include "LabSchemaCheck.h"

#include "DatabaseConnection.h"
#include "Recordset.h"

namespace {
// The tables and the view the program queries, each probed without reading a row.
const char* const kLabObjects[] = {"RESULTS", "VET_PROFILES", "vResults2_vet"};
const char* const kProbe = "SELECT 1 FROM %1 WHERE 1=0";
} // namespace

LabSchemaCheck LabSchemaCheck::run(DatabaseConnection* database) {
    LabSchemaCheck result;
    Recordset probe;
    for (const char* object : kLabObjects) {
        if (!probe.open(QString::fromLatin1(kProbe).arg(QLatin1String(object)), database)) {
            result.ok = false;
            result.object = QLatin1String(object);
            result.reason = probe.errorText();
            return result;
        }
        probe.close();
    }
    return result;
}

int tableExists(DatabaseConnection* database, const QString& table, QString* error) {
    if (!database)
        return -1;
    Recordset probe;
    QVariant count;
    int answer = -1;
    if (probe.open(database->dialect().tableExistsQuery(), database, {table}) && !probe.isEOF() &&
        probe.getFieldValue(QStringLiteral("n"), &count))
        answer = count.toInt() > 0 ? 1 : 0;
    else if (error)
        *error = probe.errorText();
    probe.close();
    return answer;
}

int columnExists(DatabaseConnection* database, const QString& table, const QString& column, QString* error) {
    if (!database)
        return -1;
    Recordset probe;
    QVariant count;
    int answer = -1;
    if (probe.open(database->dialect().columnExistsQuery(), database, {table, column}) && !probe.isEOF() &&
        probe.getFieldValue(QStringLiteral("n"), &count))
        answer = count.toInt() > 0 ? 1 : 0;
    else if (error)
        *error = probe.errorText();
    probe.close();
    return answer;
}
