#pragma once

// A results explorer on a fresh laboratory database of the backend under test (SQLite, or
// PostgreSQL when LABROSA_TEST_PG is set), with message boxes recorded instead of shown, and
// helpers that act on the real widgets as a user would.

#include <QApplication>
#include <QComboBox>
#include <QDateEdit>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

#include "DatabaseConnection.h"
#include "DbLab.h"
#include "EditableListView.h"
#include "MessageBox.h"
#include "ResultsWindow.h"
#include "SharedState.h"

class ExplorerLab {
public:
    ExplorerLab() : lab(DbLab::current()) {
        setMessageBoxHook([this](const QString& text) { messages << text; });
        // The layout the window remembers goes to settings of this process's own (set before the
        // first use of QSettings, which fixes the folder), fresh for each test.
        static QTemporaryDir settingsHome;
        if (qEnvironmentVariable("XDG_CONFIG_HOME") != settingsHome.path())
            qputenv("XDG_CONFIG_HOME", settingsHome.path().toLocal8Bit());
        QSettings().remove(QStringLiteral("ResultList"));
    }
    ~ExplorerLab() {
        view.reset();
        setMessageBoxHook({});
        dropLeftovers();
    }

    bool createEmpty() { return dropLeftovers() && lab.createEmpty(); }
    bool createDemo(int results, int seed) { return dropLeftovers() && lab.createDemo(results, seed); }

    // One RESULTS row; a null QVariant stores NULL.
    bool addResult(int id, const QString& requestId, const QVariant& name, const QString& transDate,
                   const QVariant& age = QVariant(), const QVariant& sex = QVariant(),
                   const QVariant& comment = QVariant(), const QVariant& profileId = QVariant()) {
        return lab.exec(
            QStringLiteral("INSERT INTO RESULTS (ID, RequestID, PacientName, TransDate, ProcDate, Age, SEX, "
                           "comment, profileID) VALUES (?, ?, ?, %1, %1, ?, ?, ?, ?)")
                .arg(lab.dateParameter()),
            {id, requestId, name, transDate, transDate, age, sex, comment, profileId});
    }
    bool addProfile(int id, const QString& name) {
        return lab.exec("INSERT INTO VET_PROFILES (id, profileName) VALUES (?, ?)", {id, name});
    }

    // Opens the program's connection and shows the explorer, which runs its first search.
    bool start() {
        if (!database.open(lab.connectionString()))
            return false;
        sharedState.m_database = &database;
        return showExplorer();
    }

    // Closes the explorer and opens a new one on the same database, as a user does the next day.
    bool reopen() {
        view.reset();
        return showExplorer();
    }

    bool showExplorer() {
        view = std::make_unique<ResultsWindow>(&sharedState);
        view->resize(1100, 700);
        view->show();
        if (!QTest::qWaitForWindowExposed(view.get()))
            return false;
        view->onInitialUpdate();
        return true;
    }
    EditableListView* list() const { return view->resultList(); }
    QLineEdit* requestIdEdit() const { return view->findChild<QLineEdit*>("editRequestId"); }
    QLineEdit* nameEdit() const { return view->findChild<QLineEdit*>("editPatientName"); }
    QDateEdit* startDate() const { return view->findChild<QDateEdit*>("dateStart"); }
    QDateEdit* endDate() const { return view->findChild<QDateEdit*>("dateEnd"); }
    QPushButton* searchButton() const { return view->findChild<QPushButton*>("buttonSearch"); }

    // Fills the search fields as typed and clicks "Cauta".
    void search(const QString& requestId, const QString& name, const QDate& from, const QDate& to) {
        requestIdEdit()->clear();
        nameEdit()->clear();
        QTest::keyClicks(requestIdEdit(), requestId);
        QTest::keyClicks(nameEdit(), name);
        startDate()->setDate(from);
        endDate()->setDate(to);
        QTest::mouseClick(searchButton(), Qt::LeftButton);
    }

    // The record ids of the listed rows, in list order.
    QList<qint64> listedIds() const {
        QList<qint64> ids;
        for (int row = 0; row < list()->getItemCount(); ++row)
            ids << list()->getItemData(row);
        return ids;
    }
    int rowOf(qint64 id) const { return listedIds().indexOf(id); }

