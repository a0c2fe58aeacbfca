// The two in-place editors driven like a user: how each edit ends, what the owner hears and
// in which order, the character filter, and the close that is still pending on a new click.

#include "GridFixture.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QClipboard>
#include <QDialog>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <QWheelEvent>

#include <memory>
#include <vector>

class TestInPlaceEditors : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void editBoxEnds_data();
    void editBoxEnds();
    void newClickWhileCloseIsPending();
    void characterFilter_data();
    void characterFilter();
    void pasteIsNotFiltered();

    void comboEntriesAndHeights_data();
    void comboEntriesAndHeights();
    void comboEnds_data();
    void comboEnds();
    void comboChoiceInDropDownEndsAtOnce();
    void comboEscapeOnEmptyCellAfterAnother();
    void comboWheelChangesNothing_data();
    void comboWheelChangesNothing();

    void keysNeverReachTheForm();
    void destroyingAListReleasesTheEditors();

private:
    std::unique_ptr<GridWindow> m_window;
};

void TestInPlaceEditors::init() {
    m_window = std::make_unique<GridWindow>();
    m_window->list->markColumnAsCombo(6, true);
    m_window->list->markColumnReadOnly(4, true);
    m_window->list->markColumnReadOnly(5, true);
    QVERIFY(m_window->showActive());
}

void TestInPlaceEditors::cleanup() {
    m_window.reset();
    settle();
    QVERIFY(!InPlaceLineEdit::hasInstance());
    QVERIFY(!InPlaceComboBox::hasInstance());
}

void TestInPlaceEditors::editBoxEnds_data() {
    QTest::addColumn<int>("column"); // the cell of row 0 that is edited
    QTest::addColumn<QString>("how");
    QTest::addColumn<QString>("cell");
    QTest::addColumn<QStringList>("log");
    QTest::addColumn<QString>("next"); // the editor open afterwards and its cell, "" for none

    const QString typed = QStringLiteral("Ionescu");
    QTest::newRow("enter") << 1 << "enter" << typed << QStringList{"validate 0 1 Ionescu", "done 0 1 closed"} << "";
    QTest::newRow("keypad enter") << 1 << "keypad" << typed << QStringList{"validate 0 1 Ionescu", "done 0 1 closed"}
                                  << "";
    // Tab stores the edit and goes on to the next editable cell of the row, once the owner has
    // heard of the end; read-only cells are passed over.
    QTest::newRow("tab") << 1 << "tab" << typed << QStringList{"validate 0 1 Ionescu", "done 0 1 closed"} << "edit 0 2";
    QTest::newRow("tab over read-only cells to the drop-down")
        << 3 << "tab" << typed << QStringList{"validate 0 3 Ionescu", "done 0 3 closed", "fill 6"} << "combo 0 6";
    QTest::newRow("shift+tab") << 1 << "backtab" << typed << QStringList{"validate 0 1 Ionescu", "done 0 1 closed"}
                               << "edit 0 0";
    QTest::newRow("shift+tab on the first cell")
        << 0 << "backtab" << typed << QStringList{"validate 0 0 Ionescu", "done 0 0 closed"} << "";
    // The owner stores the edit and searches again, and the rows come back in another order:
    // the next cell is that of the same record, not of the row now in its place.
    QTest::newRow("tab, owner fills the list anew")
        << 1 << "tab refill" << typed << QStringList{"validate 0 1 Ionescu", "done 0 1 closed"} << "edit 4 2";
    // Passing through a cell is no correction: the owner, who would store the value again for
    // the whole request, does not hear of it.
    QTest::newRow("tab through an untouched cell") << 1 << "tab untouched"
                                                   << "r0c1" << QStringList{"validate 0 1 r0c1"} << "edit 0 2";
    // The owner refuses the text and puts the cell back: the keyboard stays on it.
    QTest::newRow("tab, owner refuses the text")
        << 1 << "tab refused"
        << "Ionescu" << QStringList{"validate 0 1 Ionescu", "done 0 1 closed"} << "";
    QTest::newRow("escape") << 1 << "escape"
                            << "r0c1" << QStringList{"validate 0 1 r0c1"} << "";
    // A plain loss of focus keeps nothing: the cell shows its start text again.
    QTest::newRow("click elsewhere") << 1 << "click"
                                     << "r0c1" << QStringList{"validate 0 1 r0c1"} << "";
    QTest::newRow("other widget") << 1 << "focus"
                                  << "r0c1" << QStringList{"validate 0 1 r0c1"} << "";
}

