#include "BulletinReader.h"

#include <algorithm>

#include "BulletinComposer.h"
#include "BulletinData.h"
#include "ContentRevisions.h"
#include "CorrectionJournal.h"
#include "CriticalNotifications.h"
#include "DatabaseConnection.h"
#include "DeltaLimits.h"
#include "LabHeaderFile.h"
#include "Recordset.h"

namespace {

constexpr const char* kProfileName = "select profileName from VET_PROFILES where id = ?";
constexpr int kNameCodeProfileSize = 199;

// The loader already holds at most 1,023 characters of the file per value; counting them
// again in UTF-8 bytes would cut a Windows-1252 file's letters short.
std::string settingsValue(const LabHeaderFile& ini, bool loaded, const char* key) {
    std::string value;
    if (loaded)
        ini.getValue(value, key);
    return value;
}

// The corrected fields a bulletin shows, in the order of its head, with their labels.
struct ShownField {
    const char* column;
    const char* label;
};
constexpr ShownField kShownFields[] = {{"RequestID", "Cod cerere"}, {"PacientName", "Nume"}, {"profileID", "Profil"},
                                       {"Age", "Varsta"},           {"SEX", "Sex"},          {"comment", "Comentariu"}};

// A journal value as the bulletin shows it: NULL empty, a profile by its name (its id when
// the profile is gone). False when the profile list cannot be read.
bool shownValue(DatabaseConnection* database, const char* column, const QVariant& value, std::string* shown,
                QString* error) {
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
    Recordset read;
    if (!read.open(QString::fromLatin1(kProfileName), database, {id})) {
        *error = read.errorText();
        return false;
    }
    if (!read.isEOF())
        *shown = bulletinFieldText(read, "profileName", kNameCodeProfileSize);
    read.close();
    return true;
}

// The changes of the shown fields since the last archived bulletin: per field the value
// before the first correction and after the last one. Entries come newest first. A field
// put back as it was is left out. data->correctedAt receives the newest correction's time.
bool collectChanges(DatabaseConnection* database, const std::vector<JournalEntry>& entries, BulletinData* data,
                    QString* error) {
    // The reasons given for the corrections, oldest first, each once.
    QStringList given;
    for (auto entry = entries.rbegin(); entry != entries.rend(); ++entry) {
        const QString reason = entry->reason.trimmed();
        if (!reason.isEmpty() && !given.contains(reason))
            given << reason;
    }
    data->reasons = given.join(QLatin1String("; ")).toStdString();
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
        if (!shownValue(database, field.column, oldest->oldValue, &change.oldValue, error) ||
            !shownValue(database, field.column, newest->newValue, &change.newValue, error))
            return false;
        if (change.oldValue == change.newValue)
            continue;
        if (!data->correctedAt.isValid() || newest->changedAt > data->correctedAt)
            data->correctedAt = newest->changedAt;
        data->changes.push_back(std::move(change));
    }
    return true;
}

// The patient's previous value of each parameter of the request, and the values whose change
// from it is beyond the parameter's delta limit. *error: the previous values the page needs
// could not be read.
void readEarlierValues(DatabaseConnection* database, BulletinData* data, QString* error) {
    if (!database)
        return;
    DeltaLimits limits;
    if (!limits.load(database))
        data->deltaProblem = QStringLiteral("Limitele de schimbare nu au putut fi citite, asa ca valorile nu au fost "
                                            "comparate cu cele anterioare.\n%1")
                                 .arg(limits.errorText());
    if (!data->previousColumn && limits.empty())
        return;
    PatientHistory history(database);
    if (!history.previousValues(data->content.resultIds, &data->previous)) {
        if (data->previousColumn)
            *error = history.errorText();
        else
            data->deltaProblem = QStringLiteral("Valorile anterioare ale pacientului nu au putut fi citite, asa ca "
                                                "valorile nu au fost comparate cu limitele de schimbare.\n%1")
                                     .arg(history.errorText());
        return;
    }
    for (const BulletinRow& row : data->content.rows) {
        const DeltaLimit* limit = limits.find(row.groupKey, row.refcode);
        const auto previous = data->previous.find({row.groupKey, row.refcode});
        if (!limit || previous == data->previous.end())
            continue;
        const QString text = DeltaLimits::exceededText(
            *limit, previous->second.value, previous->second.transferDate.toString(QStringLiteral("d/M/yyyy H:mm")),
            QString::fromStdString(row.value));
        if (!text.isEmpty())
            data->deltaMarks << QStringLiteral("%1 %2: %3")
                                    .arg(QString::fromStdString(row.name), QString::fromStdString(row.value), text);
    }
}

} // namespace

BulletinReader::BulletinReader(Recordset& recordset, DatabaseConnection* database, const QString& settingsFile)
    : m_database(database), m_settingsFile(settingsFile), m_contentReader(recordset, database) {}

