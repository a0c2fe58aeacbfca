#include "LabSchemaCheck.h"

#include "CAdoDatabase.h"
#include "CAdoRecordset.h"

namespace {
// The tables and the view the program queries, each probed without reading a row.
const char* const kLabObjects[] = {"RESULTS", "VET_PROFILES", "vResults2_vet"};
const char* const kProbe = "SELECT 1 FROM %1 WHERE 1=0";
} // namespace

LabSchemaCheck LabSchemaCheck::Run(CAdoDatabase* database) {
    LabSchemaCheck result;
    CAdoRecordset probe;
    for (const char* object : kLabObjects) {
        if (!probe.Open(QString::fromLatin1(kProbe).arg(QLatin1String(object)), database)) {
            result.ok = false;
            result.object = QLatin1String(object);
            result.reason = probe.ErrorText();
            return result;
        }
        probe.Close();
    }
    return result;
}

int TableExists(CAdoDatabase* database, const QString& table, QString* error) {
    if (!database)
        return -1;
    CAdoRecordset probe;
    QVariant count;
    int answer = -1;
    if (probe.Open(database->dialect().tableExistsQuery(), database, {table}) && !probe.IsEOF() &&
        probe.GetFieldValue(QStringLiteral("n"), &count))
        answer = count.toInt() > 0 ? 1 : 0;
    else if (error)
        *error = probe.ErrorText();
    probe.Close();
    return answer;
}
