#include <QElapsedTimer>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QMainWindow>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QPushButton>
#include <QScopeGuard>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QStatusBar>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <ctime>
#include <functional>

#include "BulletinBuilder.h"
#include "ExplorerLab.h"

using Ids = QList<qint64>;

class TestExplorerSearch : public QObject {
    Q_OBJECT

private:
    // Requests spread over March and April 2006, with the cases the search must tell apart.
    static bool fillSearchLab(ExplorerLab& x) {
        return x.createEmpty() && x.addProfile(1, "Hemograma") && x.addProfile(2, "Biochimie") &&
               x.addResult(1, "100", "Ion Popescu", "2006-03-06 09:00:00", 40, "M", "primul", 1) &&
               x.addResult(2, "100", "Ion Popescu", "2006-03-20 10:00:00", 40, "M") &&
               x.addResult(3, "101", "Maria Ionescu", "2006-03-06 08:00:00", 0, "F", QVariant(), 2) &&
               x.addResult(4, "100/B", "Dan", "2006-04-01 12:00:00") &&
               x.addResult(5, "7", "ANA ion", "2006-03-31 23:59:00") &&
               x.addResult(6, "8", "Vlad", "2006-03-31 23:59:30") &&
               x.addResult(7, "9", "50%_off", "2006-03-10 10:00:00") &&
               x.addResult(8, "10", "50 percent", "2006-03-10 10:00:00") &&
               x.addResult(9, "11", QVariant(), "2006-03-12 10:00:00", QVariant(), QVariant(), QVariant(), 99) &&
               x.addResult(10, "12", "O'Brien; DROP TABLE RESULTS; --", "2006-03-13 10:00:00") &&
               x.addResult(11, "abc", "Zed", "2006-03-14 10:00:00") &&
               x.addResult(12, "-5", "Minus", "2006-03-15 10:00:00") &&
               // Identifiers beyond 64 bits, and the 64-bit limit itself.
               x.addResult(13, "12345678901234567890", "Lung", "2006-05-02 10:00:00") &&
               x.addResult(14, "9223372036854775807", "Limita", "2006-05-02 10:00:00") &&
               x.addResult(15, " 0012345678901234567890/B", "Lung bis", "2006-05-03 10:00:00") &&
               // Dates as other programs store them, one shape a day.
               x.addResult(16, "20", "Cu T", "2006-06-01T10:00:00") &&
               x.addResult(17, "21", "Doar data", "2006-06-02") &&
               x.addResult(18, "22", "Fractiuni", "2006-06-03 10:00:00.123456") &&
               x.addResult(19, "23", "Ora de o cifra", "2006-06-04 9:00:00") &&
               x.addResult(20, "24", "Dupa 23:59 cu T", "2006-06-06T23:59:30") &&
               x.addResult(21, "25", "La 23:59", "2006-06-05 23:59:00.000") &&
               x.addResult(22, "26", "La 23:59 cu T", "2006-06-06T23:59:00") &&
               x.addResult(23, "27", "Dupa 23:59", "2006-06-05 23:59:00.5");
    }

private slots:
    void initTestCase_data() { DbLab::addBackends(); }
    // The laboratory's time zone, where 03:30 on the spring-forward night is no local time.
    void initTestCase() {
        qputenv("TZ", "EET-2EEST,M3.5.0/3,M10.5.0/4");
        tzset();
    }

    void toSqlDate_data() {
        QTest::addColumn<QString>("input");
        QTest::addColumn<QString>("expected");
        QTest::newRow("picker text") << "06/03/2006"
                                     << "2006/03/06";
        QTest::newRow("list text") << "6/3/2006"
                                   << "2006/3/6";
        QTest::newRow("leading blanks") << " 6/ 3/ 2006"
                                        << "2006/3/6";
        QTest::newRow("part too long") << "6/3/20060000000"
                                       << "/3/6";
        QTest::newRow("empty") << ""
                               << "//";
    }
    void toSqlDate() {
        QFETCH(QString, input);
        QFETCH(QString, expected);
        QCOMPARE(ResultsWindow::toSqlDate(input), expected);
    }

