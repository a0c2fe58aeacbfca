#include "BulletinBuilder.h"

#include <QFile>

#include "BulletinWriter.h"
#include "CAdoDatabase.h"
#include "CAdoRecordset.h"
#include "CDocTemplate.h"
#include "INILoader.h"
#include "SqlDialect.h"
#include "StructuraInterna.h"
#include "TextUtils.h"

namespace {

// Every record of the request transferred that day, together with the clicked record;
// %1 is the dialect's condition for the day, %2 the set date read as text, %3 the analysis
// name in an order that ignores letter case on every backend. A missing analyser name or
// order sorts first on every backend (PostgreSQL would put NULLs last).
constexpr const char* kBulletinQuery =
    "select PacientName, RequestID, AnalyseName, VSH, %2 as procDate, Age, sex, comment, MachineID, "
    "refcode as refCode, minValue, maxValue, refName, stringvalue, um, VET_PROFILES.profileName as profilename "
    "from vResults2_vet left join VET_PROFILES on VET_PROFILES.id = vResults2_vet.profileID "
    "where (results_id = ? or RequestID = ?) and %1 "
    "order by %3 nulls first, AnalyseName, \"order\" nulls first";

constexpr const char* kSettingsFile = "Labrosa.ini";

// The room each field had in the bulletin's fixed buffers, terminator included; longer
// texts are cut.
constexpr int kRequestCodeSize = 51;
constexpr int kSetDateSize = 51;
constexpr int kAgeSexSize = 11;
constexpr int kNameCodeProfileSize = 199;
constexpr int kPatientTitleBoundSize = 255;
constexpr int kUnitSize = 103;
constexpr int kValueSize = 1035;

constexpr char kRecordSeparator = 30;

// A column as text in UTF-8, cut to fit a buffer of bufferSize bytes; NULL gives "".
std::string FieldText(CAdoRecordset& rs, const char* column, int bufferSize) {
    QVariant value;
    if (!rs.GetFieldValue(QString::fromLatin1(column), &value) || value.isNull())
        return std::string();
    std::string text = value.toString().toStdString();
    CutUtf8(text, bufferSize - 1);
    return text;
}

std::string FieldInteger(CAdoRecordset& rs, const char* column) {
    QVariant value;
    if (!rs.GetFieldValue(QString::fromLatin1(column), &value) || value.isNull())
        return std::string();
    bool ok = false;
    const int number = value.toInt(&ok);
    return ok ? std::to_string(number) : std::string();
}

int FieldGroupKey(CAdoRecordset& rs) {
    QVariant value;
    if (!rs.GetFieldValue(QStringLiteral("MachineID"), &value) || value.isNull())
        return 0;
    return value.toInt();
}

// The loader already holds at most 1,023 characters of the file per value; counting them
// again in UTF-8 bytes would cut a Windows-1252 file's letters short.
std::string SettingsValue(const INILoader& ini, bool loaded, const char* key) {
    std::string value;
    if (loaded)
        ini.GetValue(value, key);
    return value;
}

} // namespace