void TestInPlaceEditors::editBoxEnds() {
    QFETCH(int, column);
    QFETCH(QString, how);
    QFETCH(QString, cell);
    QFETCH(QStringList, log);
    QFETCH(QString, next);
    GridWindow& w = *m_window;
    if (how == "tab refill") {
        for (int r = 0; r < w.list->getItemCount(); ++r)
            w.list->setItemData(r, 100 + r);
        QObject::connect(w.list, &EditableListView::gridEditDone, w.list, [&w]() {
            std::vector<QStringList> rows;
            for (int r = 0; r < w.list->getItemCount(); ++r) {
                rows.emplace_back();
                for (int c = 0; c < 7; ++c)
                    rows.back() << w.list->getItemText(r, c);
            }
            w.list->deleteAllItems();
            w.list->beginFill();
            for (int r = int(rows.size()) - 1; r >= 0; --r) {
                const int at = w.list->insertItem(w.list->getItemCount(), rows[r].at(0));
                for (int c = 1; c < 7; ++c)
                    w.list->setItemText(at, c, rows[r].at(c));
                w.list->setItemData(at, 100 + r);
            }
            w.list->endFill();
        });
    }

    if (how == "tab refused") {
        QObject::connect(w.list, &EditableListView::gridEditDone, w.list,
                         [&w](int row, int column) { w.list->setItemText(row, column, QStringLiteral("r0c1")); });
    }

    w.click(0, column);
    QVERIFY(editOpen());
    InPlaceLineEdit* edit = InPlaceLineEdit::getInstance();
    QVERIFY(edit->hasFocus());
    const QString start = QStringLiteral("r0c%1").arg(column);
    QCOMPARE(edit->selectedText(), start);
    QCOMPARE(edit->geometry(), QRect(w.list->visualRect(w.list->model()->index(0, column)).topLeft(),
                                     QSize(80, w.list->uniformRowHeight())));
    // The whole text is selected, so typing replaces it.
    if (how != "tab untouched") {
        QTest::keyClicks(edit, QStringLiteral("Ionescu"));
        QCOMPARE(edit->text(), QStringLiteral("Ionescu"));
    }

    if (how == "enter")
        QTest::keyClick(edit, Qt::Key_Return);
    else if (how == "keypad")
        QTest::keyClick(edit, Qt::Key_Enter, Qt::KeypadModifier);
    else if (how.startsWith("tab"))
        QTest::keyClick(edit, Qt::Key_Tab);
    else if (how == "backtab")
        QTest::keyClick(edit, Qt::Key_Backtab, Qt::ShiftModifier);
    else if (how == "escape")
        QTest::keyClick(edit, Qt::Key_Escape);
    else if (how == "click")
        w.click(2, 4);
    else
        w.other->setFocus();

    // The cell holds its final text as soon as the edit ends; the owner hears of it later.
    QCOMPARE(w.list->getItemText(0, column), cell);
    QCOMPARE(w.log.first(), log.first());
    settle();
    QCOMPARE(w.log, log);
    const QStringList opened = next.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    QCOMPARE(editOpen(), opened.value(0) == "edit");
    QCOMPARE(comboOpen(), opened.value(0) == "combo");
    if (opened.isEmpty()) {
        QVERIFY(!edit->isVisible());
        // A key ends the edit and leaves the edited cell current; it does not move on to
        // another widget.
        if (how != "click" && how != "focus") {
            QVERIFY(w.list->hasFocus());
            QCOMPARE(w.list->currentIndex(), w.list->model()->index(0, column));
        }
        return;
    }
    const int row = opened.at(1).toInt();
    const int nextColumn = opened.at(2).toInt();
    QCOMPARE(w.list->currentIndex(), w.list->model()->index(row, nextColumn));
    QCOMPARE(w.list->getFirstSelectedItem(), row);
    if (opened.at(0) == "combo") {
        QVERIFY(InPlaceComboBox::getInstance()->hasFocus());
        QCOMPARE(InPlaceComboBox::getInstance()->Row(), row);
        QCOMPARE(InPlaceComboBox::getInstance()->Column(), nextColumn);
        return;
    }
    // The next edit starts like one opened by a click: its whole text selected, over its cell.
    QVERIFY(edit->isVisible());
    QVERIFY(edit->hasFocus());
    QCOMPARE(edit->Row(), row);
    QCOMPARE(edit->Column(), nextColumn);
    QCOMPARE(edit->selectedText(), QStringLiteral("r0c%1").arg(nextColumn));
    QCOMPARE(edit->geometry().topLeft(), w.list->visualRect(w.list->model()->index(row, nextColumn)).topLeft());
    // And it ends like one: Enter stores it in its own cell.
    QTest::keyClicks(edit, QStringLiteral("42"));
    QTest::keyClick(edit, Qt::Key_Return);
    QCOMPARE(w.list->getItemText(row, nextColumn), QStringLiteral("42"));
    settle();
    QVERIFY(!editOpen());
}

