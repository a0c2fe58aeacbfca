#include "ListMarks.h"

#include <QColor>
#include <QHash>
#include <QTimeZone>

#include <vector>

#include "BulletinKey.h"
#include "BulletinValidation.h"
#include "CorrectionJournal.h"
#include "CriticalLimits.h"
#include "CriticalMarker.h"
#include "CriticalNotifications.h"
#include "DatabaseConnection.h"
#include "EditableListView.h"
#include "ValidatedBulletins.h"

namespace {

const char* const kNoteCorrected = "Corectat de %1 (%2) la %3. Inainte: %4";
const char* const kNoteValidated = "Buletin validat de %1 la %2";
const char* const kStatusValidationsUnread = "; validarile buletinelor nu au putut fi citite: %1";
const char* const kStatusCriticalUnread = "; valorile critice nu au putut fi citite: %1";
const char* const kStatusCorrectionsUnread = "; corecturile nu au putut fi citite: %1";

} // namespace

const char* const ListMarks::kNoteUnannounced = "neanuntata";
const char* const ListMarks::kNoteAnnounced = "anuntata";

ListMarks::ListMarks(EditableListView* list, Layout layout) : m_list(list), m_layout(std::move(layout)) {}

void ListMarks::reset() {
    m_journalError.clear();
    m_validationError.clear();
    m_criticalError.clear();
}

QString ListMarks::unreadText() const {
    return (m_journalError.isEmpty() ? QString() : QString::fromLatin1(kStatusCorrectionsUnread).arg(m_journalError)) +
           (m_validationError.isEmpty() ? QString()
                                        : QString::fromLatin1(kStatusValidationsUnread).arg(m_validationError)) +
           (m_criticalError.isEmpty() ? QString() : QString::fromLatin1(kStatusCriticalUnread).arg(m_criticalError));
}

bool ListMarks::markRows(DatabaseConnection* database, CorrectionJournal* journal, const QList<int>& rows) {
    if (!database || rows.isEmpty())
        return false;
    QList<qint64> ids;
    ids.reserve(rows.size());
    for (int row : rows)
        ids << m_list->getItemData(row);
    const QString before = unreadText();
    // The order matters: a critical note keeps a correction's note of the identifier beneath.
    markCorrected(journal, rows, ids);
    markValidated(database, rows);
    markCritical(database, rows, ids);
    return unreadText() != before;
}

void ListMarks::markCorrected(CorrectionJournal* journal, const QList<int>& rows, const QList<qint64>& ids) {
    if (!journal || !journal->available())
        return;
    const std::vector<JournalEntry> entries = journal->entriesFor(ids);
    if (!journal->errorText().isEmpty())
        m_journalError = journal->errorText();
    if (entries.empty())
        return;
    QHash<qint64, int> rowOfRecord;
    for (int i = 0; i < rows.size(); ++i)
        rowOfRecord.insert(ids.at(i), rows.at(i));
    // Entries come newest first for each set: the first one of a cell is its last correction.
    for (const JournalEntry& entry : entries) {
        const int column = m_layout.columnOfField(entry.field);
        const int row = rowOfRecord.value(entry.resultId, -1);
        if (column < 0 || row < 0 || m_list->hasCellNote(row, column))
            continue;
        m_list->setCellNote(row, column,
                            QString::fromLatin1(kNoteCorrected)
                                .arg(entry.userName, entry.workstation,
                                     entry.changedAt.toLocalTime().toString(QStringLiteral("dd/MM/yyyy HH:mm")),
                                     m_layout.valueText(entry.field, entry.oldValue)));
    }
}

