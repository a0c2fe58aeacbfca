#pragma once

#include <QList>
#include <QSet>
#include <QString>
#include <QVariant>

#include <functional>

class CorrectionJournal;
class DatabaseConnection;
class EditableListView;

// The marks on the results list's rows: a corrected cell's note (who, when, what it held), the
// transfer day's note of a set whose bulletin holds its validation, and a critical value's note
// and colour on the request identifier. They are worked out for the rows the list is about to
// draw, a block at a time, so a search of two years costs what the rows in view cost; each row
// is read once per search, from what the database holds at that moment.
class ListMarks {
public:
    struct Layout {
        int requestIdColumn = 0;
        int dateColumn = 0;
        // The column showing a journal field, -1 for none; the text of one of its values.
        std::function<int(const QString& field)> columnOfField;
        std::function<QString(const QString& field, const QVariant& value)> valueText;
        // "15/06/2026" -> "2026/06/15"
        std::function<QString(const QString& shownDay)> searchDay;
    };

    ListMarks(EditableListView* list, Layout layout);

    // A new search: the reasons of marks that could not be read are forgotten.
    void reset();
    // Marks the given rows (each once per search); true when a reason for missing marks was added.
    bool markRows(DatabaseConnection* database, CorrectionJournal* journal, const QList<int>& rows);
    // After who was told of a bulletin's critical values was recorded: its marked rows say so.
    void markTold(const QList<qint64>& resultIds);
    // Why some marks could not be read, for the status bar ("; ..."), empty when all were.
    QString unreadText() const;

    static const char* const kNoteUnannounced;
    static const char* const kNoteAnnounced;

private:
    void markCorrected(CorrectionJournal* journal, const QList<int>& rows, const QList<qint64>& ids);
    bool markValidated(DatabaseConnection* database, const QList<int>& rows);
    bool markCritical(DatabaseConnection* database, const QList<int>& rows, const QList<qint64>& ids);

    EditableListView* m_list;
    Layout m_layout;
    QString m_journalError;
    QString m_validationError;
    QString m_criticalError;
};
