#pragma once

#include <QHash>
#include <QPoint>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QWidget>

#include <memory>
#include <optional>
#include <vector>

#include "DocumentView.h"
#include "Recordset.h"

class BackgroundCorrection;
class EditableListView;
class ListMarks;
class WaitedSearch;
struct BulletinBuildResult;
class CorrectionJournal;
class QAction;
struct JournalEntry;
class QCheckBox;
class QDateEdit;
class QLineEdit;
class QMenu;
class QPushButton;
class QTimer;
class SharedState;
class WaitingBar;
class WidestTextTracker;

struct ProfileEntry {
    QString name; // at most 79 characters
    int id = 0;
};

// The results explorer: the search fields over the editable result list.
// Child widgets carry object names for tests and assistive tools: "editRequestId",
// "editPatientName", "dateStart", "dateEnd", "buttonSearch", "resultList". On the list, Enter
// opens the current row's bulletin as a double click does, Ctrl+H
// opens the history of the current row, F9 validates its bulletin, Ctrl+E opens its Evolutie, and the Menu key,
// Shift+F10 or a right click with Shift a menu ("listMenu") with the comment, the history and the validation; a plain
// right click opens the comment. The same commands are in the menu bar's "Rezultate" while the window is active.
class ResultsWindow : public QWidget, public DocumentView {
    Q_OBJECT
public:
    explicit ResultsWindow(SharedState* sharedState, QWidget* parent = nullptr);
    ~ResultsWindow() override;

    void onInitialUpdate() override;
    // "Rezultate": the comment and the history of the current row, for the menu bar.
    QMenu* viewMenu() const override { return m_rowMenu; }
    void onSearch();

    // "6/3/2006" -> "2006/3/6"
    static QString toSqlDate(const QString& dayMonthYear);
    // The name of the first loaded profile with this id, or an empty text.
    QString profileNameById(int id) const;

    EditableListView* resultList() const { return m_list; }
    const std::vector<ProfileEntry>& profiles() const { return m_profiles; }

    // Limits of the typed texts.
    static constexpr int kMaxRequestIdLength = 49;
    static constexpr int kMaxNameLength = 299;
    static constexpr int kMaxCellLength = 199;
    static constexpr int kMaxAge = 150;

public slots:
    void onGridEditDone(int row, int column);
    void onGridFillCombo(int column, QStringList* entries);
    void onListRightClick();
    void onListDoubleClick();
    // "Istoric": the corrections and bulletins of the current row's request.
    void onHistory();
    // "Valideaza" (F9): a signatory validates the bulletin of the current row's request.
    void onValidate();
    // "Evolutie" (Ctrl+E): the patient's values over the latest sets, in a window of their own.
    void onEvolution();
    // A list of today's sets (the receiver adds sets as the analysers send them) is filled anew
    // when a set arrived since, every few seconds, unless a cell is being edited or a dialog is
    // open; the current row stays the current one.
    void refreshIfNew();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    // While a correction waits, closing gives it up and the window stays until it has ended.
    void closeEvent(QCloseEvent* event) override;

private:
    void loadProfiles();
    // The highest set ID; false when it could not be read.
    bool newestSetId(qint64* id);
    // The comment dialog for a row (-1: none, the dialog opens empty and stores nothing).
    void editComment(int row);
    // The row the keyboard acts on: the focused row, else the first selected one.
    int currentRow() const;
    // The menu of the comment and the history, at a point of the screen or under the current row.
    void showListMenu(std::optional<QPoint> globalAt = std::nullopt);
    // Creates the comment and history commands shared by the list's menu and the menu bar.
    void createRowCommands();
    // Enables them while there is a row for them to act on.
    void updateRowCommands();
    // The bulletin of a row, as a double click or Enter asks for it (-1: none).
    void openBulletin(int row);
    // Makes both date pickers take what is typed in them.
    void settleDatePickers();
    // A message in the status bar of the main window holding the explorer, if any.
    void showStatus(const QString& text);
    void autoSizeColumns(int count);
    // Column widths after a fill, from the widest texts seen while filling.
    void sizeColumnsToTexts(const std::vector<WidestTextTracker>& widest);
    // One finished cell edit as a correction of RESULTS; false when nothing is to be written.
    struct Correction {
        QString field;
        QVariant newValue;
        QString scope; // condition on RESULTS, '?' for scopeValues
        QVariantList scopeValues;
    };
    bool buildCorrection(int row, int column, Correction* correction);
    CorrectionJournal* journal();
    // Runs a correction on a connection of its own while the window stays usable; false when it
    // was not stored, with the reason for a person in *failure.
    bool applyCorrection(const Correction& correction, const QString& reason, int* changed, QString* failure);
    // A set whose bulletin (of its day, or of any day with wholeRequest) already left the
    // program is corrected only with a reason; false when none was given or the archive could
    // not be read (said in a message).
    bool askAmendmentReason(qint64 recordId, bool wholeRequest, const QString& failedHeadline, QString* reason);
    // The sets a search would list whose request's bulletin is validated, for a search of
    // unvalidated requests only; false with the reason when they could not be read.
    bool validatedSetsOfSearch(const QString& condition, const QVariantList& values, QSet<qint64>* validated,
                               QString* error);
    // The sets a search would list that hold a critical value nobody recorded as told; false
    // with the reason when the question failed.
    bool unannouncedSetsOfSearch(const QString& condition, const QVariantList& values, QSet<qint64>* sets,
                                 QString* error);
    // After a bulletin was made: asks who was told of its unannounced critical values.
    void askCriticalNotification(const QString& requestId, const BulletinBuildResult& result);
    static int columnOfField(const QString& field);
    QString fieldValueText(const QString& field, const QVariant& value) const;

