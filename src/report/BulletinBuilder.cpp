#include "BulletinBuilder.h"

#include <QFile>
#include <QSaveFile>

#include "BulletinArchive.h"
#include "BulletinWriter.h"
#include "CAdoDatabase.h"
#include "CAdoRecordset.h"
#include "CDocTemplate.h"
#include "CorrectionJournal.h"
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
    "refcode as refCode, minValue, maxValue, refName, stringvalue, um, VET_PROFILES.profileName as profilename, "
    "results_id "
    "from vResults2_vet left join VET_PROFILES on VET_PROFILES.id = vResults2_vet.profileID "
    "where (results_id = ? or RequestID = ?) and %1 "
    "order by %3 nulls first, AnalyseName, \"order\" nulls first";

constexpr const char* kSettingsFile = "Labrosa.ini";
constexpr const char* kProfileName = "select profileName from VET_PROFILES where id = ?";

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

// One result row of the bulletin, read before anything is written.
struct ResultRow {
    int groupKey = 0;
    std::string groupTitle, name, value, lower, upper, unit;
};

// The corrected fields a bulletin shows, in the order of its head, with their labels.
struct ShownField {
    const char* column;
    const char* label;
};
constexpr ShownField kShownFields[] = {{"RequestID", "Cod cerere"}, {"PacientName", "Nume"}, {"profileID", "Profil"},
                                       {"Age", "Varsta"},           {"SEX", "Sex"},          {"comment", "Comentariu"}};

// Times of the correction line, in local time like the set date.
std::string LocalTimeText(const QDateTime& utc) {
    return utc.toLocalTime().toString(QStringLiteral("d/M/yyyy H:mm")).toStdString();
}

// A journal value as the bulletin shows it: NULL empty, a profile by its name (its id when
// the profile is gone). False when the profile list cannot be read.
bool ShownValue(CAdoDatabase* database, const char* column, const QVariant& value, std::string* shown, QString* error) {
    shown->clear();
    if (value.isNull() || !value.isValid())
        return true;
    *shown = value.toString().toStdString();
    if (qstrcmp(column, "profileID") != 0)
        return true;
    bool ok = false;
    const int id = value.toString().trimmed().toInt(&ok);
    if (!ok)
        return true;
    CAdoRecordset read;
    if (!read.Open(QString::fromLatin1(kProfileName), database, {id})) {
        *error = read.ErrorText();
        return false;
    }
    if (!read.IsEOF())
        *shown = FieldText(read, "profileName", kNameCodeProfileSize);
    read.Close();
    return true;
}

// The changes of the shown fields since the last archived bulletin: per field the value
// before the first correction and after the last one. Entries come newest first. A field
// put back as it was is left out. *correctedAt receives the newest correction's time.
bool CollectChanges(CAdoDatabase* database, const std::vector<JournalEntry>& entries,
                    std::vector<BulletinChange>* changes, QDateTime* correctedAt, QString* error) {
    for (const ShownField& field : kShownFields) {
        const JournalEntry* newest = nullptr;
        const JournalEntry* oldest = nullptr;
        for (const JournalEntry& entry : entries) {
            if (entry.field.compare(QLatin1String(field.column), Qt::CaseInsensitive) != 0)
                continue;
            if (!newest)
                newest = &entry;
            oldest = &entry;
        }
        if (!newest)
            continue;
        BulletinChange change;
        change.label = field.label;
        if (!ShownValue(database, field.column, oldest->oldValue, &change.oldValue, error) ||
            !ShownValue(database, field.column, newest->newValue, &change.newValue, error))
            return false;
        if (change.oldValue == change.newValue)
            continue;
        if (!correctedAt->isValid() || newest->changedAt > *correctedAt)
            *correctedAt = newest->changedAt;
        changes->push_back(std::move(change));
    }
    return true;
}

} // namespace