    QPoint cellCentre(int row, int column) const {
        return list()->visualRect(list()->model()->index(row, column)).center();
    }
    void clickCell(int row, int column, Qt::MouseButton button = Qt::LeftButton) {
        list()->scrollTo(list()->model()->index(row, column));
        QTest::mouseClick(list()->viewport(), button, Qt::NoModifier, cellCentre(row, column));
    }
    void selectRow(int row) { clickCell(row, 0); }

    // All of RESULTS, one text per row, to show that nothing else changed.
    QStringList dumpResults() {
        return rowsAsText(
            "SELECT ID, RequestID, PacientName, TransDate, Age, SEX, comment, profileID FROM RESULTS ORDER BY ID");
    }
    // Each row of a query as its values joined by '|', NULL as <NULL>.
    QStringList rowsAsText(const QString& sql) {
        QStringList rows;
        QSqlQuery q(lab.admin());
        q.exec(sql);
        while (q.next()) {
            QStringList cells;
            for (int i = 0; i < q.record().count(); ++i)
                cells << (q.value(i).isNull() ? QStringLiteral("<NULL>") : q.value(i).toString());
            rows << cells.join('|');
        }
        return rows;
    }
    // Records every RESULTS row an UPDATE touches, even when it writes the value it found.
    bool logUpdates() {
        return lab.createTable("test_updated", "id INTEGER") &&
               lab.createTrigger("test_log_update", "AFTER UPDATE", "INSERT INTO test_updated VALUES (NEW.ID);");
    }
    // The correction journal, one "record|field|old|new" text a row, by record.
    QStringList journalRows() {
        return rowsAsText("SELECT resultID, field, oldValue, newValue FROM CORRECTION_JOURNAL ORDER BY resultID, id");
    }
    QList<qint64> updatedIds() {
        QList<qint64> ids;
        QSqlQuery q(lab.admin());
        q.exec("SELECT id FROM test_updated ORDER BY id");
        while (q.next())
            ids << q.value(0).toLongLong();
        return ids;
    }

    QVariant field(int id, const QString& column) {
        // A NULL comes back typed by the driver; plain QVariant() stands for NULL here.
        const QVariant value = lab.scalar(QStringLiteral("SELECT %1 FROM RESULTS WHERE ID = ?").arg(column), {id});
        return value.isNull() ? QVariant() : value;
    }

    // Tables a test makes beside the program's stay in a PostgreSQL database when the tool
    // replaces the program's tables; they go before the next test builds its own.
    bool dropLeftovers() {
        if (!lab.isPg())
            return true;
        return lab.exec("DROP TABLE IF EXISTS test_updated") && lab.exec("DROP TABLE IF EXISTS RESULTS_OLD CASCADE");
    }

    DbLab lab;
    DatabaseConnection database;
    SharedState sharedState;
    std::unique_ptr<ResultsWindow> view;
    QStringList messages;
};

// The in-place editor the list has opened over one of its cells, if any.
inline QWidget* openEditor(EditableListView* list) {
    QWidget* focused = QApplication::focusWidget();
    if (focused && focused != list && list->isAncestorOf(focused) &&
        (qobject_cast<QLineEdit*>(focused) || qobject_cast<QComboBox*>(focused)))
        return focused;
    return nullptr;
}

// Clicks the cell until its editor opens (the first click may only focus the row).
inline QWidget* startEditing(ExplorerLab& x, int row, int column) {
    for (int attempt = 0; attempt < 3; ++attempt) {
        x.clickCell(row, column);
        QWidget* editor = nullptr;
        for (int i = 0; i < 20 && !(editor = openEditor(x.list())); ++i)
            QTest::qWait(10);
        if (editor)
            return editor;
    }
    return nullptr;
}

// Types a new text into a cell's edit box and presses Enter, as a user corrects a cell.
inline bool typeIntoCell(ExplorerLab& x, qint64 id, int column, const QString& text) {
    auto* edit = qobject_cast<QLineEdit*>(startEditing(x, x.rowOf(id), column));
    if (!edit)
        return false;
    QTest::keyClick(edit, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(edit, Qt::Key_Delete);
    QTest::keyClicks(edit, text);
    QTest::keyClick(edit, Qt::Key_Return);
    return true;
}
