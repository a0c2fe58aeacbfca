#include "AppTestMain.h"
#include "BulletinPage.h"

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPrinter>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeWidget>
#include <QWebEnginePage>
#include <QWebEngineView>

#include <functional>
#include <memory>

#include <time.h>

#include "AmendmentReasonDialog.h"
#include "BulletinArchive.h"
#include "BulletinBuilder.h"
#include "BulletinDocument.h"
#include "BulletinValidationCommand.h"
#include "BulletinView.h"
#include "ChildWindow.h"
#include "CommandIds.h"
#include "CommentDialog.h"
#include "CorrectionJournal.h"
#include "CriticalNotificationDialog.h"
#include "DocumentTemplate.h"
#include "DocumentView.h"
#include "ExplorerLab.h"
#include "HistoryDialog.h"
#include "MainWindow.h"
#include "RecentFileList.h"
#include "SigningPasswords.h"

namespace {

const QDate kDay(2026, 5, 10);
// Times of the corrections and bulletins, in UTC; the laboratory's clock is three hours ahead in May.
const QDateTime kEarlier(kDay, QTime(6, 0, 5), Qt::UTC);
const QDateTime kFirst(kDay, QTime(7, 15, 20), Qt::UTC);
const QDateTime kSecond(kDay, QTime(8, 30, 40), Qt::UTC);
const QDateTime kPrinted(kDay, QTime(9, 45, 0), Qt::UTC);

// Request 200 has two sets that day, request 201 one; sets 4 and 5 carry "0", which names no request.
// With laterSet, request 200 has a third set of the day, listed after another request's sets.
bool startHistoryLab(ExplorerLab& x, bool laterSet = false) {
    if (laterSet && !(x.createEmpty() && x.addResult(6, "200", "Ana", "2026-05-10 13:00:00", 30, "F", QVariant(), 1)))
        return false;
    if (!((laterSet || x.createEmpty()) && x.addProfile(1, "Hemograma") && x.addProfile(2, "Biochimie") &&
          x.addResult(1, "200", "Ana", "2026-05-10 08:00:00", 30, "F", QVariant(), 1) &&
          x.addResult(2, "200", "Ana", "2026-05-10 09:00:00", 30, "F", QVariant(), 1) &&
          x.addResult(3, "201", "Bob", "2026-05-10 10:00:00", 50, "M", QVariant(), 2) &&
          x.addResult(4, "0", "Zero", "2026-05-10 11:00:00", 1, "F", QVariant(), 1) &&
          x.addResult(5, "0", "Zero bis", "2026-05-10 12:00:00", 2, "F", QVariant(), 1) && x.start()))
        return false;
    x.search("", "", kDay, kDay);
    return x.list()->getItemCount() == (laterSet ? 6 : 5);
}

// Runs action on the menu or modal dialog once it is up; whatever it leaves open is closed,
// so no test hangs. Each poll hands a copy of itself to the next timer.
struct ModalPoll {
    std::function<void(QWidget*)> action;
    int attempts = 0;
    void operator()() const {
        QWidget* up = QApplication::activePopupWidget();
        if (!up)
            up = QApplication::activeModalWidget();
        if (up) {
            action(up);
            if (auto* dialog = qobject_cast<QDialog*>(up); dialog && dialog->isVisible())
                dialog->reject();
            else if (auto* menu = qobject_cast<QMenu*>(up); menu && menu->isVisible())
                menu->close();
        } else if (attempts < 500) {
            QTimer::singleShot(10, ModalPoll{action, attempts + 1});
        }
    }
};
void whenUp(std::function<void(QWidget*)> action) {
    QTimer::singleShot(0, ModalPoll{std::move(action)});
}

// The rows of a list of the dialog, their cells joined by '|'. Rows of one time come in the
// order the database gives, so within one time they are sorted.
QStringList listRows(QWidget* dialog, const char* name) {
    auto* list = dialog->findChild<QTreeWidget*>(name);
    QStringList rows, sameTime;
    QString time;
    for (int i = 0; i < list->topLevelItemCount(); ++i) {
        QTreeWidgetItem* item = list->topLevelItem(i);
        if (item->text(0) != time) {
            sameTime.sort();
            rows << sameTime;
            sameTime.clear();
            time = item->text(0);
        }
        QStringList cells;
        for (int c = 0; c < list->columnCount(); ++c)
            cells << item->text(c);
        sameTime << cells.join('|');
    }
    sameTime.sort();
    return rows << sameTime;
}

QString pageText(BulletinView* view) {
    return bulletinPageText(view);
}

QByteArray bulletinOf(const QString& patient) {
    return "<!DOCTYPE html><html><head><meta charset=\"utf-8\"><link rel=\"stylesheet\" "
           "href=\"buletin_files/print.css\"></head><body><h1>" +
           patient.toUtf8() + "</h1></body></html>";
}

} // namespace