BulletinBuildResult BuildBulletin(CAdoRecordset& recordset, StructuraInterna& structura, int recordId,
                                  const QString& requestId, const QString& day) {
    BulletinBuildResult result;
    CAdoDatabase* database = structura.m_pDatabase;
    const SqlDialect dialect = database ? database->dialect() : SqlDialect();
    // The bulletin's time in the archive is taken before its data is read, so that a
    // correction made meanwhile counts as made after it.
    const QDateTime madeAt = CorrectionJournal::Now();
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

    // Everything is read first: the correction line, written before the results, needs the
    // records the results come from.
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
    QList<qint64> recordIds{recordId};
    std::vector<ResultRow> rows;
    while (!recordset.IsEOF()) {
        ResultRow row;
        row.groupKey = FieldGroupKey(recordset);
        row.groupTitle = FieldText(recordset, "AnalyseName", kPatientTitleBoundSize);
        row.name = FieldText(recordset, "refName", kNameCodeProfileSize);
        if (row.name.empty())
            row.name = FieldText(recordset, "refCode", kNameCodeProfileSize);
        row.value = FieldText(recordset, "stringvalue", kValueSize);
        ReplaceChar(row.value, static_cast<int>(row.value.size()), kRecordSeparator, ' ');
        TrimSpaces(row.value, 1);
        row.lower = FieldText(recordset, "minValue", kPatientTitleBoundSize);
        row.upper = FieldText(recordset, "maxValue", kPatientTitleBoundSize);
        row.unit = FieldText(recordset, "um", kUnitSize);
        QVariant id;
        if (recordset.GetFieldValue(QStringLiteral("results_id"), &id) && !id.isNull() &&
            !recordIds.contains(id.toLongLong()))
            recordIds << id.toLongLong();
        rows.push_back(std::move(row));
        if (!recordset.MoveNext())
            break;
    }
    if (recordset.ReadFailed()) {
        result.messages << QStringLiteral("Nu toate rezultatele cererii au putut fi citite, asa ca buletinul nu a fost "
                                          "facut.\n%1")
                               .arg(recordset.ErrorText());
        // No earlier bulletin stays behind to be taken for this one.
        QFile::remove(QString::fromLatin1(kBulletinFileName));
        recordset.Close();
        return result;
    }
    recordset.Close();

    // An amended bulletin says what was corrected since the request's last archived one.
    BulletinArchive archive(database);
    const bool archived = archive.Available();
    std::vector<BulletinChange> changes;
    QDateTime correctedAt;
    ArchivedBulletin last;
    const bool hasLast = archived && archive.LastForRequest(requestId, &last);
    // Without the table the archive is silent; a failed read of it is not taken for an empty one.
    if (!archive.ErrorText().isEmpty()) {
        result.messages << QStringLiteral(
                               "Arhiva buletinelor nu a putut fi citita, asa ca buletinul nu a fost facut.\n%1")
                               .arg(archive.ErrorText());
        return result;
    }
    if (hasLast) {
        CorrectionJournal journal(database);
        const std::vector<JournalEntry> entries = journal.EntriesFor(recordIds, last.madeAt);
        QString journalError = journal.ErrorText();
        if (journalError.isEmpty())
            CollectChanges(database, entries, &changes, &correctedAt, &journalError);
        if (!journalError.isEmpty()) {
            result.messages << QStringLiteral("Corecturile cererii nu au putut fi citite, asa ca buletinul nu a fost "
                                              "facut.\n%1")
                                   .arg(journalError);
            return result;
        }
    }

    // Written beside the old bulletin and put in its place only when whole: a full disk leaves
    // the old file as it was, never a cut page for the next window to show.
    QSaveFile output(QString::fromLatin1(kBulletinFileName));
    if (!output.open(QIODevice::WriteOnly)) {
        result.messages << QStringLiteral("Nu pot crea fisierul buletinului %1: %2")
                               .arg(QString::fromLatin1(kBulletinFileName), output.errorString());
        return result;
    }
    BulletinWriter writer(&output);

    {
        INILoader ini;
        const bool loaded = ini.Load(QString::fromLatin1(kSettingsFile));
        writer.WriteDocumentHead();
        writer.WriteLabHeader(SettingsValue(ini, loaded, "NumeLaborator"), SettingsValue(ini, loaded, "Adresa"),
                              SettingsValue(ini, loaded, "Telefon"), SettingsValue(ini, loaded, "Altele"));
    }
    writer.WriteBulletinHead(setDate, requestCode, patientName, profile, age, sex);
    if (!changes.empty())
        writer.WriteCorrectionNotice(LocalTimeText(correctedAt), LocalTimeText(last.madeAt), changes);
    writer.WriteFirstGroupTitle(firstTitle);
    writer.WriteFirstColumnHeader();

    // A group ends where MachineID changes; the first group's title is already written.
    int previousKey = 0;
    for (const ResultRow& row : rows) {
        if (row.groupKey != previousKey) {
            if (previousKey != 0) {
                writer.WriteNextGroupTitle(row.groupTitle);
                writer.WriteNextColumnHeader();
            }
            previousKey = row.groupKey;
        }
        writer.WriteResultRow(row.name, row.value, BulletinMarker(row.value, row.lower, row.upper), row.lower,
                              row.upper, row.unit);
    }

    writer.WriteSignature();
    writer.WriteFooter(BulletinNow());
    writer.WriteClosing();
    // The last of the page leaves the buffer only at the flush; a commit does not report a
    // failed flush of its own, so the flush is asked first.
    bool written = writer.ok() && output.flush();
    QString writeError = output.errorString();
    if (written) {
        written = output.commit();
        writeError = output.errorString();
    } else {
        output.cancelWriting();
    }
    if (!written) {
        result.messages << QStringLiteral("Nu pot scrie fisierul buletinului %1: %2")
                               .arg(QString::fromLatin1(kBulletinFileName), writeError);
        return result;
    }
    QFile file(QString::fromLatin1(kBulletinFileName));

    // What is archived is what the window will show: the file as it now lies on disk.
    if (archived) {
        QByteArray content;
        bool stored = false;
        QString storeError;
        if (file.open(QIODevice::ReadOnly)) {
            content = file.readAll();
            stored = file.error() == QFileDevice::NoError;
            storeError = file.errorString();
            file.close();
        } else {
            storeError = file.errorString();
        }
        if (stored) {
            stored = archive.Store(recordId, requestId, content, nullptr, madeAt);
            storeError = archive.ErrorText();
        }
        if (!stored) {
            result.messages << QStringLiteral("Buletinul nu a putut fi pastrat in arhiva, asa ca nu este afisat.\n%1")
                                   .arg(storeError);
            // A bulletin missing from the archive is not to be printed from the file either.
            file.remove();
            return result;
        }
    }

    if (structura.m_pBulletinTemplate)
        result.opened = structura.m_pBulletinTemplate->OpenDocumentFile(QString(), true) != nullptr;
    return result;
}