BulletinBuildResult BuildBulletin(CAdoRecordset& recordset, StructuraInterna& structura, int recordId,
                                  const QString& requestId, const QString& day) {
    BulletinBuildResult result;
    CAdoDatabase* database = structura.m_pDatabase;
    const SqlDialect dialect = database ? database->dialect() : SqlDialect();
    QVariantList values{recordId, requestId};
    QString sameDay = dialect.dayRangeCondition(QStringLiteral("TransDate"), day, day, &values);
    if (sameDay.isEmpty())
        sameDay = QStringLiteral("1=0"); // no readable day: nothing of the request can be told apart
    const QString sql = QString::fromLatin1(kBulletinQuery)
                            .arg(sameDay, dialect.dateTimeText(QStringLiteral("ProcDate")),
                                 dialect.caseInsensitiveOrder(QStringLiteral("AnalyseName")));
    if (!recordset.Open(sql, database, values)) {
        result.messages << recordset.ErrorText() << sql;
        return result;
    }

    std::string setDate, requestCode, patientName, profile, age, sex, firstTitle;
    if (!recordset.IsEOF()) {
        QVariant procDate;
        recordset.GetFieldValue(QStringLiteral("procDate"), &procDate);
        setDate = FormatBulletinDate(procDate);
        CutUtf8(setDate, kSetDateSize - 1);
        requestCode = FieldText(recordset, "RequestID", kRequestCodeSize);
        patientName = FieldText(recordset, "PacientName", kPatientTitleBoundSize);
        profile = FieldText(recordset, "profilename", kNameCodeProfileSize);
        age = FieldInteger(recordset, "Age");
        CutUtf8(age, kAgeSexSize - 1);
        sex = FieldText(recordset, "sex", kAgeSexSize);
        firstTitle = FieldText(recordset, "AnalyseName", kPatientTitleBoundSize);
    }

    QFile file(QString::fromLatin1(kBulletinFileName));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        result.messages << QStringLiteral("Nu pot crea fisierul buletinului %1: %2")
                               .arg(QString::fromLatin1(kBulletinFileName), file.errorString());
        recordset.Close();
        return result;
    }
    BulletinWriter writer(&file);

    {
        INILoader ini;
        const bool loaded = ini.Load(QString::fromLatin1(kSettingsFile));
        writer.WriteDocumentHead();
        writer.WriteLabHeader(SettingsValue(ini, loaded, "NumeLaborator"), SettingsValue(ini, loaded, "Adresa"),
                              SettingsValue(ini, loaded, "Telefon"), SettingsValue(ini, loaded, "Altele"));
    }
    writer.WriteBulletinHead(setDate, requestCode, patientName, profile, age, sex);
    writer.WriteFirstGroupTitle(firstTitle);
    writer.WriteFirstColumnHeader();

    // A group ends where MachineID changes; the first group's title is already written.
    int previousKey = 0;
    while (!recordset.IsEOF()) {
        const int key = FieldGroupKey(recordset);
        if (key != previousKey) {
            if (previousKey != 0) {
                writer.WriteNextGroupTitle(FieldText(recordset, "AnalyseName", kPatientTitleBoundSize));
                writer.WriteNextColumnHeader();
            }
            previousKey = key;
        }
        std::string name = FieldText(recordset, "refName", kNameCodeProfileSize);
        if (name.empty())
            name = FieldText(recordset, "refCode", kNameCodeProfileSize);
        std::string value = FieldText(recordset, "stringvalue", kValueSize);
        ReplaceChar(value, static_cast<int>(value.size()), kRecordSeparator, ' ');
        TrimSpaces(value, 1);
        const std::string lower = FieldText(recordset, "minValue", kPatientTitleBoundSize);
        const std::string upper = FieldText(recordset, "maxValue", kPatientTitleBoundSize);
        const std::string unit = FieldText(recordset, "um", kUnitSize);
        writer.WriteResultRow(name, value, BulletinMarker(value, lower, upper), lower, upper, unit);
        if (!recordset.MoveNext())
            break;
    }
    if (recordset.ReadFailed()) {
        result.messages << QStringLiteral("Nu toate rezultatele cererii au putut fi citite, asa ca buletinul nu a fost "
                                          "facut.\n%1")
                               .arg(recordset.ErrorText());
        // No partial bulletin stays behind to be taken for a complete one.
        file.close();
        file.remove();
        recordset.Close();
        return result;
    }

    writer.WriteSignature();
    writer.WriteFooter(BulletinNow());
    writer.WriteClosing();
    const bool written = writer.ok() && file.flush();
    const QString writeError = file.errorString();
    file.close();
    recordset.Close();
    if (!written) {
        result.messages << QStringLiteral("Nu pot scrie fisierul buletinului %1: %2")
                               .arg(QString::fromLatin1(kBulletinFileName), writeError);
        return result;
    }

    if (structura.m_pBulletinTemplate)
        result.opened = structura.m_pBulletinTemplate->OpenDocumentFile(QString(), true) != nullptr;
    return result;
}