void TestInPlaceEditors::newClickWhileCloseIsPending() {
    GridWindow& w = *m_window;
    w.click(0, 1);
    QVERIFY(editOpen());
    InPlaceLineEdit* edit = InPlaceLineEdit::getInstance();
    const QRect firstPlace = edit->geometry();

    // This click ends the old edit; the close it posted is still pending, so no new box opens.
    w.click(1, 2);
    QCOMPARE(w.log, QStringList{"validate 0 1 r0c1"});
    QCOMPARE(edit->geometry(), firstPlace);
    QCOMPARE(edit->Row(), 1);
    QCOMPARE(edit->Column(), 2);
    QTRY_VERIFY(!editOpen());
    settle();
    QVERIFY(!edit->isVisible());

    // The next click opens the box on the clicked cell.
    w.click(1, 2);
    QVERIFY(editOpen());
    QCOMPARE(edit->text(), QStringLiteral("r1c2"));
    QCOMPARE(edit->geometry().topLeft(), w.list->visualRect(w.list->model()->index(1, 2)).topLeft());
}

void TestInPlaceEditors::characterFilter_data() {
    QTest::addColumn<QString>("accepted");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("result");
    QTest::addColumn<int>("refused");

    QTest::newRow("digits only") << "0123456789"
                                 << "4a2b"
                                 << "42" << 2;
    QTest::newRow("all accepted when empty") << ""
                                             << "4a2b"
                                             << "4a2b" << 0;
    QTest::newRow("space refused") << "0123456789"
                                   << "1 2"
                                   << "12" << 1;
    QTest::newRow("letters of the set") << "MF"
                                        << "MxF"
                                        << "MF" << 1;
}

void TestInPlaceEditors::characterFilter() {
    QFETCH(QString, accepted);
    QFETCH(QString, typed);
    QFETCH(QString, result);
    QFETCH(int, refused);
    GridWindow& w = *m_window;
    w.list->setAcceptedChars(accepted);
    w.click(0, 2);
    InPlaceLineEdit* edit = InPlaceLineEdit::getInstance();
    QSignalSpy beeps(edit, &InPlaceLineEdit::characterRefused);
    QTest::keyClicks(edit, typed);
    QCOMPARE(edit->text(), result);
    QCOMPARE(beeps.count(), refused);

    // Backspace and the clipboard keys keep working whatever the set.
    QTest::keyClick(edit, Qt::Key_Backspace);
    QCOMPARE(edit->text(), result.left(result.size() - 1));
    edit->selectAll();
    QTest::keyClick(edit, Qt::Key_C, Qt::ControlModifier);
    QTest::keyClick(edit, Qt::Key_X, Qt::ControlModifier);
    QCOMPARE(edit->text(), QString());
    QTest::keyClick(edit, Qt::Key_V, Qt::ControlModifier);
    QCOMPARE(edit->text(), result.left(result.size() - 1));
    QCOMPARE(beeps.count(), refused);
}

void TestInPlaceEditors::pasteIsNotFiltered() {
    GridWindow& w = *m_window;
    w.list->setAcceptedChars(QStringLiteral("0123456789"));
    w.click(0, 2);
    InPlaceLineEdit* edit = InPlaceLineEdit::getInstance();
    QApplication::clipboard()->setText(QStringLiteral("12 ani"));
    QTest::keyClick(edit, Qt::Key_V, Qt::ControlModifier);
    QCOMPARE(edit->text(), QStringLiteral("12 ani"));
}

