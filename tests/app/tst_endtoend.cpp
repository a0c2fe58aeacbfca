#include "AppTestMain.h"
#include "BulletinPage.h"

#include "BulletinView.h"
#include "ChildWindow.h"
#include "CommandIds.h"
#include "CommentDialog.h"
#include "EditableListView.h"
#include "LabrosaApp.h"
#include "MainWindow.h"
#include "MessageBox.h"
#include "ResultsWindow.h"
#include "TestLab.h"

#include <QAction>
#include <QDateEdit>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMdiArea>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPrinter>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QSettings>
#include <QSignalSpy>
#include <QSqlQuery>
#include <QTimer>
#include <QToolBar>
#include <QWebEnginePage>
#include <QWebEngineView>

#include <functional>
#include <memory>

// The whole program on a demo laboratory folder, driven through its windows as a user would:
// mouse events enter through the window, key events go to the widget holding the focus.

namespace {

bool copyFile(const QString& from, const QString& to) {
    QFile::remove(to);
    return QFile::copy(from, to);
}

// The files a laboratory keeps beside its database: the header settings and the page assets.
bool installShareFiles(const TestLab& lab) {
    const QString share = QStringLiteral(LABROSA_SOURCE_DIR "/share");
    if (!copyFile(share + "/Labrosa.ini", lab.filePath("Labrosa.ini")))
        return false;
    if (!QDir(lab.path()).mkpath("buletin_files"))
        return false;
    for (const char* name : {"print.css", "dr.gif", "ub.gif"}) {
        const QString file = QStringLiteral("buletin_files/") + QLatin1String(name);
        if (!copyFile(share + "/" + file, lab.filePath(file)))
            return false;
    }
    return true;
}

// Mouse input enters through the top-level window, as from the window system: Qt picks the
// widget under the pointer, keeps the press's widget until the release, and turns a second
// quick press at the same place into a double click.
QWindow* windowAt(QWidget* reference, QPoint* position) {
    QWidget* top = reference->window();
    *position = top->mapFromGlobal(reference->mapToGlobal(*position));
    return top->windowHandle();
}

void userClick(QWidget* reference, QPoint position, Qt::MouseButton button = Qt::LeftButton) {
    QWindow* window = windowAt(reference, &position);
    QTest::mouseClick(window, button, Qt::NoModifier, position);
}

void userDoubleClick(QWidget* reference, QPoint position) {
    QWindow* window = windowAt(reference, &position);
    QTest::mouseDClick(window, Qt::LeftButton, Qt::NoModifier, position);
}

QWidget* focused() {
    return QApplication::focusWidget();
}

void pressKey(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    QWidget* target = focused();
    QVERIFY(target);
    QTest::keyClick(target, key, modifiers);
}

// Types text into the focused widget one character at a time, any letter (diacritics too).
void typeText(const QString& text) {
    for (const QChar c : text) {
        QWidget* target = focused();
        QVERIFY(target);
        QTest::sendKeyEvent(QTest::Press, target, Qt::Key_unknown, QString(c), Qt::NoModifier);
        QTest::sendKeyEvent(QTest::Release, target, Qt::Key_unknown, QString(c), Qt::NoModifier);
    }
}

QString simplified(QString text) {
    return text.simplified();
}

QString pdfText(const QString& path) {
    QProcess pdftotext;
    pdftotext.start(QStringLiteral("pdftotext"), {QStringLiteral("-enc"), QStringLiteral("UTF-8"), path, "-"});
    if (!pdftotext.waitForFinished(60000) || pdftotext.exitCode() != 0)
        return QString();
    return QString::fromUtf8(pdftotext.readAllStandardOutput());
}

QByteArray fileBytes(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("missing");
}

// The text of one page of a PDF (pages count from 1); empty when pdftotext fails.
QString pdfPageText(const QString& path, int page) {
    QProcess pdftotext;
    pdftotext.start(QStringLiteral("pdftotext"), {"-f", QString::number(page), "-l", QString::number(page),
                                                  QStringLiteral("-enc"), QStringLiteral("UTF-8"), path, "-"});
    if (!pdftotext.waitForFinished(60000) || pdftotext.exitCode() != 0)
        return QString();
    return QString::fromUtf8(pdftotext.readAllStandardOutput());
}

int pdfPageCount(const QString& path) {
    QProcess pdfinfo;
    pdfinfo.start(QStringLiteral("pdfinfo"), {path});
    if (!pdfinfo.waitForFinished(60000) || pdfinfo.exitCode() != 0)
        return -1;
    static const QRegularExpression pages(QStringLiteral("(?m)^Pages:\\s+(\\d+)"));
    return pages.match(QString::fromUtf8(pdfinfo.readAllStandardOutput())).captured(1).toInt();
}

QString pageText(BulletinView* view) {
    return bulletinPageText(view);
}

} // namespace

