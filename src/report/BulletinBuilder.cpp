#include "BulletinBuilder.h"

#include <QBuffer>
#include <QDate>
#include <QFile>
#include <QSaveFile>

#include <algorithm>

#include "BulletinArchive.h"
#include "BulletinContent.h"
#include "BulletinValidation.h"
#include "BulletinValidationCommand.h"
#include "BulletinWriter.h"
#include "ContentRevisions.h"
#include "CorrectionJournal.h"
#include "CriticalMarker.h"
#include "CriticalNotifications.h"
#include "DatabaseConnection.h"
#include "DeltaLimits.h"
#include "DeltaMarkBar.h"
#include "DocumentTemplate.h"
#include "LabHeaderFile.h"
#include "OpenedBulletin.h"
#include "PatientHistory.h"
#include "Recordset.h"
#include "SharedState.h"
#include "SignatoryList.h"
#include "SqlDialect.h"
#include "TextUtils.h"

namespace {

constexpr const char* kSettingsFile = "Labrosa.ini";
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

// "title name" of a signatory as printed.
std::string signatoryText(const QString& title, const QString& fullName) {
    return (title.trimmed() + QLatin1Char(' ') + fullName.trimmed()).trimmed().toStdString();
}

// Times of the correction line, in local time like the set date.
std::string localTimeText(const QDateTime& utc) {
    return utc.toLocalTime().toString(QStringLiteral("d/M/yyyy H:mm")).toStdString();
}

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
// put back as it was is left out. *correctedAt receives the newest correction's time.
bool collectChanges(DatabaseConnection* database, const std::vector<JournalEntry>& entries,
                    std::vector<BulletinChange>* changes, QDateTime* correctedAt, std::string* reasons,
                    QString* error) {
    // The reasons given for the corrections, oldest first, each once.
    QStringList given;
    for (auto entry = entries.rbegin(); entry != entries.rend(); ++entry) {
        const QString reason = entry->reason.trimmed();
        if (!reason.isEmpty() && !given.contains(reason))
            given << reason;
    }
    *reasons = given.join(QLatin1String("; ")).toStdString();
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
        if (!correctedAt->isValid() || newest->changedAt > *correctedAt)
            *correctedAt = newest->changedAt;
        changes->push_back(std::move(change));
    }
    return true;
}

// The laboratory's Labrosa.ini turns on the bulletin's column of previous values.
bool previousColumnWanted(const LabHeaderFile& ini, bool loaded) {
    return QString::fromStdString(settingsValue(ini, loaded, "ValoriAnterioare")).trimmed() == QLatin1String("1");
}

// The patient's previous value of each parameter of the request, and the values whose change
// from it is beyond the parameter's delta limit.
struct EarlierValues {
    std::map<std::pair<int, QString>, PreviousValue> previous;
    QStringList marks;
    QString problem; // why the values could not be checked against their limits
    QString error;   // the previous values the page needs could not be read
};

EarlierValues readEarlierValues(DatabaseConnection* database, const QList<qint64>& recordIds,
                                const std::vector<BulletinRow>& rows, bool column) {
    EarlierValues earlier;
    if (!database)
        return earlier;
    DeltaLimits limits;
    if (!limits.load(database))
        earlier.problem = QStringLiteral("Limitele de schimbare nu au putut fi citite, asa ca valorile nu au fost "
                                         "comparate cu cele anterioare.\n%1")
                              .arg(limits.errorText());
    if (!column && limits.empty())
        return earlier;
    PatientHistory history(database);
    if (!history.previousValues(recordIds, &earlier.previous)) {
        if (column)
            earlier.error = history.errorText();
        else
            earlier.problem = QStringLiteral("Valorile anterioare ale pacientului nu au putut fi citite, asa ca "
                                             "valorile nu au fost comparate cu limitele de schimbare.\n%1")
                                  .arg(history.errorText());
        return earlier;
    }
    for (const BulletinRow& row : rows) {
        const QString& refcode = row.refcode;
        const DeltaLimit* limit = limits.find(row.groupKey, refcode);
        const auto previous = earlier.previous.find({row.groupKey, refcode});
        if (!limit || previous == earlier.previous.end())
            continue;
        const QString text = DeltaLimits::exceededText(
            *limit, previous->second.value, previous->second.transferDate.toString(QStringLiteral("d/M/yyyy H:mm")),
            QString::fromStdString(row.value));
        if (!text.isEmpty())
            earlier.marks << QStringLiteral("%1 %2: %3")
                                 .arg(QString::fromStdString(row.name), QString::fromStdString(row.value), text);
    }
    return earlier;
}

} // namespace