bool ListMarks::markValidated(DatabaseConnection* database, const QList<int>& rows) {
    // A laboratory that never validated pays one question.
    BulletinValidation validation(database);
    bool any = false;
    if (!validation.anyValidation(&any)) {
        m_validationError = validation.errorText();
        return false;
    }
    if (!any)
        return true;
    std::vector<BulletinKey> keys;
    keys.reserve(rows.size());
    QSet<BulletinKey> bulletins;
    QHash<QString, QString> dayOfText;
    for (int row : rows) {
        const QString shown = m_list->getItemText(row, m_layout.dateColumn);
        auto day = dayOfText.constFind(shown);
        if (day == dayOfText.cend())
            day = dayOfText.insert(shown, BulletinKey::dayFromSearchText(m_layout.searchDay(shown)));
        keys.push_back({m_list->getItemText(row, m_layout.requestIdColumn), *day});
        bulletins.insert(keys.back());
    }
    ValidatedBulletins finder(database);
    QHash<BulletinKey, ValidationRecord> validated;
    if (!finder.find(bulletins, &validated)) {
        m_validationError = finder.errorText();
        return false;
    }
    // The mark says what the set's bulletin says: its content is the one signed. The zone is
    // Qt's own, not the system's asked once per row.
    const QTimeZone zone = QTimeZone::systemTimeZone();
    QHash<qint64, QString> noteOf;
    for (int i = 0; i < rows.size(); ++i) {
        const auto found = validated.constFind(keys[size_t(i)]);
        if (found == validated.cend())
            continue;
        auto note = noteOf.constFind(found->id);
        if (note == noteOf.cend())
            note = noteOf.insert(
                found->id, QString::fromLatin1(kNoteValidated)
                               .arg((found->title + QLatin1Char(' ') + found->fullName).trimmed(),
                                    found->validatedAt.toTimeZone(zone).toString(QStringLiteral("dd/MM/yyyy HH:mm"))));
        m_list->setCellNote(rows.at(i), m_layout.dateColumn, *note);
    }
    return true;
}

bool ListMarks::markCritical(DatabaseConnection* database, const QList<int>& rows, const QList<qint64>& ids) {
    CriticalLimits limits(database, bulletinValueReading());
    std::vector<CriticalValue> critical, unannounced;
    if (!limits.criticalValuesOf(ids, &critical)) {
        m_criticalError = limits.errorText();
        return false;
    }
    if (critical.empty())
        return true;
    CriticalNotifications notifications(database);
    if (!notifications.unannounced(critical, &unannounced)) {
        m_criticalError = notifications.errorText();
        return false;
    }
    QSet<qint64> unannouncedSets;
    for (const CriticalValue& value : unannounced)
        unannouncedSets.insert(value.resultId);
    QHash<qint64, QStringList> notes;
    for (const CriticalValue& value : critical)
        notes[value.resultId] << CriticalLimits::describe(value);
    const int column = m_layout.requestIdColumn;
    for (int i = 0; i < rows.size(); ++i) {
        const int row = rows.at(i);
        const auto found = notes.constFind(ids.at(i));
        if (found == notes.cend())
            continue;
        QString note = QStringLiteral("!! ") + found->join(QLatin1String("; ")) + QStringLiteral(" (") +
                       QLatin1String(unannouncedSets.contains(ids.at(i)) ? kNoteUnannounced : kNoteAnnounced) +
                       QLatin1Char(')');
        // A corrected identifier keeps its correction's note beneath.
        if (m_list->hasCellNote(row, column))
            note += QLatin1Char('\n') + m_list->getCellNote(row, column);
        m_list->setCellNote(row, column, note);
        m_list->setRowTextColor(row, QColor(0xcc, 0x00, 0x00));
    }
    return true;
}

void ListMarks::markTold(const QList<qint64>& resultIds) {
    const QString unannounced = QStringLiteral(" (") + QLatin1String(kNoteUnannounced) + QLatin1Char(')');
    const QString announced = QStringLiteral(" (") + QLatin1String(kNoteAnnounced) + QLatin1Char(')');
    const int column = m_layout.requestIdColumn;
    for (int row = 0; row < m_list->getItemCount(); ++row) {
        if (!resultIds.contains(m_list->getItemData(row)) || !m_list->hasCellNote(row, column))
            continue;
        QString note = m_list->getCellNote(row, column);
        const qsizetype at = note.indexOf(unannounced);
        if (note.startsWith(QLatin1String("!! ")) && at >= 0)
            m_list->setCellNote(row, column, note.replace(at, unannounced.size(), announced));
    }
}