    void form() {
        ExplorerLab x;
        QVERIFY(x.createEmpty());
        QVERIFY(x.start());
        QVERIFY(x.messages.isEmpty());

        auto* group = x.view->findChild<QGroupBox*>();
        QVERIFY(group);
        QCOMPARE(group->title(), QString("Cautare"));
        QMap<QString, QWidget*> buddies;
        for (QLabel* label : x.view->findChildren<QLabel*>())
            buddies[label->text()] = label->buddy();
        QCOMPARE(buddies.value("ID pacient"), x.requestIdEdit());
        QCOMPARE(buddies.value("Nume pacient"), x.nameEdit());
        QCOMPARE(buddies.value("Data transferului"), x.startDate());
        QVERIFY(buddies.contains("->"));
        QCOMPARE(x.searchButton()->text(), QString("Cauta"));
        QCOMPARE(x.requestIdEdit()->maxLength(), 49);
        QCOMPARE(x.nameEdit()->maxLength(), 299);
        for (QDateEdit* picker : {x.startDate(), x.endDate()}) {
            QCOMPARE(picker->displayFormat(), QString("dd/MM/yyyy"));
            QVERIFY(picker->calendarPopup());
            QCOMPARE(picker->date(), QDate::currentDate());
        }

        const QStringList headers{"ID", "Descriere proba", "Varsta", "SEX", "Transfer Date", "Comentarii", "Profil"};
        QCOMPARE(x.list()->getColumnCount(), 7);
        for (int c = 0; c < 7; ++c) {
            QCOMPARE(x.list()->model()->headerData(c, Qt::Horizontal).toString(), headers[c]);
            QCOMPARE(x.list()->isReadOnly(c), c == 4 || c == 5);
            QCOMPARE(x.list()->isCombo(c), c == 6);
        }

        // Tab walks the search fields in reading order and ends in the list (inside a date
        // picker it first walks the day, month and year).
        x.view->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(x.view.get()));
        x.requestIdEdit()->setFocus();
        QTRY_VERIFY(x.requestIdEdit()->hasFocus());
        const QList<QWidget*> order{x.nameEdit(), x.startDate(), x.endDate(), x.searchButton(), x.list()};
        for (QWidget* expected : order) {
            QWidget* start = QApplication::focusWidget();
            for (int i = 0; i < 3 && QApplication::focusWidget() == start; ++i)
                QTest::keyClick(start, Qt::Key_Tab);
            QWidget* focused = QApplication::focusWidget();
            QVERIFY2(focused == expected || expected->isAncestorOf(focused), qPrintable(focused->objectName()));
        }