    // The layout the user gave the window, kept per user: the widths of the columns sized by
    // hand (the others follow their texts after each search) and the last date range.
    void restoreListLayout();
    void onColumnResized(int column, int newWidth);
    void onColumnHandleDoubleClicked(int column);
    void saveColumnWidths() const;
    void saveDateRange() const;

    QDateEdit* m_dateEnd = nullptr;
    QDateEdit* m_dateStart = nullptr;
    QLineEdit* m_requestId = nullptr;
    QLineEdit* m_patientName = nullptr;
    EditableListView* m_list = nullptr;
    QObject* m_listViewport = nullptr; // compared only: its right clicks with Shift open the menu
    QPushButton* m_search = nullptr;
    QCheckBox* m_unvalidatedOnly = nullptr; // "checkUnvalidated": leaves out validated requests
    QCheckBox* m_unannouncedOnly = nullptr; // "checkUnannouncedCritical": only unannounced critical values
    QMenu* m_rowMenu = nullptr;             // the menu bar's "Rezultate"
    QAction* m_commentAction = nullptr;
    QAction* m_historyAction = nullptr;
    QAction* m_validateAction = nullptr;
    QAction* m_evolutionAction = nullptr;
    Recordset m_recordset;
    SharedState* m_sharedState;
    std::unique_ptr<CorrectionJournal> m_journal;
    std::unique_ptr<ListMarks> m_marks;
    std::unique_ptr<WaitedSearch> m_waitedSearch;
    QString m_foundText;                // the status of the last search, before what its marks could not read
    WaitingBar* m_waitingBar = nullptr; // "waitingBar": a correction waits for the database
    std::unique_ptr<BackgroundCorrection> m_background;
    std::vector<ProfileEntry> m_profiles;
    QHash<int, QString> m_profileNames;   // id -> name of the first profile with that id
    std::vector<int> m_emptyColumnWidths; // auto-size width of each column with no rows
    int m_textPadding = 0;                // what auto-size adds to a column's widest text
    std::vector<int> m_userColumnWidths;  // width the user gave each column, 0 where none
    bool m_headerDragging = false;        // a mouse button is down on the list's header
    QTimer* m_refreshTimer = nullptr;
    qint64 m_newestSeen = -1; // the newest set when the list was last filled
};