void TestInPlaceEditors::comboEntriesAndHeights_data() {
    QTest::addColumn<QStringList>("entries");
    QTest::addColumn<QString>("cell");
    QTest::addColumn<int>("selected");
    QTest::addColumn<int>("lines");

    const QStringList three{"Pisica", "caine adult", "Caine junior"};
    QTest::newRow("3 entries, prefix in another case") << three << "Caine" << 1 << 13;
    QTest::newRow("3 entries, no match") << three << "Cal" << -1 << 13;
    // Names sorted byte by byte put capitals first; the cell's own profile must still win,
    // or merely leaving the drop-down would store another profile.
    QTest::newRow("exact entry after a longer one") << QStringList{"HEMO complet", "Hemo"} << "Hemo" << 1 << 12;
    // An empty cell selects nothing, so leaving it stores nothing the user did not choose.
    QTest::newRow("3 entries, empty cell") << three << "" << -1 << 13;
    QStringList nine;
    for (int i = 0; i < 9; ++i)
        nine << QStringLiteral("Profil %1").arg(9 - i);
    QTest::newRow("9 entries, order kept") << nine << "Profil 3" << 6 << 19;
    QTest::newRow("10 entries") << (nine + QStringList{"Zebra"}) << "zeb" << 9 << 11;
    QTest::newRow("12 entries") << (nine + QStringList{"Zebra", "A", "B"}) << "B" << 11 << 11;
}

void TestInPlaceEditors::comboEntriesAndHeights() {
    QFETCH(QStringList, entries);
    QFETCH(QString, cell);
    QFETCH(int, selected);
    QFETCH(int, lines);
    GridWindow& w = *m_window;
    w.comboEntries = entries;
    w.list->setItemText(1, 6, cell);

    w.click(1, 6);
    QCOMPARE(w.log, QStringList{"fill 6"});
    QVERIFY(comboOpen());
    InPlaceComboBox* combo = InPlaceComboBox::getInstance();
    QVERIFY(combo->hasFocus());
    QStringList shown;
    for (int i = 0; i < combo->count(); ++i)
        shown << combo->itemText(i);
    QCOMPARE(shown, entries);
    QCOMPARE(combo->currentIndex(), selected);

    const int h = w.list->uniformRowHeight();
    const QRect cellRect = w.list->visualRect(w.list->model()->index(1, 6));
    QCOMPARE(w.list->comboDropRect(), QRect(cellRect.left(), cellRect.top(), 80, h * (1 + lines)));
    QCOMPARE(combo->dropRect(), w.list->comboDropRect());
    QCOMPARE(combo->maxVisibleItems(), lines);
    QCOMPARE(combo->geometry(), QRect(cellRect.left(), cellRect.top(), 80, h));

    // Enter keeps the selection, which is nothing when no entry matched.
    QTest::keyClick(combo, Qt::Key_Return);
    const QString result = selected >= 0 ? entries.at(selected) : QString();
    QCOMPARE(w.list->getItemText(1, 6), result);
    QCOMPARE(w.log, (QStringList{"fill 6", "validate 1 6 " + result, "done 1 6 open"}));
    QTRY_VERIFY(!comboOpen());
}

void TestInPlaceEditors::comboEnds_data() {
    QTest::addColumn<QString>("how");
    QTest::addColumn<QString>("cell");
    QTest::addColumn<int>("next"); // the column whose edit box opens afterwards, -1 for none

    QTest::newRow("enter") << "enter"
                           << "Caine junior" << -1;
    QTest::newRow("escape") << "escape"
                            << "Caine" << -1;
    QTest::newRow("click elsewhere") << "click"
                                     << "Caine junior" << -1;
    QTest::newRow("scroll bar") << "scroll"
                                << "Caine junior" << -1;
    // Escape in the open drop-down part only closes it; the edit ends as by the closing.
    QTest::newRow("escape in drop-down") << "popup escape"
                                         << "Caine junior" << -1;
    // The last editable cell of the row: Tab stores the choice and the cell stays current,
    // rather than the edit starting over at the request identifier.
    QTest::newRow("tab on the last editable cell") << "tab"
                                                   << "Caine junior" << -1;
    QTest::newRow("shift+tab, back over read-only cells") << "backtab"
                                                          << "Caine junior" << 3;
    // The cell's own entry left as it was: a move, not a profile to store for the request.
    QTest::newRow("shift+tab, choice untouched") << "backtab untouched"
                                                 << "Caine adult" << 3;
}