namespace {

// Writes the page whole beside the old bulletin file and puts it in place: a full disk leaves
// the old file as it was, never a cut page for the next window to show.
bool writeBulletinFile(const QByteArray& page, QString* error) {
    QSaveFile output(QString::fromLatin1(kBulletinFileName));
    if (!output.open(QIODevice::WriteOnly)) {
        *error = QStringLiteral("Nu pot crea fisierul buletinului %1: %2")
                     .arg(QString::fromLatin1(kBulletinFileName), output.errorString());
        return false;
    }
    // The last of the page leaves the buffer only at the flush; a commit does not report a
    // failed flush of its own, so the flush is asked first.
    bool written = output.write(page) == page.size() && output.flush();
    QString writeError = output.errorString();
    if (written) {
        written = output.commit();
        writeError = output.errorString();
    } else {
        output.cancelWriting();
    }
    if (!written)
        *error = QStringLiteral("Nu pot scrie fisierul buletinului %1: %2")
                     .arg(QString::fromLatin1(kBulletinFileName), writeError);
    return written;
}

} // namespace

BulletinBuildResult buildBulletin(Recordset& recordset, SharedState& sharedState, int recordId,
                                  const QString& requestId, const QString& day, const BulletinRelease* release) {
    BulletinBuildResult result;
    DatabaseConnection* database = sharedState.m_database;
    const BulletinKey key{requestId, BulletinKey::dayFromSearchText(day)};
    // The bulletin's time in the archive is taken before its data is read, so that a
    // correction made meanwhile counts as made after it.
    const QDateTime madeAt = CorrectionJournal::now();
    // The change counters are read before the content: equal counters later prove that nothing
    // changed since this content was read. A database without them has none.
    qint64 contentRevision = -1, referenceRevision = -1;
    ContentRevisions revisions(database);
    if (database && revisions.available() && !revisions.read(key, &contentRevision, &referenceRevision)) {
        contentRevision = referenceRevision = -1;
    }
    BulletinContent content;
    BulletinContentReader reader(recordset, database);
    if (!reader.read(recordId, key, &content)) {
        switch (reader.failure()) {
        case BulletinContentReader::Failure::Query:
            result.messages << reader.errorText() << reader.failedSql();
            break;
        case BulletinContentReader::Failure::Rows:
            result.messages << QStringLiteral("Nu toate rezultatele cererii au putut fi citite, asa ca buletinul nu "
                                              "a fost facut.\n%1")
                                   .arg(reader.errorText());
            // No earlier bulletin stays behind to be taken for this one.
            QFile::remove(QString::fromLatin1(kBulletinFileName));
            break;
        case BulletinContentReader::Failure::Critical:
            result.messages << QStringLiteral("Valorile critice ale cererii nu au putut fi citite, asa ca buletinul "
                                              "nu a fost facut.\n%1")
                                   .arg(reader.errorText());
            break;
        }
        return result;
    }
    const QList<qint64>& recordIds = content.resultIds;
    const std::vector<BulletinRow>& rows = content.rows;

    // An amended bulletin says what was corrected since the last copy of it that left the
    // program; a copy only looked at on screen was read by nobody outside.
    BulletinArchive archive(database);
    const bool archived = archive.available();
    std::vector<BulletinChange> changes;
    QDateTime correctedAt;
    std::string reasons;
    ArchivedBulletin last;
    const bool hasLast = archived && archive.lastSentOut(key, &last);
    // Without the table the archive is silent; a failed read of it is not taken for an empty one.
    if (!archive.errorText().isEmpty()) {
        result.messages << QStringLiteral(
                               "Arhiva buletinelor nu a putut fi citita, asa ca buletinul nu a fost facut.\n%1")
                               .arg(archive.errorText());
        return result;
    }
    if (hasLast) {
        CorrectionJournal journal(database);
        const std::vector<JournalEntry> entries = journal.entriesFor(recordIds, last.madeAt);
        QString journalError = journal.errorText();
        if (journalError.isEmpty())
            collectChanges(database, entries, &changes, &correctedAt, &reasons, &journalError);
        if (!journalError.isEmpty()) {
            result.messages << QStringLiteral("Corecturile cererii nu au putut fi citite, asa ca buletinul nu a fost "
                                              "facut.\n%1")
                                   .arg(journalError);
            return result;
        }
    }

    // Once the laboratory has signatories, a bulletin is preliminary until one validates it; it
    // is validated exactly while its content is the one signed.
    const QString canonical = content.canonical();
    BulletinValidation validation(database);
    ValidationStatus status;
    if (!validation.statusOf(key, canonical, recordIds, &status)) {
        result.messages << QStringLiteral("Validarile cererii nu au putut fi citite, asa ca buletinul nu a fost "
                                          "facut.\n%1")
                               .arg(validation.errorText());
        return result;
    }
    if (release && status.validated) {
        result.messages << QStringLiteral("Buletinul cererii %1 este deja validat de %2 la %3; nu este nimic de "
                                          "validat.")
                               .arg(requestId,
                                    QString::fromStdString(signatoryText(status.newest.title, status.newest.fullName)),
                                    QString::fromStdString(localTimeText(status.newest.validatedAt)));
        return result;
    }
    if (release && !archived) {
        result.messages << QStringLiteral("Buletinul nu poate fi validat: baza de date nu are arhiva buletinelor si "
                                          "tabela validarilor (se adauga cu labrosa-dbtool --upgrade).");
        return result;
    }

    // The laboratory's settings file is read once for the whole page.
    LabHeaderFile ini;
    const bool iniLoaded = ini.load(QString::fromLatin1(kSettingsFile));
    const bool previousColumn = previousColumnWanted(ini, iniLoaded);
    const EarlierValues earlier = readEarlierValues(database, recordIds, rows, previousColumn);
    result.deltaMarks = earlier.marks;
    if (!earlier.error.isEmpty()) {
        result.messages << QStringLiteral("Valorile anterioare ale pacientului nu au putut fi citite, asa ca "
                                          "buletinul nu a fost facut.\n%1")
                               .arg(earlier.error);
        return result;
    }

    const std::vector<CriticalValue>& critical = content.critical;
    std::string criticalNotice;
    if (!critical.empty()) {
        CriticalNotifications notifications(database);
        std::vector<CriticalNotification> told;
        if (!notifications.forRequest(requestId, &told) || !notifications.unannounced(critical, &result.unannounced)) {
            // Asking again is safer than taking the values for announced.
            result.messages << QStringLiteral("Nu s-a putut citi cui s-au anuntat valorile critice ale cererii; "
                                              "buletinul este facut fara aceasta mentiune, iar anuntarea se cere din "
                                              "nou.\n%1")
                                   .arg(notifications.errorText());
            result.unannounced = critical;
        }
        QStringList toldTexts;
        for (const CriticalNotification& one : told) {
            // A request identifier of another day names other sets.
            if (std::none_of(one.resultIds.begin(), one.resultIds.end(),
                             [&recordIds](qint64 id) { return recordIds.contains(id); }))
                continue;
            toldTexts << QStringLiteral("%1 (%2) la %3")
                             .arg(one.name, one.contact, QString::fromStdString(localTimeText(one.toldAt)));
        }
        criticalNotice = toldTexts.join(QLatin1String("; ")).toStdString();
    }
    result.resultIds = recordIds;
    // A laboratory folder made before the critical marker's image gets it; else the text alone.
    const bool criticalImage = !critical.empty() && ensureCriticalImage();

    // The page is made whole in memory; a validation shows it before anything is written. The
    // line of who validated carries the moment of signing, so the page to confirm has none.
    auto compose = [&](const std::string& validatedBy, const std::string& validatedAt) {
        QBuffer page;
        page.open(QIODevice::WriteOnly);
        BulletinWriter writer(&page);
        writer.setPreviousColumn(previousColumn);
        writer.writeDocumentHead();
        writer.writeLabHeader(settingsValue(ini, iniLoaded, "NumeLaborator"), settingsValue(ini, iniLoaded, "Adresa"),
                              settingsValue(ini, iniLoaded, "Telefon"), settingsValue(ini, iniLoaded, "Altele"));
        writer.writeBulletinHead(content.setDate, content.requestCode, content.patientName, content.profile,
                                 content.age, content.sex);
        if (status.signing && !status.validated && !release)
            writer.writePreliminaryNotice();
        // A validation the bulletin has lost since (or the one a new validation follows) is named,
        // with what changed since it was signed.
        if (status.hasValidation && !status.validated)
            writer.writeReplacedValidation(signatoryText(status.newest.title, status.newest.fullName),
                                           localTimeText(status.newest.validatedAt),
                                           status.changes.join(QLatin1String("; ")).toStdString());
        if (!criticalNotice.empty())
            writer.writeCriticalNotice(criticalNotice);
        if (!changes.empty())
            writer.writeCorrectionNotice(localTimeText(correctedAt), localTimeText(last.madeAt), changes, reasons);
        writer.writeFirstGroupTitle(content.firstTitle);
        writer.writeFirstColumnHeader();

        // A group ends where MachineID changes; the first group's title is already written.
        int previousKey = 0;
        for (const BulletinRow& row : rows) {
            if (row.groupKey != previousKey) {
                if (previousKey != 0) {
                    writer.writeNextGroupTitle(row.groupTitle);
                    writer.writeNextColumnHeader();
                }
                previousKey = row.groupKey;
            }
            const std::string marker = row.critical ? criticalMarker(criticalImage) : row.marker();
            if (previousColumn) {
                std::string previousValue, previousDate;
                const auto previous = earlier.previous.find({row.groupKey, row.refcode});
                if (previous != earlier.previous.end()) {
                    previousValue = previous->second.value.toStdString();
                    previousDate = previous->second.transferDate.toString(QStringLiteral("d/M/yyyy")).toStdString();
                }
                writer.writeResultRow(row.name, row.value, marker, row.lower, row.upper, row.unit, previousValue,
                                      previousDate);
                continue;
            }
            writer.writeResultRow(row.name, row.value, marker, row.lower, row.upper, row.unit);
        }

        if (previousColumn)
            writer.writePreviousColumnNote();
        writer.writeSignature();
        if (!validatedBy.empty())
            writer.writeValidatedBy(validatedBy, validatedAt);
        writer.writeFooter(bulletinNow());
        writer.writeClosing();
        page.close();
        return page.data();
    };

    QByteArray page;
    if (release) {
        const QString summary =
            QStringLiteral("Cererea %1 din %2, pacientul %3, seturile de rezultate %4")
                .arg(requestId, QDate::fromString(key.day, Qt::ISODate).toString(QStringLiteral("d/M/yyyy")),
                     QString::fromStdString(content.patientName), BulletinValidation::idsText(recordIds));
        QString password;
        if (!release->confirm || !release->confirm(compose(std::string(), std::string()), summary, &password)) {
            result.cancelled = true;
            return result;
        }
        // What is signed is what was shown: content changed meanwhile is not validated unseen.
        BulletinContent now;
        if (!reader.read(recordId, key, &now) || now.canonical() != canonical) {
            result.messages << QStringLiteral("Datele buletinului cererii %1 s-au schimbat (sau nu au mai putut fi "
                                              "citite) cat timp era aratat pentru validare, asa ca nu s-a validat "
                                              "nimic. Deschideti buletinul din nou si verificati-l.%2")
                                   .arg(requestId, reader.errorText().isEmpty()
                                                       ? QString()
                                                       : QStringLiteral("\n") + reader.errorText());
            return result;
        }
        ValidationRecord row;
        row.requestId = requestId;
        row.day = key.day;
        row.resultIds = recordIds;
        row.signedContent = canonical;
        row.contentRevision = contentRevision;
        row.referenceRevision = referenceRevision;
        row.validatedAt = CorrectionJournal::now();
        page = compose(signatoryText(release->signatory->title, release->signatory->fullName),
                       localTimeText(row.validatedAt));
        if (!validation.storeWithBulletin(archive, recordId, page, row, *release->signatory, password)) {
            result.messages << QStringLiteral("Buletinul nu a fost validat: validarea si buletinul nu au putut fi "
                                              "pastrate in arhiva, asa ca nu este afisat.\n%1")
                                   .arg(validation.errorText());
            return result;
        }
        QString error;
        if (!writeBulletinFile(page, &error)) {
            result.messages << QStringLiteral("Buletinul a fost validat si pastrat in arhiva, dar nu poate fi "
                                              "afisat.\n%1")
                                   .arg(error);
            return result;
        }
    } else {
        page = compose(status.validated ? signatoryText(status.newest.title, status.newest.fullName) : std::string(),
                       status.validated ? localTimeText(status.newest.validatedAt) : std::string());
        QString error;
        if (!writeBulletinFile(page, &error)) {
            result.messages << error;
            return result;
        }
        // What is archived is what the window will show: the file as it now lies on disk.
        if (archived) {
            QFile file(QString::fromLatin1(kBulletinFileName));
            QByteArray onDisk;
            bool stored = false;
            QString storeError;
            if (file.open(QIODevice::ReadOnly)) {
                onDisk = file.readAll();
                stored = file.error() == QFileDevice::NoError;
                storeError = file.errorString();
                file.close();
            } else {
                storeError = file.errorString();
            }
            if (stored) {
                stored = archive.store(recordId, key, onDisk, ArchivePurpose::Shown, nullptr, madeAt);
                storeError = archive.errorText();
            }
            if (!stored) {
                result.messages << QStringLiteral("Buletinul nu a putut fi pastrat in arhiva, asa ca nu este "
                                                  "afisat.\n%1")
                                       .arg(storeError);
                // A bulletin missing from the archive is not to be printed from the file either.
                file.remove();
                return result;
            }
        }
    }

    if (sharedState.m_bulletinTemplate) {
        // A preliminary page's window offers to validate it.
        if (status.signing && !status.validated && !release)
            setPendingPreliminaryBulletin({&sharedState, recordId, requestId, day});
        DeltaMarkBar::setPending(earlier.marks, earlier.problem);
        setPendingOpenedBulletin({database, recordId, key, madeAt, page, recordIds, result.unannounced});
        result.opened = sharedState.m_bulletinTemplate->openDocumentFile(QString(), true) != nullptr;
        setPendingPreliminaryBulletin(PreliminaryBulletin());
        DeltaMarkBar::setPending({}, {});
        setPendingOpenedBulletin(OpenedBulletin());
    }
    return result;
}