        // The list takes the room that the window gains.
        const int before = x.list()->height();
        x.view->resize(1100, 900);
        QTRY_COMPARE(x.list()->height(), before + 200);
    }

    void shownMaximisedInItsFrame() {
        ExplorerLab x;
        QVERIFY(x.createEmpty());
        QVERIFY(x.database.open(x.lab.connectionString()));
        x.sharedState.m_database = &x.database;
        QMdiArea area;
        area.resize(900, 700);
        area.show();
        auto* view = new ResultsWindow(&x.sharedState);
        QMdiSubWindow* frame = area.addSubWindow(view);
        frame->show();
        view->onInitialUpdate();
        QTRY_VERIFY(frame->isMaximized());
    }

    void firstSearchShowsToday() {
        ExplorerLab x;
        QVERIFY(x.createEmpty());
        const QString today = QDate::currentDate().toString("yyyy-MM-dd");
        QVERIFY(x.addResult(1, "5", "Azi", today + " 00:00:00"));
        QVERIFY(x.addResult(2, "6", "Ieri", QDate::currentDate().addDays(-1).toString("yyyy-MM-dd") + " 12:00:00"));
        QVERIFY(x.start());
        QCOMPARE(x.listedIds(), Ids{1});

        // Sets the receiver adds come into the list of today by themselves; the current row stays.
        x.list()->setCurrentIndex(x.list()->model()->index(0, 0));
        QVERIFY(x.addResult(3, "7", "Sosit", today + " 00:00:01"));
        x.view->refreshIfNew();
        QCOMPARE(x.listedIds(), (Ids{1, 3}));
        QCOMPARE(x.list()->getItemData(x.list()->currentIndex().row()), 1);
        // Not while a cell is being edited: the edit would lose its row.
        QWidget* editor = startEditing(x, 0, 1);
        QVERIFY(editor);
        QVERIFY(x.addResult(4, "8", "Tot azi", today + " 00:00:02"));
        x.view->refreshIfNew();
        QCOMPARE(x.listedIds(), (Ids{1, 3}));
        QTest::keyClick(editor, Qt::Key_Escape);
        QTRY_VERIFY(!editor->isVisible());
        x.view->refreshIfNew();
        QCOMPARE(x.listedIds(), (Ids{1, 3, 4}));
    }

    // A column the user widened keeps its width through searches and the next opening, while
    // the others follow their texts; the date range chosen comes back too.
    void rememberedLayout() {
        ExplorerLab x;
        QVERIFY(fillSearchLab(x));
        QVERIFY(x.start());
        x.search("", "", QDate(2006, 3, 1), QDate(2006, 3, 31));
        QHeaderView* header = x.list()->header();
        const int autoWidth = header->sectionSize(1);
        const QPoint edge(header->sectionViewportPosition(1) + autoWidth - 1, header->height() / 2);
        QTest::mousePress(header->viewport(), Qt::LeftButton, Qt::NoModifier, edge);
        QTest::mouseMove(header->viewport(), edge + QPoint(150, 0));
        QTest::mouseRelease(header->viewport(), Qt::LeftButton, Qt::NoModifier, edge + QPoint(150, 0));
        const int userWidth = header->sectionSize(1);
        QVERIFY2(userWidth > autoWidth + 100, qPrintable(QString::number(userWidth)));

        // Other names, other widths: only the columns the user left alone follow them.
        x.search("", "", QDate(2006, 6, 1), QDate(2006, 6, 6));
        QVERIFY(!x.listedIds().isEmpty());
        QCOMPARE(header->sectionSize(1), userWidth);
        const int requestWidth = header->sectionSize(0);
        x.search("12345678901234567890", "", QDate(2006, 5, 1), QDate(2006, 5, 31));
        QVERIFY(header->sectionSize(0) > requestWidth);
        QCOMPARE(header->sectionSize(1), userWidth);

        QVERIFY(x.reopen());
        QCOMPARE(x.list()->header()->sectionSize(1), userWidth);
        QCOMPARE(x.startDate()->date(), QDate(2006, 5, 1));
        QCOMPARE(x.endDate()->date(), QDate(2006, 5, 31));
        // The first search of the new window looks in that range.
        Ids listed = x.listedIds();
        std::sort(listed.begin(), listed.end());
        QCOMPARE(listed, (Ids{13, 14, 15}));

        // A double click on the column's edge gives it back to its texts.
        QHeaderView* reopened = x.list()->header();
        const QPoint newEdge(reopened->sectionViewportPosition(1) + userWidth - 1, reopened->height() / 2);
        QTest::mouseDClick(reopened->viewport(), Qt::LeftButton, Qt::NoModifier, newEdge);
        QVERIFY(reopened->sectionSize(1) < userWidth);
        QVERIFY(x.reopen());
        QVERIFY(x.list()->header()->sectionSize(1) < userWidth);
    }

    // The date range comes back as chosen; one that ended on the day it was chosen still ends
    // today, so "the last days" stay the last days.
    void rememberedDateRange_data() {
        QTest::addColumn<int>("chosenDaysAgo"); // -1: never chosen
        QTest::addColumn<QDate>("start");
        QTest::addColumn<QDate>("end");
        QTest::addColumn<QDate>("expectedStart");
        QTest::addColumn<QDate>("expectedEnd");
        const QDate today = QDate::currentDate();
        QTest::newRow("never chosen") << -1 << QDate() << QDate() << today << today;
        QTest::newRow("past days") << 1 << QDate(2006, 3, 1) << QDate(2006, 3, 31) << QDate(2006, 3, 1)
                                   << QDate(2006, 3, 31);
        QTest::newRow("up to the day chosen")
            << 3 << today.addDays(-10) << today.addDays(-3) << today.addDays(-7) << today;
    }

    void rememberedDateRange() {
        QFETCH(int, chosenDaysAgo);
        QFETCH(QDate, start);
        QFETCH(QDate, end);
        QFETCH(QDate, expectedStart);
        QFETCH(QDate, expectedEnd);
        ExplorerLab x;
        QVERIFY(x.createEmpty());
        if (chosenDaysAgo >= 0) {
            QVERIFY(x.start());
            x.search("", "", start, end);
            x.view.reset();
            // Chosen that many days ago.
            QSettings().setValue("ResultList/DateChosenOn", QDate::currentDate().addDays(-chosenDaysAgo));
        }
        QVERIFY(x.reopen());
        QCOMPARE(x.startDate()->date(), expectedStart);
        QCOMPARE(x.endDate()->date(), expectedEnd);
    }

    void conditions_data() {
        QTest::addColumn<QString>("requestId");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QDate>("from");
        QTest::addColumn<QDate>("to");
        QTest::addColumn<Ids>("expected");
        const QDate mar1(2006, 3, 1), mar31(2006, 3, 31), apr30(2006, 4, 30);
        // Ordered by transfer date, then by request identifier as text ("10" before "9").
        QTest::newRow("March") << ""
                               << "" << mar1 << mar31 << Ids{3, 1, 8, 7, 9, 10, 11, 12, 2, 5};
        QTest::newRow("ends at 23:59 of the last day") << ""
                                                       << "" << mar31 << mar31 << Ids{5};
        QTest::newRow("nothing in range") << ""
                                          << "" << QDate(2007, 1, 1) << QDate(2007, 2, 1) << Ids{};
        QTest::newRow("name anywhere, any case") << ""
                                                 << "ion" << mar1 << apr30 << Ids{3, 1, 2, 5};
        QTest::newRow("name and dates together") << ""
                                                 << "ion" << QDate(2006, 3, 7) << mar31 << Ids{2, 5};
        QTest::newRow("percent is literal") << ""
                                            << "50%" << mar1 << mar31 << Ids{7};
        QTest::newRow("underscore is literal") << ""
                                               << "_" << mar1 << mar31 << Ids{7};
        QTest::newRow("quote and SQL in name") << ""
                                               << "O'Brien; DROP" << mar1 << mar31 << Ids{10};
        QTest::newRow("comment marker in name") << ""
                                                << "; --" << mar1 << mar31 << Ids{10};
        QTest::newRow("id beats dates and name") << "100"
                                                 << "nobody" << QDate(2020, 1, 1) << QDate(2020, 1, 2) << Ids{1, 2, 4};
        QTest::newRow("id with sign") << "+100"
                                      << "" << mar1 << mar1 << Ids{1, 2, 4};
        QTest::newRow("negative id") << "-5"
                                     << "" << mar1 << mar1 << Ids{12};
        QTest::newRow("id zero finds text ids") << "0"
                                                << "" << mar1 << mar1 << Ids{11};
        QTest::newRow("unknown id") << "4242"
                                    << "" << mar1 << mar31 << Ids{};
        QTest::newRow("id beyond 64 bits") << "12345678901234567890"
                                           << "" << mar1 << mar1 << Ids{13, 15};
        QTest::newRow("id at the 64-bit limit") << "9223372036854775807"
                                                << "" << mar1 << mar1 << Ids{14};
        QTest::newRow("id of 40 digits") << QString(40, '9') << "" << mar1 << mar1 << Ids{};
        const QDate jun1(2006, 6, 1);
        QTest::newRow("date with T") << ""
                                     << "" << jun1 << jun1 << Ids{16};
        QTest::newRow("date alone") << ""
                                    << "" << jun1.addDays(1) << jun1.addDays(1) << Ids{17};
        QTest::newRow("fractional seconds") << ""
                                            << "" << jun1.addDays(2) << jun1.addDays(2) << Ids{18};
        QTest::newRow("one-digit hour") << ""
                                        << "" << jun1.addDays(3) << jun1.addDays(3) << Ids{19};
        QTest::newRow("last minute, fractional") << ""
                                                 << "" << jun1.addDays(4) << jun1.addDays(4) << Ids{21};
        QTest::newRow("last minute, with T") << ""
                                             << "" << jun1.addDays(5) << jun1.addDays(5) << Ids{22};
        QTest::newRow("every shape in one range") << ""
                                                  << "" << jun1 << jun1.addDays(5) << Ids{16, 17, 18, 19, 21, 23, 22};
    }
    void conditions() {
        QFETCH(QString, requestId);
        QFETCH(QString, name);
        QFETCH(QDate, from);
        QFETCH(QDate, to);
        QFETCH(Ids, expected);
        ExplorerLab x;
        QVERIFY(fillSearchLab(x));
        QVERIFY(x.start());
        const QStringList before = x.dumpResults();
        x.search(requestId, name, from, to);
        QCOMPARE(x.listedIds(), expected);
        QCOMPARE(x.messages, QStringList());
        QCOMPARE(x.dumpResults(), before);
    }

    void refusedRequestIds_data() {
        QTest::addColumn<QString>("requestId");
        QTest::newRow("letters") << "abc";
        QTest::newRow("trailing letter") << "12a";
        QTest::newRow("decimal") << "1.5";
        QTest::newRow("exponent") << "1e3";
        QTest::newRow("statement") << "1; DELETE FROM RESULTS";
        QTest::newRow("condition") << "1 OR 1=1";
        QTest::newRow("comment") << "--";
        QTest::newRow("sign only") << "-";
    }
    void refusedRequestIds() {
        QFETCH(QString, requestId);
        ExplorerLab x;
        QVERIFY(fillSearchLab(x));
        QVERIFY(x.start());
        x.search("", "", QDate(2006, 3, 1), QDate(2006, 3, 31));
        QVERIFY(x.list()->getItemCount() > 0);
        const QStringList before = x.dumpResults();
        x.messages.clear();

        x.search(requestId, "", QDate(2006, 3, 1), QDate(2006, 3, 31));
        QCOMPARE(x.messages.size(), 1);
        QVERIFY2(x.messages[0].contains("ID pacient"), qPrintable(x.messages[0]));
        QCOMPARE(x.list()->getItemCount(), 0);
        QCOMPARE(x.list()->getColumnCount(), 7);
        QCOMPARE(x.dumpResults(), before);
    }

    // The status bar of the main window says how many sets the search found.
    void statusShowsTheCount_data() {
        QTest::addColumn<QString>("requestId");
        QTest::addColumn<QDate>("from");
        QTest::addColumn<QDate>("to");
        QTest::addColumn<QString>("expected"); // the status text before the time
        QTest::newRow("ten") << "" << QDate(2006, 3, 1) << QDate(2006, 3, 31) << "10 seturi de rezultate gasite in ";
        QTest::newRow("one") << "101" << QDate(2006, 3, 1) << QDate(2006, 3, 1) << "1 set de rezultate gasit in ";
        QTest::newRow("none") << "" << QDate(2007, 1, 1) << QDate(2007, 2, 1) << "0 seturi de rezultate gasite in ";
        QTest::newRow("twenty and more") << "" << QDate(2006, 1, 1) << QDate(2006, 12, 31)
                                         << "23 de seturi de rezultate gasite in ";
    }
    void statusShowsTheCount() {
        QFETCH(QString, requestId);
        QFETCH(QDate, from);
        QFETCH(QDate, to);
        QFETCH(QString, expected);
        ExplorerLab x;
        QVERIFY(fillSearchLab(x));
        QVERIFY(x.start());
        QMainWindow frame;
        frame.setCentralWidget(x.view.get());
        const auto detach = qScopeGuard([&x] { x.view->setParent(nullptr); });
        frame.show();
        QVERIFY(QTest::qWaitForWindowExposed(&frame));
        x.search(requestId, "", from, to);
        const QLabel* count = frame.statusBar()->findChild<QLabel*>("searchCount");
        QVERIFY(count);
        const QString status = count->text();
        QVERIFY2(status.startsWith(expected) && status.endsWith(" s"), qPrintable(status));
        QCOMPARE(x.messages, QStringList());

        // An end before the start is refused naming both days; the list and its count stay.
        const Ids shown = x.listedIds();
        x.search("", "", QDate(2006, 4, 30), QDate(2006, 3, 1));
        QCOMPARE(x.messages.size(), 1);
        QVERIFY2(x.messages[0].contains("30/04/2006") && x.messages[0].contains("01/03/2006"),
                 qPrintable(x.messages[0]));
        QCOMPARE(x.listedIds(), shown);
        QCOMPARE(count->text(), status);
        // The message pane stays for the commands' help.
        QVERIFY(!frame.statusBar()->currentMessage().contains(expected));
    }

    void enterInAFieldSearches() {
        ExplorerLab x;
        QVERIFY(fillSearchLab(x));
        QVERIFY(x.start());
        QCOMPARE(x.list()->getItemCount(), 0);
        QTest::keyClicks(x.requestIdEdit(), "101");
        QTest::keyClick(x.requestIdEdit(), Qt::Key_Return);
        QCOMPARE(x.listedIds(), Ids{3});

        x.requestIdEdit()->clear();
        x.startDate()->setDate(QDate(2006, 3, 31));
        x.endDate()->setDate(QDate(2006, 3, 31));
        QTest::keyClick(x.endDate(), Qt::Key_Enter);
        QCOMPARE(x.listedIds(), Ids{5});

        // Enter while a picker's day is half typed: the search uses the date the picker
        // settles on, never a range without that end.
        x.startDate()->setDate(QDate(2006, 3, 1));
        x.endDate()->setFocus();
        QTest::keyClick(x.endDate(), Qt::Key_Home);
        QTest::keyClick(x.endDate(), Qt::Key_Delete);
        QTest::keyClick(x.endDate(), Qt::Key_Delete);
        QTest::keyClick(x.endDate(), Qt::Key_Enter);
        QCOMPARE(x.endDate()->date(), QDate(2006, 3, 31));
        QCOMPARE(x.listedIds(), (Ids{3, 1, 8, 7, 9, 10, 11, 12, 2, 5}));
        QCOMPARE(x.messages, QStringList());
    }

    void cellContents() {
        ExplorerLab x;
        QVERIFY(fillSearchLab(x));
        QVERIFY(x.start());
        x.search("", "", QDate(2006, 3, 1), QDate(2006, 3, 31));
        auto cells = [&](qint64 id) {
            const int row = x.rowOf(id);
            QStringList texts;
            for (int c = 0; c < 7; ++c)
                texts << x.list()->getItemText(row, c);
            return texts;
        };
        QCOMPARE(cells(1), QStringList({"100", "Ion Popescu", "40", "M", "6/3/2006", "primul", "Hemograma"}));
        QCOMPARE(cells(3), QStringList({"101", "Maria Ionescu", "0", "F", "6/3/2006", "", "Biochimie"}));
        // All NULL, and a profile id that names no profile.
        QCOMPARE(cells(9), QStringList({"11", "", "", "", "12/3/2006", "", ""}));
        QCOMPARE(cells(2).at(6), QString());

        QCOMPARE(ResultsWindow::toSqlDate(x.list()->getItemText(x.rowOf(1), 4)), QString("2006/3/6"));

        // A transfer time inside the daylight-saving gap keeps its day.
        QVERIFY(x.addResult(32, "3", "Ora lipsa", "2026-03-29 03:30:00"));
        x.search("3", "", QDate(2006, 7, 1), QDate(2006, 7, 1));
        QCOMPARE(cells(32).at(4), QString("29/3/2026"));

        // A text of fewer but wider letters than the longest is not cut by its column.
        QVERIFY(x.addResult(30, "1", QString(30, 'i'), "2006-07-01 10:00:00"));
        QVERIFY(x.addResult(31, "2", QString(16, 'W'), "2006-07-01 10:00:00"));
        x.search("", "", QDate(2006, 7, 1), QDate(2006, 7, 1));
        const QFontMetrics metrics = x.list()->fontMetrics();
        for (int row = 0; row < x.list()->getItemCount(); ++row) {
            const QString text = x.list()->getItemText(row, 1);
            QVERIFY2(x.list()->getColumnWidth(1) - 12 >= metrics.horizontalAdvance(text), qPrintable(text));
        }
    }

    void profiles() {
        ExplorerLab x;
        QVERIFY(x.createEmpty());
        QVERIFY(x.addProfile(3, "hemo mic"));
        QVERIFY(x.addProfile(1, "Hemograma"));
        QVERIFY(x.addProfile(2, "Biochimie"));
        QVERIFY(x.start());
        QStringList names;
        x.view->onGridFillCombo(6, &names);
        QCOMPARE(names, QStringList({"Biochimie", "Hemograma", "hemo mic"}));
        QCOMPARE(x.view->profileNameById(1), QString("Hemograma"));
        QCOMPARE(x.view->profileNameById(7), QString());
        names = QStringList{"left over"};
        x.view->onGridFillCombo(1, &names);
        QVERIFY(names.isEmpty());

        // Loaded once: a profile added later is not offered by this window.
        QVERIFY(x.addProfile(4, "Nou"));
        x.view->onSearch();
        x.view->onGridFillCombo(6, &names);
        QCOMPARE(names.size(), 3);
    }

    // Enter on a row asks for its bulletin as a double click does; an Enter that ends an edit
    // only stores the cell.
    void openingWritesTheBulletin_data() {
        QTest::addColumn<bool>("byEnter");
        QTest::newRow("double click") << false;
        QTest::newRow("Enter") << true;
    }
    void openingWritesTheBulletin() {
        QFETCH(bool, byEnter);
        ExplorerLab x;
        QVERIFY(fillSearchLab(x));
        QVERIFY(x.start());
        x.search("", "", QDate(2006, 3, 1), QDate(2006, 3, 31));
        // Nothing selected: nothing is built.
        x.list()->clearSelection();
        x.view->onListDoubleClick();
        QVERIFY(!QFile::exists(kBulletinFileName));

        // One measured value, so that the bulletin has the set's patient block.
        QVERIFY(x.lab.exec("INSERT INTO ANALYSERS (MachineID, AnalyseName) VALUES (1, 'Hematologie')"));
        QVERIFY(x.lab.exec("INSERT INTO PARAMETERS (MachineID, refcode, refName, um, \"order\") "
                           "VALUES (1, 'WBC', 'Leucocite', 'mii/uL', 1)"));
        QVERIFY(x.lab.exec("INSERT INTO RESULT_VALUES (resultID, MachineID, refcode, stringvalue) "
                           "VALUES (3, 1, 'WBC', '7.5')"));
        const int row = x.rowOf(3);
        x.selectRow(row);
        if (byEnter) {
            QVERIFY(typeIntoCell(x, 3, 2, "41"));
            QTRY_COMPARE(x.field(3, "Age").toInt(), 41);
            QVERIFY(!QFile::exists(kBulletinFileName));
            QCOMPARE(x.list()->currentIndex().row(), x.rowOf(3));
            QTest::keyClick(x.list(), Qt::Key_Return);
        } else {
            QTest::mouseDClick(x.list()->viewport(), Qt::LeftButton, Qt::NoModifier, x.cellCentre(row, 4));
        }
        QTRY_VERIFY(QFile::exists(kBulletinFileName));
        QFile file(kBulletinFileName);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QVERIFY(QString::fromUtf8(file.readAll()).contains("Maria Ionescu"));
        QCOMPARE(x.messages, QStringList());
    }

    void bulletinMessagesAreShownInOrder() {
        ExplorerLab x;
        QVERIFY(fillSearchLab(x));
        QVERIFY(x.start());
        x.search("100", "", QDate(2006, 3, 1), QDate(2006, 3, 31));
        // A folder standing where the bulletin file goes makes the file impossible to create.
        QVERIFY(QDir().mkdir(kBulletinFileName));
        x.selectRow(0);
        x.view->onListDoubleClick();
        QCOMPARE(x.messages.size(), 1);
        QVERIFY2(x.messages[0].contains(kBulletinFileName), qPrintable(x.messages[0]));
    }

    void demoDatabase() {
        ExplorerLab x;
        QVERIFY(x.createDemo(400, 11));
        QVERIFY(x.start());
        const QDate first = x.lab.scalar("SELECT MIN(TransDate) FROM RESULTS").toDateTime().date();
        const QDate last = x.lab.scalar("SELECT MAX(TransDate) FROM RESULTS").toDateTime().date();
        QVERIFY(first.isValid() && last.isValid());
        x.search("", "", first, last);
        QCOMPARE(x.list()->getItemCount(), x.lab.scalar("SELECT COUNT(*) FROM RESULTS").toInt());

        // Rows come by transfer day; the day text reads back to the stored date.
        QDate previous;
        for (int row = 0; row < x.list()->getItemCount(); ++row) {
            const QDate day = QDate::fromString(x.list()->getItemText(row, 4), "d/M/yyyy");
            QVERIFY(day.isValid());
            QVERIFY(!previous.isValid() || previous <= day);
            previous = day;
            const QString stored = x.field(x.list()->getItemData(row), "TransDate").toString();
            QCOMPARE(stored.left(10), day.toString("yyyy-MM-dd"));
        }

        // The widths set after the fill are never below what the list's own auto-size, which
        // measures every row, gives, and only a few pixels above it.
        QList<int> widths;
        for (int c = 0; c < 7; ++c)
            widths << x.list()->getColumnWidth(c);
        for (int c = 0; c < 7; ++c) {
            x.list()->setListColumnWidth(c, EditableListView::LVSCW_AUTOSIZE_USEHEADER);
            const int exact = x.list()->getColumnWidth(c);
            QVERIFY2(widths[c] >= exact && widths[c] <= exact + std::max(4, exact / 20),
                     qPrintable(QString("column %1: %2 vs %3").arg(c).arg(widths[c]).arg(exact)));
        }

        // A request identifier finds all sets of that request, on any day.
        const QString requestId = x.list()->getItemText(x.list()->getItemCount() / 2, 0);
        const int number = requestId.toInt();
        QVERIFY(number != 0);
        x.search(QString::number(number), "", last, last);
        QVERIFY(x.list()->getItemCount() >= 1);
        for (int row = 0; row < x.list()->getItemCount(); ++row)
            QCOMPARE(x.list()->getItemText(row, 0).toInt(), number);
    }

    void searchAfterServerRestart() {
        ExplorerLab x;
        if (!x.lab.isPg())
            QSKIP("only a database server can go away");
        PgServerControl server;
        if (!server.available())
            QSKIP("LABROSA_PG_BIN, LABROSA_PG_DATA and LABROSA_PG_PORT are needed to restart the server");
        QVERIFY(fillSearchLab(x));
        QVERIFY(x.start());
        x.search("100", "", QDate(2006, 3, 1), QDate(2006, 3, 31));
        QCOMPARE(x.listedIds(), Ids({1, 2, 4}));
        const QStringList stored = x.dumpResults();

        // The server goes away. An edit fails and says so; its refresh and the next search each
        // fail once with a message and leave the list empty.
        QVERIFY(server.stop());
        x.list()->setItemText(0, 1, "Nu ajunge");
        x.view->onGridEditDone(0, 1);
        QCOMPARE(x.messages.size(), 2);
        QVERIFY2(x.messages[0].startsWith("Failed tu update"), qPrintable(x.messages[0]));
        QVERIFY2(x.messages[1].contains("serverul bazei de date"), qPrintable(x.messages[1]));
        QCOMPARE(x.list()->getItemCount(), 0);
        x.messages.clear();
        x.search("101", "", QDate(2006, 3, 1), QDate(2006, 3, 31));
        QCOMPARE(x.messages.size(), 1);
        QVERIFY2(x.messages[0].contains("serverul bazei de date"), qPrintable(x.messages[0]));
        QCOMPARE(x.list()->getItemCount(), 0);

        // Back again: the next search works on the same connection object.
        QVERIFY(server.start());
        x.messages.clear();
        x.search("101", "", QDate(2006, 3, 1), QDate(2006, 3, 31));
        QCOMPARE(x.messages, QStringList());
        QCOMPARE(x.listedIds(), Ids{3});
        x.lab.reopenAdmin();
        QCOMPARE(x.dumpResults(), stored);
    }

    // A search held up past the laboratory's statement limit (here by a table another program
    // locked) is ended by the server, and the message says so.
    void searchPastItsLimitIsStopped() {
        ExplorerLab x;
        if (!x.lab.isPg())
            QSKIP("the statement limit is the server's");
        QVERIFY(fillSearchLab(x));
        QVERIFY(x.start());
        QVERIFY(x.database.open(x.lab.connectionString() + ";Statement Timeout=0.2;Lock Timeout=0"));
        QVERIFY(x.lab.exec("BEGIN"));
        QVERIFY(x.lab.exec("LOCK TABLE RESULTS IN ACCESS EXCLUSIVE MODE"));
        x.messages.clear();
        QElapsedTimer waited;
        waited.start();
        x.search("100", "", QDate(2006, 3, 1), QDate(2006, 3, 31));
        const qint64 elapsed = waited.elapsed();
        QVERIFY(x.lab.exec("ROLLBACK"));
        QVERIFY2(elapsed < 3000, qPrintable(QString::number(elapsed)));
        QCOMPARE(x.messages.size(), 1);
        QVERIFY2(x.messages[0].startsWith("Cautarea a durat mai mult decat limita de 0,2 s"),
                 qPrintable(x.messages[0]));
        QCOMPARE(x.list()->getItemCount(), 0);
    }

    // Another program or workstation holds the sets: the search waits without freezing the
    // window, says so, and "Renunta" gives it up with nothing listed and no message; once the
    // database is free again the next search works.
    void searchThatWaitsCanBeGivenUp() {
        ExplorerLab x;
        if (!x.lab.isPg())
            QSKIP("a SQLite laboratory file is kept in WAL mode, where a search never waits for a writer");
        QVERIFY(fillSearchLab(x));
        QVERIFY(x.start());
        QVERIFY(x.database.open(x.lab.connectionString() + ";Lock Timeout=60;Busy Timeout=60;Statement Timeout=60"));
        QMainWindow frame;
        frame.setCentralWidget(x.view.get());
        const auto detach = qScopeGuard([&x] { x.view->setParent(nullptr); });
        frame.show();
        QVERIFY(QTest::qWaitForWindowExposed(&frame));
        // The window's first search opens its connection, as when the window opens.
        x.search("", "", QDate(2006, 3, 1), QDate(2006, 3, 31));
        QCOMPARE(x.list()->getItemCount(), 10);
        const auto dropHolder = qScopeGuard([] { QSqlDatabase::removeDatabase("holder"); });
        QSqlDatabase holder = x.lab.addConnection("holder");
        QVERIFY(holder.open());
        QSqlQuery hold(holder);
        QVERIFY(hold.exec("BEGIN"));
        QVERIFY(hold.exec("LOCK TABLE RESULTS IN ACCESS EXCLUSIVE MODE"));
        auto* bar = x.view->findChild<QWidget*>("searchWaitingBar");
        QVERIFY(bar && !bar->isVisible());
        bool sawWait = false;
        QString typed;
        std::function<void(int)> poll = [&](int attempts) {
            if (!bar->isVisible()) {
                if (attempts < 1000)
                    QTimer::singleShot(10, [&poll, attempts] { poll(attempts + 1); });
                return;
            }
            sawWait = true;
            QTest::keyClicks(x.view->findChild<QLineEdit*>("editPatientName"), "ion");
            typed = x.view->findChild<QLineEdit*>("editPatientName")->text();
            QTest::mouseClick(bar->findChild<QPushButton*>("buttonGiveUp"), Qt::LeftButton);
        };
        QTimer::singleShot(0, [&poll] { poll(0); });
        QElapsedTimer waited;
        waited.start();
        x.search("", "", QDate(2006, 3, 1), QDate(2006, 3, 31));
        QVERIFY2(waited.elapsed() < 20000, qPrintable(QString::number(waited.elapsed())));
        QVERIFY(sawWait);
        QCOMPARE(typed, QString("ion"));
        QVERIFY(!bar->isVisible());
        QCOMPARE(x.messages, QStringList());
        QCOMPARE(x.list()->getItemCount(), 0);
        QCOMPARE(frame.statusBar()->findChild<QLabel*>("searchCount")->text(),
                 QString("Ati renuntat la cautare; lista este goala."));

        QVERIFY(hold.exec("ROLLBACK"));
        hold.finish();
        holder.close();
        x.search("", "", QDate(2006, 3, 1), QDate(2006, 3, 31));
        QCOMPARE(x.messages, QStringList());
        QCOMPARE(x.list()->getItemCount(), 10);
    }

    // A record that cannot be read half-way through: the rows read before it are not shown as
    // if they were the whole result.
    void unreadableRowShowsNoPartialList() {
        ExplorerLab x;
        QVERIFY(fillSearchLab(x));
        QVERIFY(x.lab.exec("ALTER TABLE RESULTS RENAME TO RESULTS_STORED"));
        // The shared PostgreSQL test database gets its table back whatever happens.
        const auto restore = qScopeGuard([&x] {
            x.lab.exec("DROP VIEW RESULTS");
            x.lab.exec("ALTER TABLE RESULTS_STORED RENAME TO RESULTS");
        });
        QVERIFY(x.lab.exec(
            "CREATE VIEW RESULTS AS SELECT ID, RequestID, CASE WHEN ID = 9 THEN "
            "CAST(abs(ID * 0 - 9223372036854775807 - 1) AS VARCHAR(20)) ELSE PacientName END AS PacientName, "
            "TransDate, Age, SEX, comment, profileID FROM RESULTS_STORED"));
        QVERIFY(x.start());
        x.messages.clear();
        x.search("", "", QDate(2006, 3, 1), QDate(2006, 3, 31));
        QCOMPARE(x.messages.size(), 1);
        QCOMPARE(x.list()->getItemCount(), 0);
        QCOMPARE(x.list()->getColumnCount(), 7);
        // Without the unreadable record the same search fills the list.
        x.messages.clear();
        x.search("", "", QDate(2006, 3, 1), QDate(2006, 3, 11));
        QCOMPARE(x.messages, QStringList());
        QCOMPARE(x.listedIds(), Ids({3, 1, 8, 7}));
    }

    void failingQueriesAreReported() {
        ExplorerLab x;
        QVERIFY(x.createEmpty());
        QVERIFY(x.lab.exec("DROP TABLE VET_PROFILES"));
        QVERIFY(x.addResult(1, "5", "Azi", QDate::currentDate().toString("yyyy-MM-dd") + " 10:00:00"));
        QVERIFY(x.start());
        // The profile list fails, the first search still runs.
        QCOMPARE(x.messages.size(), 1);
        QVERIFY(!x.messages[0].isEmpty());
        QVERIFY(x.view->profiles().empty());
        QCOMPARE(x.listedIds(), Ids{1});

        x.messages.clear();
        QVERIFY(x.lab.exec("DROP VIEW vResults2_vet"));
        QVERIFY(x.lab.exec("ALTER TABLE RESULTS RENAME TO RESULTS_OLD"));
        QTest::mouseClick(x.searchButton(), Qt::LeftButton);
        QCOMPARE(x.messages.size(), 1);
        QVERIFY(!x.messages[0].isEmpty());
        QCOMPARE(x.list()->getItemCount(), 0);
    }
};

QTEST_MAIN(TestExplorerSearch)
#include "tst_explorer_search.moc"