void TestInPlaceEditors::comboEnds() {
    QFETCH(QString, how);
    QFETCH(QString, cell);
    QFETCH(int, next);
    GridWindow& w = *m_window;
    w.comboEntries = QStringList{"Pisica", "Caine adult", "Caine junior"};
    const bool untouched = how.endsWith("untouched");
    w.list->setItemText(0, 6, untouched ? QStringLiteral("Caine adult") : QStringLiteral("Caine"));

    w.click(0, 6);
    InPlaceComboBox* combo = InPlaceComboBox::getInstance();
    QCOMPARE(combo->currentIndex(), 1);
    if (!untouched) {
        QTest::keyClick(combo, Qt::Key_Down);
        QCOMPARE(combo->currentIndex(), 2);
    }
    QVERIFY(comboOpen());

    if (how == "enter")
        QTest::keyClick(combo, Qt::Key_Return);
    else if (how == "escape")
        QTest::keyClick(combo, Qt::Key_Escape);
    else if (how == "click")
        w.click(3, 4);
    else if (how == "scroll")
        w.list->horizontalScrollBar()->triggerAction(QAbstractSlider::SliderSingleStepSub);
    else if (how == "tab")
        QTest::keyClick(combo, Qt::Key_Tab);
    else if (how.startsWith("backtab"))
        QTest::keyClick(combo, Qt::Key_Backtab, Qt::ShiftModifier);
    else {
        combo->showPopup();
        QTRY_VERIFY(combo->view()->isVisible());
        QTest::keyClick(combo->view(), Qt::Key_Escape);
    }

    // The done message is sent at once, before the combo's window goes away.
    QTRY_COMPARE(w.list->getItemText(0, 6), cell);
    const QStringList log{"fill 6", "validate 0 6 " + cell, "done 0 6 open"};
    QCOMPARE(w.log, untouched ? log.mid(0, 2) : log);
    QTRY_VERIFY(!comboOpen());
    settle();
    QCOMPARE(w.log.size(), untouched ? 2 : 3);
    QVERIFY(!combo->isVisible());
    if (how.contains("tab")) {
        QCOMPARE(w.list->currentIndex(), w.list->model()->index(0, next >= 0 ? next : 6));
        QCOMPARE(editOpen(), next >= 0);
        QVERIFY(next >= 0 ? InPlaceLineEdit::getInstance()->hasFocus() : w.list->hasFocus());
        if (next >= 0)
            QCOMPARE(InPlaceLineEdit::getInstance()->Column(), next);
    }
}

void TestInPlaceEditors::comboChoiceInDropDownEndsAtOnce() {
    GridWindow& w = *m_window;
    w.comboEntries = QStringList{"Pisica", "Caine adult", "Caine junior"};
    w.click(2, 6);
    InPlaceComboBox* combo = InPlaceComboBox::getInstance();
    combo->showPopup();
    QAbstractItemView* view = combo->view();
    QTRY_VERIFY(view->isVisible());
    QVERIFY(comboOpen()); // opening the drop-down part does not end the edit
    QTest::keyClick(view, Qt::Key_Home);
    QTest::keyClick(view, Qt::Key_Return);
    QTRY_COMPARE(w.list->getItemText(2, 6), QStringLiteral("Pisica"));
    QCOMPARE(w.log, (QStringList{"fill 6", "validate 2 6 Pisica", "done 2 6 open"}));
    QTRY_VERIFY(!comboOpen());
}

void TestInPlaceEditors::comboEscapeOnEmptyCellAfterAnother() {
    GridWindow& w = *m_window;
    w.comboEntries = QStringList{"Pisica", "Caine adult"};
    w.list->setItemText(0, 6, QStringLiteral("Pisica"));
    w.list->setItemText(1, 6, QString());
    w.click(0, 6);
    QTest::keyClick(InPlaceComboBox::getInstance(), Qt::Key_Escape);
    QTRY_VERIFY(!comboOpen());
    w.click(1, 6);
    QVERIFY(comboOpen());
    QTest::keyClick(InPlaceComboBox::getInstance(), Qt::Key_Escape);
    QCOMPARE(w.list->getItemText(1, 6), QString());
    QCOMPARE(w.list->getItemText(0, 6), QStringLiteral("Pisica"));
    QCOMPARE(w.log.last(), QStringLiteral("done 1 6 open"));
}

void TestInPlaceEditors::comboWheelChangesNothing_data() {
    QTest::addColumn<QString>("cell");
    QTest::addColumn<int>("delta"); // wheel angle: negative turns towards the user (down the list)

    QTest::newRow("down on a chosen profile") << "Caine adult" << -120;
    QTest::newRow("up on a chosen profile") << "Caine adult" << 120;
    // An empty cell has no entry selected: one notch down would pick the first profile.
    QTest::newRow("down on an empty cell") << "" << -120;
}