class TestEndToEnd : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<TestLab> m_lab;
    std::unique_ptr<Application> m_app;
    QStringList m_messages;

    // A month of demo requests ending today, so the window's first search lists today's.
    bool startProgram() {
        m_lab = std::make_unique<TestLab>();
        const QString today = QDate::currentDate().toString(Qt::ISODate);
        if (!m_lab->runTool({"--demo", "--seed", "11", "--results", "150", "--months", "1", "--end-date", today}))
            return false;
        if (!installShareFiles(*m_lab))
            return false;
        m_app = std::make_unique<LabrosaApp>();
        if (!m_app->initInstance({"labrosa"}))
            return false;
        MainWindow* frame = m_app->mainFrame();
        frame->resize(1280, 860);
        frame->activateWindow();
        return QTest::qWaitForWindowActive(frame) && list() && list()->getItemCount() > 0;
    }

    MainWindow* frame() const { return m_app->mainFrame(); }
    ChildWindow* resultsWindow() const {
        for (ChildWindow* child : frame()->childFrames())
            if (qobject_cast<ResultsWindow*>(child->view()))
                return child;
        return nullptr;
    }
    ResultsWindow* explorer() const {
        ChildWindow* window = resultsWindow();
        return window ? qobject_cast<ResultsWindow*>(window->view()) : nullptr;
    }
    EditableListView* list() const { return explorer() ? explorer()->resultList() : nullptr; }

    int rowOf(qint64 id) const {
        for (int row = 0; row < list()->getItemCount(); ++row)
            if (list()->getItemData(row) == id)
                return row;
        return -1;
    }
    QPoint cellCentre(int row, int column) const {
        const QModelIndex index = list()->model()->index(row, column);
        list()->scrollTo(index);
        return list()->visualRect(index).center();
    }
    QList<qint64> listedIds() const {
        QList<qint64> ids;
        for (int row = 0; row < list()->getItemCount(); ++row)
            ids << list()->getItemData(row);
        return ids;
    }
    QList<qint64> idsOf(const QString& sql, const QVariantList& values = {}) {
        QSqlQuery q(m_lab->admin());
        q.prepare(sql);
        for (const QVariant& v : values)
            q.addBindValue(v);
        QList<qint64> ids;
        if (q.exec())
            while (q.next())
                ids << q.value(0).toLongLong();
        return ids;
    }

    // Brings the results window forward through the Window menu, as a user switches windows.
    void activateResultsWindow() {
        QMenu* windowMenu = frame()->findChild<QMenu*>(QStringLiteral("menuWindow"));
        QVERIFY(windowMenu);
        emit windowMenu->aboutToShow();
        QAction* entry = nullptr;
        for (QAction* action : windowMenu->actions())
            if (action->text().endsWith(QStringLiteral(" Lista Rezultate1")))
                entry = action;
        QVERIFY(entry);
        entry->trigger();
        QTRY_COMPARE(frame()->activeChild(), resultsWindow());
    }

    // Double-clicks a row and waits for the bulletin window it opens to load its page.
    BulletinView* openBulletinOf(int row, QString* title, int column = 1) {
        const int before = frame()->childFrames().size();
        userDoubleClick(list()->viewport(), cellCentre(row, column));
        if (frame()->childFrames().size() != before + 1)
            return nullptr;
        ChildWindow* window = frame()->activeChild();
        auto* view = window ? qobject_cast<BulletinView*>(window->view()) : nullptr;
        if (!view)
            return nullptr;
        *title = window->windowTitle();
        QSignalSpy loaded(view->webView(), &QWebEngineView::loadFinished);
        if (!QTest::qWaitFor([&] { return !loaded.isEmpty(); }, 30000) || !loaded.first().first().toBool())
            return nullptr;
        return view;
    }

    // The first listed row with a patient name, and that name.
    int firstNamedRow(QString* name, int after = -1) const {
        for (int row = after + 1; row < list()->getItemCount(); ++row) {
            if (!list()->getItemText(row, 1).isEmpty()) {
                *name = list()->getItemText(row, 1);
                return row;
            }
        }
        return -1;
    }

