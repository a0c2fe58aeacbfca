#include "BulletinComposer.h"

#include <QBuffer>

#include "BulletinData.h"
#include "CriticalMarker.h"

namespace {

// A group ends where MachineID changes; the first group's title is already written.
void writeRows(BulletinWriter& writer, const BulletinData& data, bool criticalImage) {
    int previousKey = 0;
    for (const BulletinRow& row : data.content.rows) {
        if (row.groupKey != previousKey) {
            if (previousKey != 0) {
                writer.writeNextGroupTitle(row.groupTitle);
                writer.writeNextColumnHeader();
            }
            previousKey = row.groupKey;
        }
        const std::string marker = row.critical ? criticalMarker(criticalImage) : row.marker();
        if (!data.previousColumn) {
            writer.writeResultRow(row.name, row.value, marker, row.lower, row.upper, row.unit);
            continue;
        }
        std::string previousValue, previousDate;
        const auto previous = data.previous.find({row.groupKey, row.refcode});
        if (previous != data.previous.end()) {
            previousValue = previous->second.value.toStdString();
            previousDate = previous->second.transferDate.toString(QStringLiteral("d/M/yyyy")).toStdString();
        }
        writer.writeResultRow(row.name, row.value, marker, row.lower, row.upper, row.unit, previousValue, previousDate);
    }
}

} // namespace

QByteArray composeBulletin(const BulletinData& data, const BulletinPageOptions& options) {
    const BulletinContent& content = data.content;
    const ValidationStatus& status = data.status;
    QBuffer page;
    page.open(QIODevice::WriteOnly);
    BulletinWriter writer(&page);
    writer.setPreviousColumn(data.previousColumn);
    writer.writeDocumentHead();
    writer.writeLabHeader(data.lab.name, data.lab.address, data.lab.phone, data.lab.other);
    writer.writeBulletinHead(content.setDate, content.requestCode, content.patientName, content.profile, content.age,
                             content.sex);
    if (status.signing && !status.validated && !options.toValidate)
        writer.writePreliminaryNotice();
    // A validation the bulletin has lost since (or the one a new validation follows) is named,
    // with what changed since it was signed.
    if (status.hasValidation && !status.validated)
        writer.writeReplacedValidation(bulletinSignatoryText(status.newest.title, status.newest.fullName),
                                       bulletinLocalTime(status.newest.validatedAt),
                                       status.changes.join(QLatin1String("; ")).toStdString());
    if (!data.criticalNotice.empty())
        writer.writeCriticalNotice(data.criticalNotice);
    if (!data.changes.empty())
        writer.writeCorrectionNotice(bulletinLocalTime(data.correctedAt), bulletinLocalTime(data.last.madeAt),
                                     data.changes, data.reasons);
    writer.writeFirstGroupTitle(content.firstTitle);
    writer.writeFirstColumnHeader();
    writeRows(writer, data, options.criticalImage);
    if (data.previousColumn)
        writer.writePreviousColumnNote();
    writer.writeSignature();
    if (!options.validatedBy.empty())
        writer.writeValidatedBy(options.validatedBy, options.validatedAt);
    writer.writeFooter(options.printedAt);
    writer.writeClosing();
    page.close();
    return page.data();
}

std::string bulletinSignatoryText(const QString& title, const QString& fullName) {
    return (title.trimmed() + QLatin1Char(' ') + fullName.trimmed()).trimmed().toStdString();
}

std::string bulletinLocalTime(const QDateTime& utc) {
    return utc.toLocalTime().toString(QStringLiteral("d/M/yyyy H:mm")).toStdString();
}