void TestInPlaceEditors::comboWheelChangesNothing() {
    QFETCH(QString, cell);
    QFETCH(int, delta);
    GridWindow& w = *m_window;
    w.comboEntries = QStringList{"Pisica", "Caine adult", "Caine junior"};
    w.list->setItemText(1, 6, cell);
    w.click(1, 6);
    QVERIFY(comboOpen());
    InPlaceComboBox* combo = InPlaceComboBox::getInstance();
    const int before = combo->currentIndex();

    // The pointer merely rests on the closed drop-down while the hand turns the wheel.
    const QPoint inside = combo->rect().center();
    QWheelEvent wheel(inside, combo->mapToGlobal(inside), QPoint(), QPoint(0, delta), Qt::NoButton, Qt::NoModifier,
                      Qt::NoScrollPhase, false);
    QApplication::sendEvent(combo, &wheel);
    QCOMPARE(combo->currentIndex(), before);
    QVERIFY(comboOpen());

    // Leaving the cell stores what it held before, so no other profile is saved for the request.
    w.click(3, 4);
    QTRY_VERIFY(!comboOpen());
    QCOMPARE(w.list->getItemText(1, 6), cell);
    QCOMPARE(w.log, (QStringList{"fill 6", "validate 1 6 " + cell, "done 1 6 open"}));
}

void TestInPlaceEditors::keysNeverReachTheForm() {
    // A dialog with a default button around the list: Enter and Escape inside an editor
    // end the edit and neither accept nor reject the dialog.
    m_window.reset();
    QDialog dialog;
    auto* layout = new QVBoxLayout(&dialog);
    auto* list = new EditableListView(&dialog);
    auto* ok = new QPushButton(QStringLiteral("OK"), &dialog);
    ok->setDefault(true);
    QObject::connect(ok, &QPushButton::clicked, &dialog, &QDialog::accept);
    layout->addWidget(list);
    layout->addWidget(ok);
    for (int c = 0; c < 3; ++c)
        list->insertListColumn(c, QStringLiteral("C%1").arg(c), EditableListView::LVCFMT_LEFT, 80);
    list->insertItem(0, QStringLiteral("a"));
    list->markColumnAsCombo(2, true);
    QObject::connect(list, &EditableListView::gridFillCombo, list,
                     [](int, QStringList* entries) { *entries << QStringLiteral("x"); });
    QSignalSpy accepted(&dialog, &QDialog::accepted);
    QSignalSpy rejected(&dialog, &QDialog::rejected);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowActive(&dialog));

    const auto clickCell = [list](int column) {
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                          list->visualRect(list->model()->index(0, column)).center());
    };
    const int keys[] = {Qt::Key_Return, Qt::Key_Escape, Qt::Key_Enter};
    for (int key : keys) {
        clickCell(0);
        QVERIFY(editOpen());
        QTest::keyClick(InPlaceLineEdit::getInstance(), Qt::Key(key));
        QTRY_VERIFY(!editOpen());
        clickCell(2);
        QVERIFY(comboOpen());
        QTest::keyClick(InPlaceComboBox::getInstance(), Qt::Key(key));
        QTRY_VERIFY(!comboOpen());
    }
    QVERIFY(dialog.isVisible());
    QCOMPARE(accepted.count(), 0);
    QCOMPARE(rejected.count(), 0);
}

void TestInPlaceEditors::destroyingAListReleasesTheEditors() {
    GridWindow& w = *m_window;
    w.click(0, 1);
    QVERIFY(editOpen());
    {
        // A second list, destroyed while the first one's edit is open, takes both editors along.
        GridWindow second(1);
        second.list->markColumnAsCombo(1, true);
        QVERIFY(second.showActive());
        second.click(0, 1);
        QVERIFY(comboOpen());
    }
    QVERIFY(!InPlaceLineEdit::hasInstance());
    QVERIFY(!InPlaceComboBox::hasInstance());
    settle();
    // The next click simply creates a new edit box.
    QVERIFY(w.showActive());
    w.click(1, 1);
    QVERIFY(editOpen());
    QCOMPARE(InPlaceLineEdit::getInstance()->text(), QStringLiteral("r1c1"));
}

QTEST_MAIN(TestInPlaceEditors)
#include "tst_inplaceeditors.moc"
