#include "BulletinBuilder.h"

#include <QDate>
#include <QFile>
#include <QSaveFile>

#include "BulletinArchive.h"
#include "BulletinComposer.h"
#include "BulletinData.h"
#include "BulletinReader.h"
#include "BulletinValidation.h"
#include "BulletinWindowContext.h"
#include "CorrectionJournal.h"
#include "CriticalMarker.h"
#include "DocumentTemplate.h"
#include "Recordset.h"
#include "SharedState.h"
#include "SignatoryList.h"

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

// What is archived is what the window will show: the file as it now lies on disk. False with
// *error when the file could not be read back or stored; the file is then removed, since a
// bulletin missing from the archive is not to be printed from it either.
bool archiveShownFile(DatabaseConnection* database, int recordId, const BulletinData& data, QString* error) {
    QFile file(QString::fromLatin1(kBulletinFileName));
    QByteArray onDisk;
    bool stored = false;
    if (file.open(QIODevice::ReadOnly)) {
        onDisk = file.readAll();
        stored = file.error() == QFileDevice::NoError;
        *error = file.errorString();
        file.close();
    } else {
        *error = file.errorString();
    }
    if (stored) {
        BulletinArchive archive(database);
        stored = archive.store(recordId, data.key, onDisk, ArchivePurpose::Shown, nullptr, data.madeAt);
        *error = archive.errorText();
    }
    if (!stored)
        file.remove();
    return stored;
}

// The signatory's validation: the page shown to confirm, the content read again, and the
// validation stored with its archived copy before the file is written. False with the
// messages (or result->cancelled) when nothing is to be shown.
bool releaseValidated(BulletinReader& reader, DatabaseConnection* database, int recordId, const BulletinData& data,
                      const BulletinRelease& release, QByteArray* page, BulletinBuildResult* result) {
    const QString& requestId = data.key.requestId;
    const bool criticalImage = !data.content.critical.empty() && ensureCriticalImage();
    const QString summary =
        QStringLiteral("Cererea %1 din %2, pacientul %3, seturile de rezultate %4")
            .arg(requestId, QDate::fromString(data.key.day, Qt::ISODate).toString(QStringLiteral("d/M/yyyy")),
                 QString::fromStdString(data.content.patientName), BulletinValidation::idsText(data.content.resultIds));
    // The line of who validated carries the moment of signing, so the page to confirm has none.
    BulletinPageOptions options;
    options.toValidate = true;
    options.criticalImage = criticalImage;
    options.printedAt = bulletinNow();
    QString password;
    if (!release.confirm || !release.confirm(composeBulletin(data, options), summary, &password)) {
        result->cancelled = true;
        return false;
    }
    // What is signed is what was shown: content changed meanwhile is not validated unseen.
    if (!reader.contentUnchanged(recordId, data)) {
        result->messages << QStringLiteral("Datele buletinului cererii %1 s-au schimbat (sau nu au mai putut fi "
                                           "citite) cat timp era aratat pentru validare, asa ca nu s-a validat "
                                           "nimic. Deschideti buletinul din nou si verificati-l.%2")
                                .arg(requestId, reader.errorText().isEmpty()
                                                    ? QString()
                                                    : QStringLiteral("\n") + reader.errorText());
        return false;
    }
    ValidationRecord row;
    row.requestId = requestId;
    row.day = data.key.day;
    row.resultIds = data.content.resultIds;
    row.signedContent = data.canonical;
    row.contentRevision = data.contentRevision;
    row.referenceRevision = data.referenceRevision;
    row.validatedAt = CorrectionJournal::now();
    options.toValidate = true;
    options.validatedBy = bulletinSignatoryText(release.signatory->title, release.signatory->fullName);
    options.validatedAt = bulletinLocalTime(row.validatedAt);
    options.printedAt = bulletinNow();
    *page = composeBulletin(data, options);
    BulletinArchive archive(database);
    BulletinValidation validation(database);
    if (!validation.storeWithBulletin(archive, recordId, *page, row, *release.signatory, password)) {
        result->messages << QStringLiteral("Buletinul nu a fost validat: validarea si buletinul nu au putut fi "
                                           "pastrate in arhiva, asa ca nu este afisat.\n%1")
                                .arg(validation.errorText());
        return false;
    }
    QString error;
    if (!writeBulletinFile(*page, &error)) {
        result->messages << QStringLiteral("Buletinul a fost validat si pastrat in arhiva, dar nu poate fi "
                                           "afisat.\n%1")
                                .arg(error);
        return false;
    }
    return true;
}