bool BulletinReader::readContent(int recordId, const BulletinKey& key, BulletinData* data) {
    data->key = key;
    // The bulletin's time in the archive is taken before its data is read, so that a
    // correction made meanwhile counts as made after it.
    data->madeAt = CorrectionJournal::now();
    // The change counters are read before the content: equal counters later prove that nothing
    // changed since this content was read. A database without them has none.
    ContentRevisions revisions(m_database);
    if (m_database && revisions.available() && !revisions.read(key, &data->contentRevision, &data->referenceRevision))
        data->contentRevision = data->referenceRevision = -1;
    if (!m_contentReader.read(recordId, key, &data->content)) {
        switch (m_contentReader.failure()) {
        case BulletinContentReader::Failure::Query:
            m_messages << m_contentReader.errorText() << m_contentReader.failedSql();
            break;
        case BulletinContentReader::Failure::Rows:
            m_messages << QStringLiteral("Nu toate rezultatele cererii au putut fi citite, asa ca buletinul nu "
                                         "a fost facut.\n%1")
                              .arg(m_contentReader.errorText());
            m_rowsUnreadable = true;
            break;
        case BulletinContentReader::Failure::Critical:
            m_messages << QStringLiteral("Valorile critice ale cererii nu au putut fi citite, asa ca buletinul "
                                         "nu a fost facut.\n%1")
                              .arg(m_contentReader.errorText());
            break;
        }
        return false;
    }
    if (!readCorrections(data))
        return false;
    // Once the laboratory has signatories, a bulletin is preliminary until one validates it; it
    // is validated exactly while its content is the one signed.
    data->canonical = data->content.canonical();
    BulletinValidation validation(m_database);
    if (!validation.statusOf(key, data->canonical, data->content.resultIds, &data->status)) {
        m_messages << QStringLiteral("Validarile cererii nu au putut fi citite, asa ca buletinul nu a fost "
                                     "facut.\n%1")
                          .arg(validation.errorText());
        return false;
    }
    return true;
}

// An amended bulletin says what was corrected since the last copy of it that left the
// program; a copy only looked at on screen was read by nobody outside.
bool BulletinReader::readCorrections(BulletinData* data) {
    BulletinArchive archive(m_database);
    data->archived = archive.available();
    data->hasLast = data->archived && archive.lastSentOut(data->key, &data->last);
    // Without the table the archive is silent; a failed read of it is not taken for an empty one.
    if (!archive.errorText().isEmpty()) {
        m_messages << QStringLiteral("Arhiva buletinelor nu a putut fi citita, asa ca buletinul nu a fost facut.\n%1")
                          .arg(archive.errorText());
        return false;
    }
    if (!data->hasLast)
        return true;
    CorrectionJournal journal(m_database);
    const std::vector<JournalEntry> entries = journal.entriesFor(data->content.resultIds, data->last.madeAt);
    QString journalError = journal.errorText();
    if (journalError.isEmpty())
        collectChanges(m_database, entries, data, &journalError);
    if (!journalError.isEmpty()) {
        m_messages << QStringLiteral("Corecturile cererii nu au putut fi citite, asa ca buletinul nu a fost "
                                     "facut.\n%1")
                          .arg(journalError);
        return false;
    }
    return true;
}

bool BulletinReader::readSurroundings(BulletinData* data) {
    // The laboratory's settings file is read once for the whole page.
    LabHeaderFile ini;
    const bool loaded = ini.load(m_settingsFile);
    data->lab = {settingsValue(ini, loaded, "NumeLaborator"), settingsValue(ini, loaded, "Adresa"),
                 settingsValue(ini, loaded, "Telefon"), settingsValue(ini, loaded, "Altele")};
    // The laboratory's Labrosa.ini turns on the bulletin's column of previous values.
    data->previousColumn =
        QString::fromStdString(settingsValue(ini, loaded, "ValoriAnterioare")).trimmed() == QLatin1String("1");
    QString earlierError;
    readEarlierValues(m_database, data, &earlierError);
    if (!earlierError.isEmpty()) {
        m_messages << QStringLiteral("Valorile anterioare ale pacientului nu au putut fi citite, asa ca "
                                     "buletinul nu a fost facut.\n%1")
                          .arg(earlierError);
        return false;
    }
    readCriticalNotice(data);
    return true;
}

void BulletinReader::readCriticalNotice(BulletinData* data) {
    const std::vector<CriticalValue>& critical = data->content.critical;
    if (critical.empty())
        return;
    CriticalNotifications notifications(m_database);
    std::vector<CriticalNotification> told;
    if (!notifications.forRequest(data->key.requestId, &told) ||
        !notifications.unannounced(critical, &data->unannounced)) {
        // Asking again is safer than taking the values for announced.
        m_messages << QStringLiteral("Nu s-a putut citi cui s-au anuntat valorile critice ale cererii; "
                                     "buletinul este facut fara aceasta mentiune, iar anuntarea se cere din "
                                     "nou.\n%1")
                          .arg(notifications.errorText());
        data->unannounced = critical;
    }
    const QList<qint64>& recordIds = data->content.resultIds;
    QStringList toldTexts;
    for (const CriticalNotification& one : told) {
        // A request identifier of another day names other sets.
        if (std::none_of(one.resultIds.begin(), one.resultIds.end(),
                         [&recordIds](qint64 id) { return recordIds.contains(id); }))
            continue;
        toldTexts << QStringLiteral("%1 (%2) la %3")
                         .arg(one.name, one.contact, QString::fromStdString(bulletinLocalTime(one.toldAt)));
    }
    data->criticalNotice = toldTexts.join(QLatin1String("; ")).toStdString();
}

bool BulletinReader::contentUnchanged(int recordId, const BulletinData& data) {
    BulletinContent now;
    return m_contentReader.read(recordId, data.key, &now) && now.canonical() == data.canonical;
}