private slots:
    void init() {
        m_messages.clear();
        setMessageBoxHook([this](const QString& text) { m_messages << text; });
        qunsetenv("LABROSA_DATABASE");
        // What the program remembers (date range, widths, window) starts afresh for each test.
        QCoreApplication::setOrganizationName(QStringLiteral("labrosa"));
        QCoreApplication::setApplicationName(QStringLiteral("Labrosa"));
        QSettings().clear();
    }

    void cleanup() {
        BulletinView::setPrintDialogHook(nullptr);
        BulletinView::setPdfFileDialogHook(nullptr);
        m_app.reset();
        m_lab.reset();
        setMessageBoxHook(nullptr);
    }

    void doubleClickOpensBulletinWindows() {
        QVERIFY(startProgram());
        QCOMPARE(frame()->activeChild()->windowTitle(), QStringLiteral("Lista Rezultate1"));
        QCOMPARE(frame()->currentMenuId(), int(IDR_MAINFRAME));

        QString firstName;
        const int firstRow = firstNamedRow(&firstName);
        QVERIFY(firstRow >= 0);
        QString title;
        BulletinView* first = openBulletinOf(firstRow, &title);
        QVERIFY(first);
        QCOMPARE(title, QStringLiteral("Tervan1"));
        QCOMPARE(frame()->childFrames().size(), 2);
        QCOMPARE(frame()->currentMenuId(), int(IDR_BULLETINTYPE));
        QCOMPARE(frame()->windowTitle(), QStringLiteral("Labrosa - Tervan1"));
        QCOMPARE(first->webView()->page()->title(), QStringLiteral("Buletin de investigatii paraclinice"));
        QVERIFY2(pageText(first).contains(firstName), qPrintable(firstName));
        QVERIFY2(m_messages.isEmpty(), qPrintable(m_messages.join('\n')));

        // Back to the list: another patient's bulletin opens a second window beside the first.
        activateResultsWindow();
        QCOMPARE(frame()->currentMenuId(), int(IDR_MAINFRAME));
        QString secondName;
        int secondRow = firstRow;
        while ((secondRow = firstNamedRow(&secondName, secondRow)) >= 0 && secondName == firstName) {
        }
        QVERIFY(secondRow >= 0);
        BulletinView* second = openBulletinOf(secondRow, &title);
        QVERIFY(second);
        QCOMPARE(title, QStringLiteral("Tervan2"));
        QCOMPARE(frame()->childFrames().size(), 3);
        QVERIFY(pageText(second).contains(secondName));
        QVERIFY(pageText(first).contains(firstName));
        QVERIFY(!pageText(first).contains(secondName));

        // The row that already has the focus opens its bulletin too: the first press of the
        // double click must not leave an edit box that swallows the second.
        activateResultsWindow();
        BulletinView* third = openBulletinOf(secondRow, &title);
        QVERIFY(third);
        QCOMPARE(title, QStringLiteral("Tervan3"));
        QVERIFY(pageText(third).contains(secondName));
        QVERIFY2(m_messages.isEmpty(), qPrintable(m_messages.join('\n')));
    }

    // Whatever the cell under the pointer (edit box, read-only, drop-down), a double click on a
    // row opens that row's bulletin and leaves the row's values as they were.
    void doubleClickOnAnyColumn_data() {
        QTest::addColumn<int>("column");
        QTest::newRow("request id") << 0;
        QTest::newRow("age") << 2;
        QTest::newRow("transfer date") << 4;
        QTest::newRow("comment") << 5;
        QTest::newRow("profile") << 6;
    }

    void doubleClickOnAnyColumn() {
        QFETCH(int, column);
        QVERIFY(startProgram());
        QString name;
        const int row = firstNamedRow(&name);
        QVERIFY(row >= 0);
        const qint64 id = list()->getItemData(row);
        QStringList before;
        for (int c = 0; c < list()->getColumnCount(); ++c)
            before << list()->getItemText(row, c);
        QString title;
        BulletinView* view = openBulletinOf(row, &title, column);
        QVERIFY(view);
        QCOMPARE(title, QStringLiteral("Tervan1"));
        QVERIFY(pageText(view).contains(name));

        activateResultsWindow();
        QTest::qWait(50);
        QVERIFY(!qobject_cast<QLineEdit*>(focused()) || !list()->isAncestorOf(focused()));
        QStringList after;
        for (int c = 0; c < list()->getColumnCount(); ++c)
            after << list()->getItemText(rowOf(id), c);
        QCOMPARE(after, before);
        QCOMPARE(frame()->childFrames().size(), 2);
        QVERIFY2(m_messages.isEmpty(), qPrintable(m_messages.join('\n')));
    }

    void printBulletinFromFileMenu() {
        QVERIFY(startProgram());
        QString name;
        const int row = firstNamedRow(&name);
        QVERIFY(row >= 0);
        QString title;
        BulletinView* view = openBulletinOf(row, &title);
        QVERIFY(view);

        // File > Print of the bulletin menu, with the print dialog answered "to a PDF file".
        QAction* fileMenu = frame()->menuBar()->actions().value(0);
        QVERIFY(fileMenu && fileMenu->menu());
        QAction* print = nullptr;
        for (QAction* action : fileMenu->menu()->actions())
            if (action == frame()->action(ID_FILE_PRINT))
                print = action;
        QVERIFY2(print, "the bulletin's File menu offers Print");
        QVERIFY(print->isEnabled());

        const QString pdf = m_lab->filePath("buletin.pdf");
        int dialogs = 0;
        BulletinView::setPrintDialogHook([&](QPrinter& printer) {
            ++dialogs;
            printer.setOutputFormat(QPrinter::PdfFormat);
            printer.setOutputFileName(pdf);
            return true;
        });
        QSignalSpy finished(view, &BulletinView::printFinished);
        print->trigger();
        QCOMPARE(dialogs, 1);
        QVERIFY(finished.wait(60000));
        QCOMPARE(finished.first().first().toBool(), true);
        QVERIFY(!BulletinView::isPrinting());
        const QString text = pdfText(pdf);
        QVERIFY2(simplified(text).contains(simplified(name)), qPrintable(text.left(2000)));
        QVERIFY(text.contains(QStringLiteral("Laborator Veterinar Labrosa")));
        QVERIFY(m_messages.isEmpty());
    }

    // File > Export PDF of a real bulletin: no printer dialog, an A4 file named after the request,
    // the patient and the date, whose text holds the patient and every value of the set. Each
    // page of a bulletin over several pages names the request, the patient and its number; the
    // last one ends the bulletin. The footer is only in the PDF: the bulletin file stays as written.
    void exportBulletinToPdf() {
        QVERIFY(startProgram());
        QString name;
        const int row = firstNamedRow(&name);
        QVERIFY(row >= 0);
        const qint64 id = list()->getItemData(row);
        const QString requestId = list()->getItemText(row, 0);
        // Enough values for three pages: the set's own, repeated up to 120.
        const QString countValues = QStringLiteral("SELECT COUNT(*) FROM RESULT_VALUES WHERE resultID = ?");
        for (int count = 0; (count = m_lab->scalar(countValues, {id}).toInt()) < 120;)
            QVERIFY(m_lab->exec(QStringLiteral("INSERT INTO RESULT_VALUES (resultID, MachineID, refcode, stringvalue) "
                                               "SELECT resultID, MachineID, refcode, stringvalue FROM RESULT_VALUES "
                                               "WHERE resultID = ? LIMIT ?"),
                                {id, 120 - count}));
        QString title;
        BulletinView* view = openBulletinOf(row, &title);
        QVERIFY(view);
        const QByteArray bulletinFile = fileBytes(m_lab->filePath(QStringLiteral("_buletin.html")));

        QAction* exportPdf = nullptr;
        for (QAction* action : frame()->menuBar()->actions().value(0)->menu()->actions())
            if (action == frame()->action(ID_FILE_EXPORT_PDF))
                exportPdf = action;
        QVERIFY2(exportPdf && exportPdf->isEnabled(), "the bulletin's File menu offers Export PDF");
        QVERIFY(frame()->toolBar()->actions().contains(exportPdf));
        BulletinView::setPrintDialogHook([](QPrinter&) { return false; }); // must not be asked
        QString proposed;
        BulletinView::setPdfFileDialogHook([&](const QString& path) {
            proposed = path;
            return m_lab->filePath(QFileInfo(path).fileName());
        });
        QSignalSpy finished(view, &BulletinView::printFinished);
        exportPdf->trigger();
        // Counted from the trigger: QSignalSpy::wait() would miss a job that ended before it began.
        QVERIFY(QTest::qWaitFor([&] { return !finished.isEmpty(); }, 60000));
        QCOMPARE(finished.first().first().toBool(), true);
        const QString fileName = QFileInfo(proposed).fileName();
        QVERIFY2(fileName.startsWith(requestId + QLatin1Char('_') + name.simplified()), qPrintable(fileName));
        QVERIFY2(QRegularExpression(QStringLiteral("_\\d{4}-\\d{2}-\\d{2}\\.pdf$")).match(fileName).hasMatch(),
                 qPrintable(fileName));

        const QString text = simplified(pdfText(m_lab->filePath(fileName)));
        QVERIFY2(text.contains(simplified(name)), qPrintable(text.left(2000)));
        QSqlQuery values(m_lab->admin());
        QVERIFY(values.prepare(QStringLiteral("SELECT stringvalue FROM RESULT_VALUES WHERE resultID = ?")));
        values.addBindValue(id);
        QVERIFY(values.exec());
        int count = 0;
        while (values.next()) {
            ++count;
            const QString value = values.value(0).toString().simplified();
            QVERIFY2(text.contains(value), qPrintable(value + QStringLiteral(" missing from: ") + text.left(2000)));
        }
        QVERIFY(count > 0);

        const QString pdf = m_lab->filePath(fileName);
        const int pages = pdfPageCount(pdf);
        QVERIFY2(pages >= 3, qPrintable(QString::number(pages)));
        const QString end = QStringLiteral("Sfarsitul buletinului");
        for (int page = 1; page <= pages; ++page) {
            const QString text = simplified(pdfPageText(pdf, page));
            for (const QString& expected :
                 {QStringLiteral("Cod cerere: ") + requestId, QStringLiteral("Nume: ") + name.simplified(),
                  QStringLiteral("Pagina %1 din %2").arg(page).arg(pages)})
                QVERIFY2(text.contains(expected), qPrintable(expected + QStringLiteral(" missing from: ") + text));
            QCOMPARE(text.contains(end), page == pages);
        }
        // On the last page the end line comes after everything of the bulletin but the footer.
        QString last = simplified(pdfPageText(pdf, pages));
        for (const QString& footer :
             {QStringLiteral("Cod cerere: ") + requestId, QStringLiteral("Nume: ") + name.simplified(),
              QStringLiteral("Pagina %1 din %1").arg(pages)})
            last.remove(last.lastIndexOf(footer), footer.size());
        QVERIFY2(last.trimmed().endsWith(end), qPrintable(last));
        QCOMPARE(fileBytes(m_lab->filePath(QStringLiteral("_buletin.html"))), bulletinFile);
        QVERIFY(m_messages.isEmpty());
    }

    void editNameAndCommentInTheList() {
        QVERIFY(startProgram());
        // A request of today with several sets on the same day, when the demo has one.
        const QDate today = QDate::currentDate();
        const QString dayStart = today.toString("yyyy-MM-dd") + " 00:00:00";
        const QString dayEnd = today.toString("yyyy-MM-dd") + " 23:59:00";
        const QVariant requestId =
            m_lab->scalar("SELECT RequestID FROM RESULTS WHERE TransDate >= ? AND TransDate <= ? GROUP BY RequestID "
                          "ORDER BY COUNT(*) DESC, RequestID LIMIT 1",
                          {dayStart, dayEnd});
        QVERIFY(requestId.isValid());
        const QList<qint64> sameDay =
            idsOf("SELECT ID FROM RESULTS WHERE RequestID = ? AND TransDate >= ? AND TransDate <= ? ORDER BY ID",
                  {requestId, dayStart, dayEnd});
        const QList<qint64> otherDays =
            idsOf("SELECT ID FROM RESULTS WHERE RequestID = ? AND NOT (TransDate >= ? AND TransDate <= ?)",
                  {requestId, dayStart, dayEnd});
        const qint64 id = sameDay.first();
        int row = rowOf(id);
        QVERIFY(row >= 0);

        // A click on the row's name cell focuses the row and opens the edit box over the cell.
        userClick(list()->viewport(), cellCentre(row, 1));
        auto* edit = qobject_cast<QLineEdit*>(focused());
        QVERIFY2(edit && list()->isAncestorOf(edit), "an edit box opens over the name cell");
        QCOMPARE(edit->text(), list()->getItemText(row, 1));
        pressKey(Qt::Key_A, Qt::ControlModifier);
        const QString newName = QStringLiteral("Ștefănescu D'Arc - Grivei");
        typeText(newName);
        pressKey(Qt::Key_Return);

        for (qint64 changed : sameDay)
            QTRY_COMPARE(m_lab->scalar("SELECT PacientName FROM RESULTS WHERE ID = ?", {changed}).toString(), newName);
        for (qint64 untouched : otherDays)
            QVERIFY(m_lab->scalar("SELECT PacientName FROM RESULTS WHERE ID = ?", {untouched}).toString() != newName);
        for (qint64 changed : sameDay) {
            QTRY_VERIFY(rowOf(changed) >= 0);
            QCOMPARE(list()->getItemText(rowOf(changed), 1), newName);
        }
        QVERIFY2(m_messages.isEmpty(), qPrintable(m_messages.join('\n')));

        // A right click on the row opens the comment dialog; OK stores the typed comment for the request.
        row = rowOf(id);
        const QString comment = QStringLiteral("Probă hemolizată, repetat 'urgent'");
        bool dialogSeen = false;
        bool focusInDialog = false;
        QString shownCaption;
        auto answer = std::make_shared<std::function<void()>>();
        auto attempts = std::make_shared<int>(0);
        *answer = [&, answer, attempts] {
            auto* dialog = qobject_cast<CommentDialog*>(QApplication::activeModalWidget());
            if (!dialog) {
                if (++*attempts < 1000)
                    QTimer::singleShot(10, *answer);
                return;
            }
            dialogSeen = true;
            shownCaption = dialog->windowTitle();
            // The offscreen platform has no window manager to hand a new dialog the focus.
            dialog->activateWindow();
            QVERIFY(QTest::qWaitFor([dialog] { return QGuiApplication::focusWindow() == dialog->windowHandle(); }));
            // The comment box has the focus: the typed text replaces the stored comment.
            focusInDialog = focused() == dialog->findChild<QPlainTextEdit*>(QStringLiteral("editComment"));
            if (focusInDialog) {
                pressKey(Qt::Key_A, Qt::ControlModifier);
                typeText(comment);
            }
            auto* ok = dialog->findChild<QPushButton*>(QStringLiteral("buttonOk"));
            if (ok)
                QTest::mouseClick(ok, Qt::LeftButton);
            if (dialog->isVisible())
                dialog->reject();
        };
        QTimer::singleShot(0, *answer);
        userClick(list()->viewport(), cellCentre(row, 1), Qt::RightButton);
        QVERIFY(dialogSeen);
        QVERIFY(focusInDialog);
        QCOMPARE(shownCaption, QStringLiteral("Dialog"));
        const QList<qint64> wholeRequest = idsOf("SELECT ID FROM RESULTS WHERE RequestID = ?", {requestId});
        for (qint64 stored : wholeRequest)
            QCOMPARE(m_lab->scalar("SELECT comment FROM RESULTS WHERE ID = ?", {stored}).toString(), comment);
        QCOMPARE(list()->getItemText(row, 5), comment);
        QVERIFY2(m_messages.isEmpty(), qPrintable(m_messages.join('\n')));
    }

    void searchWithTheKeyboardOnly() {
        QVERIFY(startProgram());
        ResultsWindow* view = explorer();
        auto* requestIdEdit = view->findChild<QLineEdit*>(QStringLiteral("editRequestId"));
        auto* nameEdit = view->findChild<QLineEdit*>(QStringLiteral("editPatientName"));
        auto* startDate = view->findChild<QDateEdit*>(QStringLiteral("dateStart"));
        auto* endDate = view->findChild<QDateEdit*>(QStringLiteral("dateEnd"));
        auto* search = view->findChild<QPushButton*>(QStringLiteral("buttonSearch"));
        QVERIFY(requestIdEdit && nameEdit && startDate && endDate && search);

        // The new window hands the keyboard to its first field, as a form does.
        QCOMPARE(focused(), requestIdEdit);

        // A request from earlier in the month (not among today's rows), with all its sets.
        const QVariant requestId = m_lab->scalar("SELECT RequestID FROM RESULTS GROUP BY RequestID "
                                                 "ORDER BY COUNT(*) DESC, RequestID LIMIT 1");
        const QList<qint64> expected =
            idsOf("SELECT ID FROM RESULTS WHERE RequestID = ? ORDER BY TransDate, RequestID", {requestId});
        QVERIFY(!expected.isEmpty());
        QVERIFY(!listedIds().contains(expected.first()));
        typeText(requestId.toString());
        pressKey(Qt::Key_Return);
        QCOMPARE(listedIds(), expected);
        for (int row = 0; row < list()->getItemCount(); ++row)
            QCOMPARE(list()->getItemText(row, 0), requestId.toString());

        // Letters in the identifier: a message, an empty list, and the field keeps its text.
        pressKey(Qt::Key_End);
        typeText("a");
        pressKey(Qt::Key_Return);
        QCOMPARE(m_messages.size(), 1);
        QVERIFY(m_messages.first().contains(QStringLiteral("ID pacient")));
        QCOMPARE(list()->getItemCount(), 0);
        QCOMPARE(requestIdEdit->text(), requestId.toString() + "a");

        // Clear it, Tab on to the name, search by part of a name (dates stay on today).
        pressKey(Qt::Key_A, Qt::ControlModifier);
        pressKey(Qt::Key_Delete);
        pressKey(Qt::Key_Tab);
        QCOMPARE(focused(), nameEdit);
        const QString todayStart = QDate::currentDate().toString("yyyy-MM-dd") + " 00:00:00";
        const QString part = m_lab
                                 ->scalar("SELECT substr(PacientName, 1, 5) FROM RESULTS WHERE TransDate >= ? "
                                          "AND PacientName IS NOT NULL ORDER BY ID LIMIT 1",
                                          {todayStart})
                                 .toString();
        QVERIFY(!part.isEmpty());
        typeText(part);
        pressKey(Qt::Key_Return);
        QVERIFY(list()->getItemCount() > 0);
        for (int row = 0; row < list()->getItemCount(); ++row)
            QVERIFY(list()->getItemText(row, 1).contains(part));

        // The rest of the form in Tab order, the button pressed with the keyboard, then the list.
        pressKey(Qt::Key_Tab);
        QCOMPARE(focused(), startDate);
        for (int i = 0; i < 10 && focused() == startDate; ++i)
            pressKey(Qt::Key_Tab);
        QCOMPARE(focused(), endDate);
        for (int i = 0; i < 10 && focused() == endDate; ++i)
            pressKey(Qt::Key_Tab);
        QCOMPARE(focused(), search);
        const int found = list()->getItemCount();
        list()->deleteAllItems();
        pressKey(Qt::Key_Space);
        QCOMPARE(list()->getItemCount(), found);
        pressKey(Qt::Key_Tab);
        QCOMPARE(focused(), static_cast<QWidget*>(list()));
        QCOMPARE(m_messages.size(), 1);
    }

    // Over a month of rows, no text in the list is cut: not at the bottom of a row (letters
    // with descenders), not at the end of a column.
    void resultCellsShowTheirWholeText() {
        QVERIFY(startProgram());
        explorer()->findChild<QDateEdit*>(QStringLiteral("dateStart"))->setDate(QDate::currentDate().addMonths(-1));
        userClick(explorer()->findChild<QPushButton*>(QStringLiteral("buttonSearch")), QPoint(5, 5));
        QVERIFY(list()->getItemCount() > 100);
        const QFontMetrics metrics = list()->fontMetrics();
        // A cell is drawn 1 pixel in from its top and bottom edges and its text 6 pixels in from each side.
        QVERIFY2(list()->uniformRowHeight() - 2 >= metrics.height(),
                 qPrintable(QStringLiteral("row %1, font %2").arg(list()->uniformRowHeight()).arg(metrics.height())));
        for (int column = 0; column < list()->getColumnCount(); ++column) {
            for (int row = 0; row < list()->getItemCount(); ++row) {
                const QString text = list()->getItemText(row, column);
                QVERIFY2(list()->getColumnWidth(column) - 12 >= metrics.horizontalAdvance(text),
                         qPrintable(QStringLiteral("column %1: %2").arg(column).arg(text)));
            }
        }
    }

    void everySearchLabelHasItsField() {
        QVERIFY(startProgram());
        auto* group = explorer()->findChild<QGroupBox*>(QStringLiteral("groupSearch"));
        QVERIFY(group);
        const QList<QLabel*> labels = group->findChildren<QLabel*>();
        QVERIFY(labels.size() >= 3);
        QStringList fields;
        for (QLabel* label : labels) {
            QVERIFY2(label->buddy(), qPrintable(label->text()));
            QVERIFY(label->buddy()->focusPolicy() & Qt::TabFocus);
            fields << label->buddy()->objectName();
        }
        for (const char* name : {"editRequestId", "editPatientName", "dateStart", "dateEnd"})
            QVERIFY2(fields.contains(QLatin1String(name)), name);
    }
};

LABROSA_GUI_TEST_MAIN(TestEndToEnd)
#include "tst_endtoend.moc"