// The page as shown: validated or not, written to the file and archived as shown.
bool publishShown(DatabaseConnection* database, int recordId, const BulletinData& data, QByteArray* page,
                  BulletinBuildResult* result) {
    const ValidationStatus& status = data.status;
    BulletinPageOptions options;
    options.criticalImage = !data.content.critical.empty() && ensureCriticalImage();
    if (status.validated) {
        options.validatedBy = bulletinSignatoryText(status.newest.title, status.newest.fullName);
        options.validatedAt = bulletinLocalTime(status.newest.validatedAt);
    }
    options.printedAt = bulletinNow();
    *page = composeBulletin(data, options);
    QString error;
    if (!writeBulletinFile(*page, &error)) {
        result->messages << error;
        return false;
    }
    if (data.archived && !archiveShownFile(database, recordId, data, &error)) {
        result->messages << QStringLiteral("Buletinul nu a putut fi pastrat in arhiva, asa ca nu este "
                                           "afisat.\n%1")
                                .arg(error);
        return false;
    }
    return true;
}

} // namespace

BulletinBuildResult buildBulletin(Recordset& recordset, SharedState& sharedState, int recordId,
                                  const QString& requestId, const QString& day, const BulletinRelease* release) {
    BulletinBuildResult result;
    DatabaseConnection* database = sharedState.m_database;
    BulletinData data;
    BulletinReader reader(recordset, database);
    if (!reader.readContent(recordId, BulletinKey{requestId, BulletinKey::dayFromSearchText(day)}, &data)) {
        result.messages = reader.messages();
        // No earlier bulletin stays behind to be taken for this one.
        if (reader.rowsUnreadable())
            QFile::remove(QString::fromLatin1(kBulletinFileName));
        return result;
    }
    const ValidationStatus& status = data.status;
    if (release && status.validated) {
        result.messages << QStringLiteral("Buletinul cererii %1 este deja validat de %2 la %3; nu este nimic de "
                                          "validat.")
                               .arg(requestId,
                                    QString::fromStdString(
                                        bulletinSignatoryText(status.newest.title, status.newest.fullName)),
                                    QString::fromStdString(bulletinLocalTime(status.newest.validatedAt)));
        return result;
    }
    if (release && !data.archived) {
        result.messages << QStringLiteral("Buletinul nu poate fi validat: baza de date nu are arhiva buletinelor si "
                                          "tabela validarilor (se adauga cu labrosa-dbtool --upgrade).");
        return result;
    }
    const bool surroundings = reader.readSurroundings(&data);
    result.messages = reader.messages();
    result.deltaMarks = data.deltaMarks;
    if (!surroundings)
        return result;
    result.unannounced = data.unannounced;
    result.resultIds = data.content.resultIds;

    // The page is made whole in memory; a validation shows it before anything is written.
    QByteArray page;
    if (release ? !releaseValidated(reader, database, recordId, data, *release, &page, &result)
                : !publishShown(database, recordId, data, &page, &result))
        return result;

    if (sharedState.m_bulletinTemplate) {
        BulletinWindowContext context;
        // A preliminary page's window offers to validate it.
        if (status.signing && !status.validated && !release)
            context.preliminary = {&sharedState, recordId, requestId, day};
        context.deltaMarks = data.deltaMarks;
        context.deltaProblem = data.deltaProblem;
        context.opened = {database, recordId, data.key, data.madeAt, page, data.content.resultIds, result.unannounced};
        result.opened = sharedState.m_bulletinTemplate->openDocumentFile(QString(), true, &context) != nullptr;
    }
    return result;
}