class TestHistory : public QObject {
    Q_OBJECT

    QDateTime m_now;
    std::unique_ptr<RecentFileList> m_recent;
    std::unique_ptr<MainWindow> m_frame;
    std::unique_ptr<DocumentTemplate> m_template;

    // The bulletin window of the program beside the explorer.
    void withBulletinWindows(ExplorerLab& x) {
        m_recent = std::make_unique<RecentFileList>(4);
        m_frame = std::make_unique<MainWindow>(m_recent.get());
        m_template = std::make_unique<DocumentTemplate>(
            IDR_BULLETINTYPE, QStringLiteral("\nTervan\nTervan\n\n\nTervana.Document\nTervan Document"),
            [](BulletinDocument*) { return new BulletinView; });
        m_template->setMainFrame(m_frame.get());
        m_frame->show();
        x.sharedState.m_bulletinTemplate = m_template.get();
        // The explorer stays the window the user types in.
        x.view->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(x.view.get()));
    }

private slots:
    void initTestCase_data() { DbLab::addBackends(); }
    void initTestCase() {
        // Times are shown in the laboratory's own time, not in UTC.
        qputenv("TZ", "Europe/Bucharest");
        tzset();
        CorrectionJournal::setClock([this] { return m_now; });
    }
    void cleanupTestCase() { CorrectionJournal::setClock(nullptr); }
    void cleanup() {
        m_frame.reset();
        m_template.reset();
        m_recent.reset();
    }

    // Two corrections through the list, and the bulletins kept of the request: the dialog of
    // the record lists those of its request (of the record alone when it names no request),
    // newest first, and opens a bulletin from the archive.
    void correctionsAndBulletins_data() {
        QTest::addColumn<qint64>("record");
        QTest::addColumn<qint64>("other");
        QTest::addColumn<QString>("subject");
        QTest::addColumn<QStringList>("corrections"); // time|record|field|old|new
        QTest::addColumn<QStringList>("bulletins");   // time|record|day|what became of it
        QTest::addColumn<bool>("laterSet");

        QTest::newRow("request") << qint64(1) << qint64(3) << "Cererea 200"
                                 << QStringList{"10/05/2026 11:30:40|1|Profil|Hemograma|Biochimie",
                                                "10/05/2026 11:30:40|2|Profil|Hemograma|Biochimie",
                                                "10/05/2026 10:15:20|1|Descriere proba|Ana|Ana nou",
                                                "10/05/2026 10:15:20|2|Descriere proba|Ana|Ana nou"}
                                 << QStringList{"10/05/2026 12:45:00|1|6/3/2026|afisat",
                                                "10/05/2026 09:00:05|2|6/3/2026|tiparit"}
                                 << false;
        // The request's sets lie on both sides of the other request's set.
        QTest::newRow("request around another set")
            << qint64(1) << qint64(3) << "Cererea 200"
            << QStringList{"10/05/2026 11:30:40|1|Profil|Hemograma|Biochimie",
                           "10/05/2026 11:30:40|2|Profil|Hemograma|Biochimie",
                           "10/05/2026 11:30:40|6|Profil|Hemograma|Biochimie",
                           "10/05/2026 10:15:20|1|Descriere proba|Ana|Ana nou",
                           "10/05/2026 10:15:20|2|Descriere proba|Ana|Ana nou",
                           "10/05/2026 10:15:20|6|Descriere proba|Ana|Ana nou"}
            << QStringList{"10/05/2026 12:45:00|1|6/3/2026|afisat", "10/05/2026 09:00:05|2|6/3/2026|tiparit"} << true;
        QTest::newRow("0 names no request") << qint64(4) << qint64(5) << "Inregistrarea 4 (fara cerere)"
                                            << QStringList{"10/05/2026 11:30:40|4|Profil|Hemograma|Biochimie",
                                                           "10/05/2026 10:15:20|4|Descriere proba|Zero|Zero nou"}
                                            << QStringList{"10/05/2026 12:45:00|4|6/3/2026|afisat"} << false;
    }
    void correctionsAndBulletins() {
        QFETCH(qint64, record);
        QFETCH(qint64, other);
        QFETCH(QString, subject);
        QFETCH(QStringList, corrections);
        QFETCH(QStringList, bulletins);
        QFETCH(bool, laterSet);
        ExplorerLab x;
        QVERIFY(startHistoryLab(x, laterSet));
        withBulletinWindows(x);
        const QString requestId = x.list()->getItemText(x.rowOf(record), 0);
        const QString otherRequestId = x.list()->getItemText(x.rowOf(other), 0);
        const QString name = x.list()->getItemText(x.rowOf(record), 1);

        // Another request's correction and bulletins, which the dialog must leave out.
        m_now = kEarlier;
        QVERIFY(typeIntoCell(x, other, 1, "Altcineva"));
        QTRY_COMPARE(x.field(other, "PacientName"), QVariant("Altcineva"));
        BulletinArchive archive(&x.database);
        QVERIFY(archive.store(other, {otherRequestId, "2026-03-06"}, bulletinOf("Altcineva"), ArchivePurpose::Shown));

        m_now = kFirst;
        QVERIFY(typeIntoCell(x, record, 1, name + " nou"));
        QTRY_COMPARE(x.field(record, "PacientName"), QVariant(name + " nou"));
        m_now = kSecond;
        auto* combo = qobject_cast<QComboBox*>(startEditing(x, x.rowOf(record), 6));
        QVERIFY(combo);
        combo->setCurrentIndex(combo->findText("Biochimie"));
        QTest::keyClick(combo, Qt::Key_Return);
        QTRY_COMPARE(x.field(record, "profileID"), QVariant(2));

        if (record == 1) {
            m_now = kEarlier;
            QVERIFY(archive.store(2, {requestId, "2026-03-06"}, bulletinOf("Ana, mai vechi"), ArchivePurpose::Printed));
        }
        m_now = kPrinted;
        QVERIFY(archive.store(record, {requestId, "2026-03-06"}, bulletinOf("Pacient arhivat " + name),
                              ArchivePurpose::Shown));
        // The bulletin file of the current directory belongs to somebody else.
        QFile file(QString::fromLatin1(kBulletinFileName));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(bulletinOf("Din fisier"));
        file.close();

        // The analyser's message the set came from, and another set's, which stays out.
        QVERIFY(x.lab.exec("INSERT INTO ANALYSERS (MachineID, AnalyseName) VALUES (1, 'Hemo')"));
        for (qint64 set : {record, other})
            QVERIFY(x.lab.exec(QStringLiteral("INSERT INTO RECEIVED_MESSAGES (id, MachineID, protocol, controlId, "
                                              "receivedAt, content) VALUES (?, 1, 'HL7', ?, %1, ?)")
                                   .arg(x.lab.dateParameter()),
                               {set, QStringLiteral("M%1").arg(set), "2026-05-10 08:00:00",
                                QStringLiteral("MSH|^~\\&|A\rOBR|1|%1\r").arg(set)}) &&
                    x.lab.exec("INSERT INTO RECEIVED_SETS (messageID, resultID, fingerprint) VALUES (?, ?, ?)",
                               {set, set, QString(64, QLatin1Char('a' + int(set)))}));
        const QString who = CorrectionJournal::currentUser() + '|' + CorrectionJournal::workstation() + '|';
        QStringList shownCorrections, shownBulletins, shownReceived;
        QString shownSubject, shownMessage;
        whenUp([&](QWidget* up) {
            auto* dialog = qobject_cast<HistoryDialog*>(up);
            QVERIFY(dialog);
            QCOMPARE(dialog->windowTitle(), QString("Istoric"));
            shownSubject = dialog->findChild<QLabel*>("labelSubject")->text();
            shownCorrections = listRows(dialog, "listCorrections");
            shownBulletins = listRows(dialog, "listBulletins");
            shownReceived = listRows(dialog, "listReceivedMessages");
            shownMessage = dialog->findChild<QPlainTextEdit*>("textReceivedMessage")->toPlainText();
            dialog->findChild<QTreeWidget*>("listBulletins")->setFocus();
            QTest::mouseClick(dialog->findChild<QPushButton*>("buttonOpenBulletin"), Qt::LeftButton);
        });
        x.selectRow(x.rowOf(record));
        QTest::keyClick(x.list(), Qt::Key_H, Qt::ControlModifier);

        QCOMPARE(shownSubject, subject);
        QStringList expected;
        // No bulletin of the request was out when these were made, so none asked for a reason.
        for (const QString& row : corrections)
            expected << row.section('|', 0, 0) + '|' + who + row.section('|', 1) + '|';
        QCOMPARE(shownCorrections, expected);
        expected.clear();
        for (const QString& row : bulletins)
            expected << row.section('|', 0, 0) + '|' + who + row.section('|', 1);
        QCOMPARE(shownBulletins, expected);
        QCOMPARE(shownReceived, QStringList{QStringLiteral("10/05/2026 08:00:00|Hemo (1)|HL7|M%1|%1").arg(record)});
        QCOMPARE(shownMessage, QStringLiteral("MSH|^~\\&|A\nOBR|1|%1").arg(record));

        // The newest bulletin, from the archive, in a window of its own.
        QCOMPARE(m_frame->childFrames().size(), 1);
        auto* view = qobject_cast<BulletinView*>(m_frame->childFrames().first()->view());
        QVERIFY(view);
        QTRY_VERIFY(pageText(view).contains("Pacient arhivat " + name));
        QVERIFY(!pageText(view).contains("Din fisier"));
        QVERIFY(m_frame->childFrames().first()->windowTitle().contains("arhivat"));
        QCOMPARE(x.messages, QStringList());
    }

    // F9 validates the current row's bulletin, signed by an active signatory with their signing
    // password; afterwards a correction of the request asks for its reason, which the history shows.
    void validationAndReasonOfAmendment() {
        ExplorerLab x;
        QVERIFY(startHistoryLab(x));
        QString preselected; // the signatory the dialog offered
        ValidationConfirmDialog::setAnswerHook([&](ValidationConfirmDialog& dialog) {
            preselected = dialog.signatory() ? dialog.signatory()->login : QString();
            dialog.setPassword("parola-anei");
            return true;
        });
        QString typedReason; // null: Cancel
        int reasonAsked = 0;
        // Both sets of request 200 carry a value, so both are on its bulletin.
        QVERIFY(x.lab.exec("INSERT INTO RESULT_VALUES (resultID, MachineID, refcode, stringvalue) VALUES (1, 3, 'WBC', "
                           "'8'), (2, 3, 'HGB', '14')"));
        AmendmentReasonDialog::setAnswerHook([&](AmendmentReasonDialog&) {
            ++reasonAsked;
            return typedReason;
        });
        struct Unhook {
            ~Unhook() {
                ValidationConfirmDialog::setAnswerHook({});
                AmendmentReasonDialog::setAnswerHook({});
            }
        } unhook;
        m_now = kFirst;
        x.selectRow(x.rowOf(1));
        QTest::keyClick(x.list(), Qt::Key_F9);
        QCOMPARE(x.messages, QStringList{"Laboratorul nu are semnatari, asa ca buletinele nu se valideaza. Semnatarii "
                                         "se adauga cu labrosa-dbtool --signatory add."});
        QVERIFY(x.lab.exec("INSERT INTO SIGNATORIES (userName, fullName, title) VALUES ('altcineva', 'Ion Ionescu', "
                           "'Dr.')"));
        x.messages.clear();
        // Another user's signatory is not chosen for the one at the workstation: nothing is signed.
        preselected = "?";
        QTest::keyClick(x.list(), Qt::Key_F9);
        QCOMPARE(preselected, QString());
        QCOMPARE(x.messages, QStringList());
        QCOMPARE(x.lab.scalar("SELECT COUNT(*) FROM BULLETIN_VALIDATION").toInt(), 0);
        QCOMPARE(x.lab.scalar("SELECT COUNT(*) FROM BULLETIN_ARCHIVE").toInt(), 0);

        QVERIFY(x.lab.exec("INSERT INTO SIGNATORIES (userName, fullName, title) VALUES (?, 'Ana Pop', 'Dr. med. vet.')",
                           {CorrectionJournal::currentUser()}));
        QCOMPARE(SigningPasswords(&x.database).reset(CorrectionJournal::currentUser(), "parola-anei"),
                 SigningPasswords::Outcome::accepted);
        x.messages.clear();
        // The window of the preliminary bulletin validates it as well.
        withBulletinWindows(x);
        QTest::keyClick(x.list(), Qt::Key_Return);
        QCOMPARE(m_frame->childFrames().size(), 1);
        auto* validate = m_frame->childFrames().first()->view()->findChild<QPushButton*>("buttonValidate");
        QVERIFY(validate);
        QTest::mouseClick(validate, Qt::LeftButton);
        QCOMPARE(x.messages, QStringList());
        QCOMPARE(preselected, CorrectionJournal::currentUser());
        QCOMPARE(x.rowsAsText("SELECT RequestID, resultIDs, userName, fullName FROM BULLETIN_VALIDATION"),
                 QStringList{"200|1,2|" + CorrectionJournal::currentUser() + "|Ana Pop"});
        QCOMPARE(x.rowsAsText("SELECT contentHash FROM BULLETIN_VALIDATION"),
                 x.rowsAsText("SELECT contentHash FROM BULLETIN_ARCHIVE ORDER BY id DESC").mid(0, 1));
        // The validated bulletin's window has nothing left to validate.
        QCOMPARE(m_frame->childFrames().size(), 2);
        QVERIFY(!m_frame->childFrames().last()->view()->findChild<QPushButton*>("buttonValidate"));
        x.view->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(x.view.get()));
        x.selectRow(x.rowOf(1));
        QTest::keyClick(x.list(), Qt::Key_F9);
        QCOMPARE(x.messages.size(), 1);
        QVERIFY2(x.messages.at(0).startsWith("Buletinul cererii 200 este deja validat de Dr. med. vet. Ana Pop"),
                 qPrintable(x.messages.at(0)));
        x.messages.clear();
        // A new search marks the validated request's sets, for the eye and for a screen reader.
        x.search("", "", kDay, kDay);
        const QString validatedNote = "Buletin validat de Dr. med. vet. Ana Pop la 10/05/2026 10:15";
        for (qint64 id : {1, 2})
            QCOMPARE(x.list()->model()->index(x.rowOf(id), 4).data(Qt::AccessibleDescriptionRole).toString(),
                     validatedNote);
        QVERIFY(!x.list()->hasCellNote(x.rowOf(3), 4));
        // The search can leave the validated requests out.
        auto* unvalidatedOnly = x.view->findChild<QCheckBox*>("checkUnvalidated");
        QVERIFY(unvalidatedOnly);
        unvalidatedOnly->setChecked(true);
        x.search("", "", kDay, kDay);
        QCOMPARE(x.listedIds(), (QList<qint64>{3, 4, 5}));
        unvalidatedOnly->setChecked(false);
        x.search("", "", kDay, kDay);
        QCOMPARE(x.listedIds().size(), 5);

        // OK on the comment as it was (NULL, shown as an empty box) corrects nothing: no reason
        // is asked, nothing is written and the request stays validated.
        whenUp([](QWidget* up) {
            QVERIFY(qobject_cast<CommentDialog*>(up));
            QTest::mouseClick(up->findChild<QPushButton*>("buttonOk"), Qt::LeftButton);
        });
        x.clickCell(x.rowOf(1), 1, Qt::RightButton);
        QCOMPARE(reasonAsked, 0);
        QVERIFY(x.field(1, "comment").isNull());
        QCOMPARE(x.journalRows(), QStringList());
        x.search("", "", kDay, kDay);
        QCOMPARE(x.list()->model()->index(x.rowOf(1), 4).data(Qt::AccessibleDescriptionRole).toString(), validatedNote);
        x.view->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(x.view.get()));

        // The request's bulletin is out: without a reason nothing is corrected.
        m_now = kSecond;
        QVERIFY(typeIntoCell(x, 2, 1, "Ana Maria"));
        QCoreApplication::processEvents(); // the edit ends through a queued call
        QCOMPARE(reasonAsked, 1);
        QCOMPARE(x.field(2, "PacientName"), QVariant("Ana"));
        QCOMPARE(x.journalRows(), QStringList());
        typedReason = "Nume gresit la primire";
        QVERIFY(typeIntoCell(x, 2, 1, "Ana Maria"));
        QCoreApplication::processEvents(); // the edit ends through a queued call
        QCOMPARE(reasonAsked, 2);
        QCOMPARE(x.field(2, "PacientName"), QVariant("Ana Maria"));
        QCOMPARE(x.rowsAsText("SELECT resultID, reason FROM CORRECTION_JOURNAL ORDER BY resultID"),
                 (QStringList{"1|Nume gresit la primire", "2|Nume gresit la primire"}));
        QVERIFY(!x.list()->hasCellNote(x.rowOf(1), 4));
        // Another request without a bulletin is corrected without being asked.
        QVERIFY(typeIntoCell(x, 3, 1, "Bobi"));
        QCoreApplication::processEvents(); // the edit ends through a queued call
        QCOMPARE(reasonAsked, 2);
        QCOMPARE(x.field(3, "PacientName"), QVariant("Bobi"));

        QStringList shown;
        whenUp([&](QWidget* up) { shown = listRows(up, "listCorrections"); });
        x.selectRow(x.rowOf(2));
        QTest::keyClick(x.list(), Qt::Key_H, Qt::ControlModifier);
        const QString who = CorrectionJournal::currentUser() + '|' + CorrectionJournal::workstation() + '|';
        QCOMPARE(shown, (QStringList{
                            "10/05/2026 11:30:40|" + who + "1|Descriere proba|Ana|Ana Maria|Nume gresit la primire",
                            "10/05/2026 11:30:40|" + who + "2|Descriere proba|Ana|Ana Maria|Nume gresit la primire"}));
        QCOMPARE(x.messages, QStringList());
    }

    // The history opens from the keyboard for the current row, and the keyboard's menu also
    // holds the comment dialog. The mouse reaches the same menu by a right click with Shift on
    // a row, which it then acts on, or the window's menu in the menu bar; a plain right click
    // still opens the comment.
    void keyboardOpensHistory_data() {
        QTest::addColumn<int>("key"); // 0: a right click on the row, -1: the window's menu
        QTest::addColumn<int>("modifiers");
        QTest::addColumn<QString>("entry");  // chosen in the menu, empty for none
        QTest::addColumn<QString>("opened"); // object name of the dialog that opened
        QTest::newRow("Ctrl+H") << int(Qt::Key_H) << int(Qt::ControlModifier) << ""
                                << "HistoryDialog";
        QTest::newRow("Menu key: Istoric") << int(Qt::Key_Menu) << int(Qt::NoModifier) << "&Istoric"
                                           << "HistoryDialog";
        QTest::newRow("Shift+F10: Istoric") << int(Qt::Key_F10) << int(Qt::ShiftModifier) << "&Istoric"
                                            << "HistoryDialog";
        QTest::newRow("Menu key: Comentariu") << int(Qt::Key_Menu) << int(Qt::NoModifier) << "&Comentariu..."
                                              << "dlgComment";
        QTest::newRow("Shift+right click: Istoric") << 0 << int(Qt::ShiftModifier) << "&Istoric"
                                                    << "HistoryDialog";
        QTest::newRow("menu bar: Istoric") << -1 << int(Qt::NoModifier) << "&Istoric"
                                           << "HistoryDialog";
        QTest::newRow("menu bar: Comentariu") << -1 << int(Qt::NoModifier) << "&Comentariu..."
                                              << "dlgComment";
        QTest::newRow("right click") << 0 << int(Qt::NoModifier) << ""
                                     << "dlgComment";
    }
    void keyboardOpensHistory() {
        QFETCH(int, key);
        QFETCH(int, modifiers);
        QFETCH(QString, entry);
        QFETCH(QString, opened);
        ExplorerLab x;
        QVERIFY(startHistoryLab(x));
        x.selectRow(x.rowOf(3));
        QString openedName, subject;
        auto onDialog = [&](QWidget* up) {
            openedName = up->objectName();
            if (auto* label = up->findChild<QLabel*>("labelSubject"))
                subject = label->text();
        };
        whenUp([&](QWidget* up) {
            auto* menu = qobject_cast<QMenu*>(up);
            if (entry.isEmpty() || !menu) {
                onDialog(up);
                return;
            }
            for (QAction* action : menu->actions()) {
                if (action->text() == entry) {
                    whenUp(onDialog);
                    QTest::mouseClick(menu, Qt::LeftButton, Qt::NoModifier, menu->actionGeometry(action).center());
                }
            }
        });
        if (key < 0) {
            // Offered only while there is a row to act on.
            QMenu* menu = x.view->viewMenu();
            QCOMPARE(menu->title(), QString("&Rezultate"));
            x.list()->setCurrentIndex(QModelIndex());
            x.list()->clearSelection();
            for (QAction* action : menu->actions())
                QVERIFY(!action->isEnabled());
            x.list()->setCurrentIndex(x.list()->model()->index(x.rowOf(3), 0));
            for (QAction* action : menu->actions())
                if (action->text() == entry && action->isEnabled())
                    action->trigger();
        } else if (key == 0) {
            x.selectRow(x.rowOf(1));
            QTest::mouseClick(x.list()->viewport(), Qt::RightButton, Qt::KeyboardModifiers(modifiers),
                              x.cellCentre(x.rowOf(3), 1));
        } else {
            QTest::keyClick(x.list(), Qt::Key(key), Qt::KeyboardModifiers(modifiers));
        }
        QTRY_COMPARE(openedName, opened);
        if (opened == "HistoryDialog")
            QCOMPARE(subject, QString("Cererea 201"));
        QCOMPARE(x.messages, QStringList());
    }

    // A set with a critical value is marked in the list until someone records who was told:
    // opening its bulletin asks, Cancel records nothing, the search can list only such sets,
    // and the record shows in the history.
    void criticalValuesAreToldAndRecorded() {
        ExplorerLab x;
        QVERIFY(startHistoryLab(x));
        // Set 1 is beyond the limit of its profile; set 3, of another profile, has no limit.
        QVERIFY(x.lab.exec("INSERT INTO RESULT_VALUES (resultID, MachineID, refcode, stringvalue) VALUES "
                           "(1, 1, 'K', '7,1'), (2, 1, 'K', '4'), (3, 1, 'K', '7,1')"));
        QVERIFY(x.lab.exec("INSERT INTO CRITICAL_VALUES (profileID, refcode, sex, criticalLow, criticalHigh) "
                           "VALUES (1, 'K', NULL, '2,5', '6,5')"));
        auto* unannouncedOnly = x.view->findChild<QCheckBox*>("checkUnannouncedCritical");
        QVERIFY(unannouncedOnly && unannouncedOnly->isVisible());
        unannouncedOnly->setChecked(true);
        x.search("", "", kDay, kDay);
        QCOMPARE(x.listedIds(), (QList<qint64>{1}));
        QCOMPARE(x.list()->model()->index(0, 0).data(Qt::AccessibleDescriptionRole).toString(),
                 QString("!! Valoare critica: K = 7,1, peste limita critica 6,5 (neanuntata)"));
        unannouncedOnly->setChecked(false);
        x.search("", "", kDay, kDay);
        QCOMPARE(x.listedIds().size(), 5);
        for (qint64 id : {2, 3})
            QVERIFY(!x.list()->hasCellNote(x.rowOf(id), 0));

        withBulletinWindows(x);
        int asked = 0;
        bool answer = false;
        CriticalNotificationDialog::setAnswerHook([&](CriticalNotificationDialog& dialog) {
            ++asked;
            // The time is prefilled with now and may be changed.
            dialog.nameEdit()->setText("Dr. Ionescu");
            dialog.contactEdit()->setText("0722 000 111");
            dialog.timeEdit()->setDateTime(QDateTime(kDay, QTime(11, 20)));
            return answer;
        });
        struct Unhook {
            ~Unhook() {
                CriticalNotificationDialog::setAnswerHook({});
                BulletinView::setPrintDialogHook(nullptr);
            }
        } unhook;
        x.selectRow(x.rowOf(1));
        QTest::keyClick(x.list(), Qt::Key_Return);
        QCOMPARE(asked, 1);
        QCOMPARE(x.messages, QStringList{"Nu s-a inregistrat nimic: cererea 200 ramane cu valori critice neanuntate."});
        QCOMPARE(x.rowsAsText("SELECT COUNT(*) FROM CRITICAL_NOTIFICATIONS"), QStringList{"0"});
        // Printing the page asks again.
        auto* firstPage = qobject_cast<BulletinView*>(m_frame->childFrames().last()->view());
        QVERIFY(firstPage);
        BulletinView::setPrintDialogHook([](QPrinter&) { return false; });
        firstPage->onFilePrint();
        QCOMPARE(asked, 2);
        x.messages.clear();
        answer = true;
        x.view->activateWindow();
        x.selectRow(x.rowOf(1));
        QTest::keyClick(x.list(), Qt::Key_Return);
        QCOMPARE(asked, 3);
        QCOMPARE(x.messages, QStringList());
        QCOMPARE(x.rowsAsText("SELECT RequestID, resultIDs, toldName, toldContact, userName FROM "
                              "CRITICAL_NOTIFICATIONS"),
                 QStringList{"200|1,2|Dr. Ionescu|0722 000 111|" + CorrectionJournal::currentUser()});
        QCOMPARE(x.list()->model()->index(x.rowOf(1), 0).data(Qt::AccessibleDescriptionRole).toString(),
                 QString("!! Valoare critica: K = 7,1, peste limita critica 6,5 (anuntata)"));
        // Told once: not asked again, and no longer among the unannounced.
        x.view->activateWindow();
        x.selectRow(x.rowOf(1));
        QTest::keyClick(x.list(), Qt::Key_Return);
        firstPage->onFilePrint();
        QCOMPARE(asked, 3);
        BulletinView::setPrintDialogHook(nullptr);
        unannouncedOnly->setChecked(true);
        x.search("", "", kDay, kDay);
        QCOMPARE(x.listedIds(), QList<qint64>());
        unannouncedOnly->setChecked(false);
        x.search("", "", kDay, kDay);

        QStringList shown;
        whenUp([&](QWidget* up) { shown = listRows(up, "listNotifications"); });
        x.selectRow(x.rowOf(2));
        QTest::keyClick(x.list(), Qt::Key_H, Qt::ControlModifier);
        QCOMPARE(shown.size(), 1);
        QVERIFY2(shown.at(0).startsWith("10/05/2026 11:20:00|Dr. Ionescu|0722 000 111|1, 2|"), qPrintable(shown.at(0)));
        QCOMPARE(x.messages, QStringList());

        // A limit of the patient's own sex makes set 2's value critical after the record: nobody
        // was told of it, so the list says so, and its bulletin asks before it is printed,
        // exported or saved; Cancel writes nothing.
        QVERIFY(x.lab.exec("INSERT INTO CRITICAL_VALUES (profileID, refcode, sex, criticalLow, criticalHigh) "
                           "VALUES (1, 'K', 'F', NULL, '3,5')"));
        unannouncedOnly->setChecked(true);
        x.search("", "", kDay, kDay);
        QCOMPARE(x.listedIds(), (QList<qint64>{2}));
        unannouncedOnly->setChecked(false);
        x.search("", "", kDay, kDay);
        answer = false;
        x.view->activateWindow();
        x.selectRow(x.rowOf(2));
        QTest::keyClick(x.list(), Qt::Key_Return);
        QCOMPARE(asked, 4);
        auto* page = qobject_cast<BulletinView*>(m_frame->childFrames().last()->view());
        QVERIFY(page && page != firstPage);
        QSignalSpy loaded(page->webView(), &QWebEngineView::loadFinished);
        QVERIFY(loaded.wait(30000) || !loaded.isEmpty());
        QTemporaryDir out;
        int printDialogs = 0;
        BulletinView::setPrintDialogHook([&](QPrinter& printer) {
            ++printDialogs;
            printer.setOutputFormat(QPrinter::PdfFormat);
            printer.setOutputFileName(out.filePath("tiparit.pdf"));
            return true;
        });
        x.messages.clear();
        page->onFilePrint();
        QVERIFY(!page->exportPdf(out.filePath("export.pdf")));
        QCOMPARE(page->saveAs(out.filePath("copie.pdf")), DocumentView::SaveResult::failed);
        QCOMPARE(page->saveAs(out.filePath("copie.html")), DocumentView::SaveResult::failed);
        QCOMPARE(asked, 8);
        QCOMPARE(printDialogs, 0);
        QCOMPARE(x.messages.size(), 4);
        QVERIFY2(x.messages.at(0).endsWith("\nBuletinul nu a fost tiparit."), qPrintable(x.messages.at(0)));
        QVERIFY(x.messages.at(1).endsWith("\nFisierul PDF nu a fost scris."));
        QVERIFY(x.messages.at(3).endsWith("\nBuletinul nu a fost salvat."));
        QCOMPARE(QDir(out.path()).entryList(QDir::Files), QStringList());

        // Told at printing, then exported and saved without asking again; each copy that left is
        // archived as the page the window holds.
        answer = true;
        QSignalSpy finished(page, &BulletinView::printFinished);
        page->onFilePrint();
        QCOMPARE(asked, 9);
        QVERIFY(finished.wait(60000) || !finished.isEmpty());
        QVERIFY(page->exportPdf(out.filePath("export.pdf")));
        QVERIFY(QTest::qWaitFor([&] { return finished.size() == 2; }, 60000));
        QCOMPARE(page->saveAs(out.filePath("copie.html")), DocumentView::SaveResult::Saved);
        QCOMPARE(asked, 9);
        QCOMPARE(x.messages.size(), 4);
        QCOMPARE(QDir(out.path()).entryList(QDir::Files), (QStringList{"copie.html", "export.pdf", "tiparit.pdf"}));
        QCOMPARE(x.rowsAsText("SELECT toldValues FROM CRITICAL_NOTIFICATIONS ORDER BY id"),
                 (QStringList{"1\t1\tK\t7,1", "2\t1\tK\t4"}));
        QCOMPARE(x.rowsAsText("SELECT purpose, TransDay FROM BULLETIN_ARCHIVE WHERE purpose <> 'afisat' ORDER BY id"),
                 (QStringList{"tiparit|2026-05-10", "exportat|2026-05-10", "salvat|2026-05-10"}));
        QCOMPARE(x.rowsAsText("SELECT COUNT(DISTINCT contentHash) FROM BULLETIN_ARCHIVE WHERE id >= (SELECT "
                              "MAX(id) FROM BULLETIN_ARCHIVE WHERE purpose = 'afisat')"),
                 QStringList{"1"});
        if (!x.lab.isPg()) {
            // A copy the archive refuses does not leave.
            QVERIFY(x.lab.exec("CREATE TRIGGER archive_refuses BEFORE INSERT ON BULLETIN_ARCHIVE "
                               "BEGIN SELECT RAISE(ABORT, 'arhiva refuza'); END"));
            QCOMPARE(page->saveAs(out.filePath("refuzat.html")), DocumentView::SaveResult::failed);
            QVERIFY(!QFile::exists(out.filePath("refuzat.html")));
            QCOMPARE(x.messages.size(), 5);
            QVERIFY2(x.messages.last().contains("nu a putut fi pastrata in arhiva"), qPrintable(x.messages.last()));
        }
    }
};

LABROSA_GUI_TEST_MAIN(TestHistory)
#include "tst_history.moc"
