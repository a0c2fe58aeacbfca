// The editable list itself: the cell under the pointer, what a click opens or toggles, the
// check boxes as drawn, selection colours, sideways scrolling, row colours and the model.

#include "GridFixture.h"
#include "ListRowModel.h"

#include <QAbstractItemModelTester>
#include <QAccessible>
#include <QApplication>
#include <QHeaderView>
#include <QImage>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <QTextDocument>
#include <QToolTip>

#include <memory>

namespace {
// A dark theme: light text on a dark base. Selected text gets a colour of its own here, so the
// two can be told apart on screen.
QPalette darkPalette() {
    QPalette palette;
    palette.setColor(QPalette::Window, QColor(0x30, 0x30, 0x30));
    palette.setColor(QPalette::WindowText, QColor(0xd0, 0xd0, 0xd0));
    palette.setColor(QPalette::Base, QColor(0x1e, 0x1e, 0x1e));
    palette.setColor(QPalette::Text, QColor(0xe8, 0xe8, 0xe8));
    palette.setColor(QPalette::Button, QColor(0x45, 0x45, 0x45));
    palette.setColor(QPalette::ButtonText, QColor(0xe8, 0xe8, 0xe8));
    palette.setColor(QPalette::Highlight, QColor(0x2a, 0x5d, 0xb0));
    palette.setColor(QPalette::HighlightedText, QColor(0xff, 0xe0, 0x60));
    return palette;
}

// Whether some pixel of the area is drawn in about that colour (glyph edges are blended).
bool drawnIn(const QImage& image, const QRect& area, const QColor& colour) {
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x) {
            const QColor c = image.pixelColor(x, y);
            if (std::abs(c.red() - colour.red()) < 40 && std::abs(c.green() - colour.green()) < 40 &&
                std::abs(c.blue() - colour.blue()) < 40)
                return true;
        }
    }
    return false;
}

// What a reader sees of a tool tip: its markup, when it has some, is rendered.
QString shownText(const QString& tip) {
    if (!Qt::mightBeRichText(tip))
        return tip;
    QTextDocument document;
    document.setHtml(tip);
    return document.toPlainText();
}

// A cell text of varying length (a few reach a two-byte length in the rows' packing), with
// Romanian letters, a character outside the basic plane or only Latin-1 letters.
QString sampleText(int row, int round) {
    const int kind = (row + round) % 5;
    QString text = QStringLiteral("r%1 v%2 ").arg(row).arg(round);
    text += QString((row * 7 + round * 13) % (kind == 4 ? 400 : 40), QLatin1Char(kind == 3 ? 'e' : 'x'));
    if (kind == 0)
        text += QStringLiteral("Ștefan Țăndărică");
    else if (kind == 1)
        text += QString::fromUtf8("\xF0\x9F\x98\x80 \xC3\xA9");
    else if (kind == 2)
        text += QString::fromLatin1("\xE9\xDF");
    return text;
}

// Sum of the channel differences: how well one colour reads on the other.
int contrast(const QColor& a, const QColor& b) {
    return std::abs(a.red() - b.red()) + std::abs(a.green() - b.green()) + std::abs(a.blue() - b.blue());
}
} // namespace

class TestEditableListView : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void modelStaysConsistent();
    void cellTextsSurviveRepacking_data();
    void cellTextsSurviveRepacking();
    void listOperations();
    void autoSizeUsesTheWiderOfHeaderAndCells();
    void cellUnderPoint_data();
    void cellUnderPoint();
    void clickOpensByColumnKind_data();
    void clickOpensByColumnKind();
    void modifiedClickOnlySelects_data();
    void modifiedClickOnlySelects();
    void checkBoxToggles();
    void checkBoxDrawing_data();
    void checkBoxDrawing();
    void selectionColourFollowsFocus();
    void textColourFollowsPalette_data();
    void textColourFollowsPalette();
    void scrollRuleForEditor_data();
    void scrollRuleForEditor();
    void narrowComboColumnOpensNothing();
    void rowColoursSurviveDeletion();
    void cellNotesFollowRows_data();
    void cellNotesFollowRows();
    void cellNoteShown_data();
    void cellNoteShown();
    void scrollBarEndsEdit();
    void ownerClicks();
    void rightClickTargetsRowUnderPointer_data();
    void rightClickTargetsRowUnderPointer();
    void keyboardEditing_data();
    void keyboardEditing();
    void bulkFillReachesTheViewOnce();
    void rowsArePreparedBeforeTheyAreDrawn();
    void bulkFillWithViewOperations();
    void refillDropsOpenEdit_data();
    void refillDropsOpenEdit();

private:
    std::unique_ptr<GridWindow> m_window;
};

void TestEditableListView::init() {
    m_window = std::make_unique<GridWindow>();
    QVERIFY(m_window->showActive());
}

void TestEditableListView::cleanup() {
    m_window.reset();
    settle();
}

void TestEditableListView::modelStaysConsistent() {
    ListRowModel model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    model.insertListColumn(0, QStringLiteral("A"), 0);
    model.insertListColumn(1, QStringLiteral("B"), 1);
    for (int i = 0; i < 20; ++i)
        model.insertListRow(i, QString::number(i));
    model.insertListRow(0, QStringLiteral("first"));
    model.setText(3, 1, QStringLiteral("x"));
    model.insertListColumn(1, QStringLiteral("middle"), 2);
    model.deleteRow(5);
    model.setStateImage(2, 0x2000);
    model.deleteColumn(0);
    model.deleteAll();
    QCOMPARE(model.rowCount(), 0);
    QCOMPARE(model.columnCount(), 2);
    // Filled again, in the room the emptied list kept, more than once and beyond it.
    const QString padding(100, QLatin1Char('-'));
    for (int rows : {200, 40, 600}) {
        for (int i = 0; i < rows; ++i)
            model.insertListRow(i, QStringLiteral("row %1 of %2 %3").arg(i).arg(rows).arg(padding));
        for (int i = 0; i < rows; ++i)
            QCOMPARE(model.data(model.index(i, 0)).toString(),
                     QStringLiteral("row %1 of %2 %3").arg(i).arg(rows).arg(padding));
        model.deleteAll();
        QCOMPARE(model.rowCount(), 0);
    }
}

void TestEditableListView::cellTextsSurviveRepacking_data() {
    QTest::addColumn<QString>("scenario");
    QTest::newRow("letters beyond Latin-1 come and go") << "letters";
    QTest::newRow("earlier rows rewritten until packed anew") << "rewrite";
    QTest::newRow("rows inserted among others, most deleted") << "rows";
    QTest::newRow("columns inserted and deleted under the rows") << "columns";
}

// Every cell reads back as last set, whatever happened to the rows around it; a plain table
// of texts is kept beside the model as the truth.
void TestEditableListView::cellTextsSurviveRepacking() {
    QFETCH(QString, scenario);
    ListRowModel model;
    std::vector<QStringList> truth;
    int columns = 4;
    for (int c = 0; c < columns; ++c)
        model.insertListColumn(c, QString::number(c), 0);
    auto set = [&](int row, int column, const QString& text) {
        QVERIFY(model.setText(row, column, text));
        truth[row][column] = text;
    };
    auto insert = [&](int row, const QString& text) {
        QCOMPARE(model.insertListRow(row, text), row);
        truth.insert(truth.begin() + row, QStringList(columns, QString()));
        truth[row][0] = text;
    };
    const int rows = 3000;
    model.beginFill();
    for (int r = 0; r < rows; ++r) {
        if (r % 2 == 0) {
            insert(r, sampleText(r, 0));
            // Left to right with a gap, as a search leaves empty values out.
            set(r, 1, sampleText(r, 1));
            set(r, 3, sampleText(r, 3));
            continue;
        }
        // A whole row at once, its texts as a database read gives them: UTF-8, Latin-1 or
        // UTF-16; every fourth row ends in an empty cell.
        truth.push_back({sampleText(r, 0), sampleText(r, 1), QString(), r % 4 == 1 ? QString() : sampleText(r, 3)});
        const QByteArray utf8 = truth[r][0].toUtf8();
        const QByteArray latin1 = truth[r][3].toLatin1();
        QAnyStringView cells[4] = {QUtf8StringView(utf8), truth[r][1], {}, truth[r][3]};
        if (QString::fromLatin1(latin1) == truth[r][3])
            cells[3] = QLatin1StringView(latin1);
        QCOMPARE(model.appendRow(cells, 4, r), r);
    }
    model.endFill();
    for (int r = 1; r < rows; r += 2)
        QCOMPARE(model.rowData(r), qint64(r));

    if (scenario == "letters") {
        for (int round = 1; round < 6; ++round) {
            for (int r = 0; r < rows; r += 3)
                set(r, round % columns, sampleText(r, round));
        }
    } else if (scenario == "rewrite") {
        // Each round moves every row; the room they leave is taken back several times.
        for (int round = 1; round < 12; ++round) {
            for (int r = 0; r < rows; ++r)
                set(r, (r + round) % columns, sampleText(r, round + 5));
        }
    } else if (scenario == "rows") {
        for (int r = 0; r < rows; r += 2)
            insert(r, sampleText(r, 7));
        for (int r = int(truth.size()) - 1; r >= 0; --r) {
            if (r % 10 != 0) {
                QVERIFY(model.deleteRow(r));
                truth.erase(truth.begin() + r);
            }
        }
        for (int r = 0; r < int(truth.size()); r += 4)
            set(r, 2, sampleText(r, 8));
    } else if (scenario == "columns") {
        model.insertListColumn(1, QStringLiteral("new"), 0);
        for (QStringList& row : truth)
            row.insert(1, QString());
        ++columns;
        set(5, 1, sampleText(5, 9));
        QVERIFY(model.deleteColumn(3));
        for (QStringList& row : truth)
            row.removeAt(3);
        --columns;
        set(7, 3, sampleText(7, 9));
    }

    QCOMPARE(model.rowTotal(), int(truth.size()));
    QCOMPARE(model.columnCount(), columns);
    for (int r = 0; r < int(truth.size()); ++r) {
        for (int c = 0; c < columns; ++c) {
            if (model.text(r, c) != truth[r][c])
                QFAIL(qPrintable(QStringLiteral("row %1, column %2: \"%3\" instead of \"%4\"")
                                     .arg(r)
                                     .arg(c)
                                     .arg(model.text(r, c), truth[r][c])));
        }
    }
}

void TestEditableListView::listOperations() {
    EditableListView* list = m_window->list;
    // Cells keep their texts when columns come and go around them.
    QCOMPARE(list->insertListColumn(1, QStringLiteral("Nou")), 1);
    QCOMPARE(list->getItemText(2, 0), QStringLiteral("r2c0"));
    QCOMPARE(list->getItemText(2, 1), QString());
    QCOMPARE(list->getItemText(2, 2), QStringLiteral("r2c1"));
    QVERIFY(list->deleteColumn(0));
    QCOMPARE(list->getItemText(2, 1), QStringLiteral("r2c1"));
    QCOMPARE(list->getItemText(2, 6), QStringLiteral("r2c6"));
    QVERIFY(!list->deleteColumn(7));

    // A cell beyond the ones set so far reads empty, and texts of any length survive.
    const int row = list->insertItem(99, QStringLiteral("last"));
    QCOMPARE(row, 5);
    QCOMPARE(list->getItemText(row, 4), QString());
    const QString longText(70000, QLatin1Char('x'));
    QVERIFY(list->setItemText(row, 4, longText));
    QVERIFY(list->setItemText(row, 2, QStringLiteral("doi")));
    QCOMPARE(list->getItemText(row, 4), longText);
    QCOMPARE(list->getItemText(row, 2), QStringLiteral("doi"));
    QVERIFY(!list->setItemText(row, 7, QStringLiteral("none")));
    QVERIFY(!list->setItemText(-1, 0, QStringLiteral("none")));

    QVERIFY(list->setItemData(row, 123456789012LL));
    QCOMPARE(list->getItemData(row), 123456789012LL);
    QCOMPARE(list->getFirstSelectedItem(), -1);
    list->setItemState(4, EditableListView::LVIS_SELECTED, EditableListView::LVIS_SELECTED);
    list->setItemState(2, EditableListView::LVIS_SELECTED, EditableListView::LVIS_SELECTED);
    QCOMPARE(list->getFirstSelectedItem(), 2);
    QVERIFY(list->deleteItem(0));
    QCOMPARE(list->getItemText(0, 1), QStringLiteral("r1c1"));
    QVERIFY(list->deleteAllItems());
    QCOMPARE(list->getItemCount(), 0);
    QCOMPARE(list->getFirstSelectedItem(), -1);
}

void TestEditableListView::autoSizeUsesTheWiderOfHeaderAndCells() {
    EditableListView* list = m_window->list;
    const QFontMetrics cells(list->font());
    const QFontMetrics heading(list->header()->font());
    list->setItemText(3, 1, QStringLiteral("Popescu-Ionescu Maria Magdalena"));
    QVERIFY(list->setListColumnWidth(1, EditableListView::LVSCW_AUTOSIZE_USEHEADER));
    const int wideCell = list->getColumnWidth(1);
    QVERIFY(wideCell > cells.horizontalAdvance(QStringLiteral("Popescu-Ionescu Maria Magdalena")));

    list->insertListColumn(7, QStringLiteral("Un titlu de coloana foarte lung"));
    list->setItemText(0, 7, QStringLiteral("x"));
    QVERIFY(list->setListColumnWidth(7, EditableListView::LVSCW_AUTOSIZE_USEHEADER));
    QVERIFY(list->getColumnWidth(7) > heading.horizontalAdvance(QStringLiteral("Un titlu de coloana foarte lung")));
    QVERIFY(list->setListColumnWidth(7, EditableListView::LVSCW_AUTOSIZE));
    QVERIFY(list->getColumnWidth(7) < heading.horizontalAdvance(QStringLiteral("Un titlu de coloana foarte lung")));
}

void TestEditableListView::cellUnderPoint_data() {
    QTest::addColumn<int>("dx"); // from the right border of column 0
    QTest::addColumn<int>("row");
    QTest::addColumn<int>("column");

    QTest::newRow("inside column 0") << -5 << 1 << 0;
    QTest::newRow("border pixel belongs to the left") << 0 << 1 << 0;
    QTest::newRow("one pixel right of it") << 1 << 1 << 1;
    QTest::newRow("past the last column") << 7 * 80 + 20 << -1 << 0;
}

void TestEditableListView::cellUnderPoint() {
    QFETCH(int, dx);
    QFETCH(int, row);
    QFETCH(int, column);
    EditableListView* list = m_window->list;
    const QRect first = list->visualRect(list->model()->index(1, 0));
    int found = -7;
    QCOMPARE(list->hitTestCell(QPoint(first.left() + 80 + dx, first.center().y()), &found), row);
    QCOMPARE(found, column);
    // Below the last row there is no row.
    const QRect last = list->visualRect(list->model()->index(4, 0));
    QCOMPARE(list->hitTestCell(QPoint(last.center().x(), last.bottom() + 3 * last.height()), &found), -1);
}

void TestEditableListView::clickOpensByColumnKind_data() {
    QTest::addColumn<int>("column");
    QTest::addColumn<QString>("opens");

    QTest::newRow("plain column") << 1 << "edit";
    QTest::newRow("combo column") << 6 << "combo";
    QTest::newRow("read-only column") << 4 << "nothing";
    QTest::newRow("both kinds: combo wins") << 5 << "combo";
}

void TestEditableListView::clickOpensByColumnKind() {
    QFETCH(int, column);
    QFETCH(QString, opens);
    GridWindow& w = *m_window;
    w.list->markColumnAsCombo(6, true);
    w.list->markColumnAsCombo(5, true);
    w.list->markColumnReadOnly(4, true);
    w.list->markColumnReadOnly(5, true);
    w.list->markColumnReadOnly(4, true); // a second mark changes nothing
    w.click(2, column);
    QCOMPARE(editOpen(), opens == "edit");
    QCOMPARE(comboOpen(), opens == "combo");
    QCOMPARE(w.log.contains(QStringLiteral("fill %1").arg(column)), opens == "combo");
    QCOMPARE(w.list->getFirstSelectedItem(), 2);
    QCOMPARE(w.list->editLabel(2, 4), false); // a label edit on a read-only column is refused

    // A column released from its kind is edited with the edit box on the next click.
    w.list->setFocus();
    QTRY_VERIFY(!editOpen() && !comboOpen());
    w.list->markColumnReadOnly(4, false);
    w.list->markColumnAsCombo(5, false);
    w.click(3, column);
    QCOMPARE(editOpen(), column == 1 || column == 4);
}

void TestEditableListView::modifiedClickOnlySelects_data() {
    QTest::addColumn<Qt::KeyboardModifier>("modifier");
    QTest::addColumn<QList<int>>("selected");

    QTest::newRow("shift") << Qt::ShiftModifier << QList<int>{1, 2, 3};
    QTest::newRow("ctrl") << Qt::ControlModifier << QList<int>{1, 3};
}

void TestEditableListView::modifiedClickOnlySelects() {
    QFETCH(Qt::KeyboardModifier, modifier);
    QFETCH(QList<int>, selected);
    GridWindow& w = *m_window;
    w.list->markColumnReadOnly(4, true);
    w.list->setItemText(3, 2, QStringLiteral("boolean"));
    w.click(1, 4);
    w.click(3, 2, modifier);
    QVERIFY(!editOpen());
    QVERIFY(w.log.isEmpty());
    QCOMPARE(w.list->getCheck(3), -1);
    QList<int> rows;
    for (int r = 0; r < w.list->getItemCount(); ++r) {
        if (w.list->getItemState(r, EditableListView::LVIS_SELECTED))
            rows << r;
    }
    QCOMPARE(rows, selected);
}

void TestEditableListView::checkBoxToggles() {
    GridWindow& w = *m_window;
    w.list->markColumnReadOnly(4, true);
    w.list->markColumnReadOnly(5, true);
    w.list->setItemText(2, 4, QStringLiteral("boolean"));
    w.list->setItemText(2, 5, QStringLiteral("boolean"));
    w.list->setItemText(1, 4, QStringLiteral("Boolean"));

    QCOMPARE(w.list->getCheck(2), -1); // never set: drawn checked
    w.click(2, 4);
    QCOMPARE(w.list->getCheck(2), 0);
    w.click(2, 5); // the state belongs to the row, so the other cell flips it back
    QCOMPARE(w.list->getCheck(2), 1);
    w.click(2, 4);
    QCOMPARE(w.list->getCheck(2), 0);
    w.click(1, 4); // not exactly "boolean"
    QCOMPARE(w.list->getCheck(1), -1);
    QCOMPARE(w.log, (QStringList{"toggle 2 4", "toggle 2 5", "toggle 2 4"}));

    // In an editable column the toggle is followed by the edit box, like any other cell.
    w.list->setItemText(3, 1, QStringLiteral("boolean"));
    w.click(3, 1);
    QCOMPARE(w.list->getCheck(3), 0);
    QVERIFY(editOpen());
    QCOMPARE(InPlaceLineEdit::getInstance()->text(), QStringLiteral("boolean"));
}

void TestEditableListView::checkBoxDrawing_data() {
    QTest::addColumn<int>("check"); // -1 never set
    QTest::addColumn<bool>("dark");
    QTest::addColumn<bool>("marked");

    QTest::newRow("never set") << -1 << false << true;
    QTest::newRow("unchecked") << 0 << false << false;
    QTest::newRow("checked") << 1 << false << true;
    // Under a dark theme a black mark on the dark box would not be seen.
    QTest::newRow("checked, dark theme") << 1 << true << true;
    QTest::newRow("unchecked, dark theme") << 0 << true << false;
}

void TestEditableListView::checkBoxDrawing() {
    QFETCH(int, check);
    QFETCH(bool, dark);
    QFETCH(bool, marked);
    EditableListView* list = m_window->list;
    if (dark)
        list->setPalette(darkPalette());
    list->setItemText(3, 2, QStringLiteral("boolean"));
    if (check >= 0)
        list->setCheck(3, check == 1);
    const QImage image = list->viewport()->grab().toImage();
    const QRect cell = list->visualRect(list->model()->index(3, 2));

    // The box sits centred in the cell shrunk by 2 and 1 pixels; the mark is seven strokes
    // of three pixels, from (left + 9, top + 3) down to the left and back up.
    const int top = cell.top() + 1;
    const int h = cell.height() - 2;
    const int boxLeft = cell.left() + 2 + (cell.width() - 4) / 2 - h / 2 - 1 + 1;
    const QPoint strokes[] = {{9, 3}, {8, 4}, {7, 5}, {6, 6}, {5, 7}, {4, 6}, {3, 5}};
    const QColor mark = list->palette().color(QPalette::Text);
    int drawn = 0;
    for (const QPoint& s : strokes) {
        for (int dy = 0; dy < 3; ++dy)
            drawn += image.pixelColor(boxLeft + s.x(), top + s.y() + dy) == mark ? 1 : 0;
    }
    QCOMPARE(drawn, marked ? 21 : 0);
    // The frame is drawn either way; a pixel between the strokes stays the window colour.
    QCOMPARE(image.pixelColor(boxLeft, top + h / 2), list->palette().color(QPalette::WindowText));
    QCOMPARE(image.pixelColor(boxLeft + 9, top + 7), list->palette().color(QPalette::Base));
}

void TestEditableListView::selectionColourFollowsFocus() {
    GridWindow& w = *m_window;
    w.list->setItemText(1, 3, QString());
    w.list->setItemState(1, EditableListView::LVIS_SELECTED, EditableListView::LVIS_SELECTED);
    const QRect cell = w.list->visualRect(w.list->model()->index(1, 3));
    const QPoint probe(cell.left() + 4, cell.center().y());
    const QPoint other(cell.left() + 4, w.list->visualRect(w.list->model()->index(2, 3)).center().y());

    w.list->setFocus();
    QTRY_VERIFY(w.list->hasFocus());
    QImage image = w.list->viewport()->grab().toImage();
    QCOMPARE(image.pixelColor(probe), w.list->palette().color(QPalette::Highlight));
    QCOMPARE(image.pixelColor(other), w.list->palette().color(QPalette::Base));

    w.other->setFocus();
    QTRY_VERIFY(!w.list->hasFocus());
    image = w.list->viewport()->grab().toImage();
    QCOMPARE(image.pixelColor(probe), w.list->palette().color(QPalette::Button));
}

void TestEditableListView::textColourFollowsPalette_data() {
    QTest::addColumn<bool>("selected");
    QTest::addColumn<bool>("focused");
    QTest::addColumn<QColor>("own");               // set with SetRowTextColor, invalid for none
    QTest::addColumn<QPalette::ColorRole>("role"); // expected colour, when the row has none of its own

    const QColor none;
    QTest::newRow("plain row") << false << true << none << QPalette::Text;
    QTest::newRow("selected, list focused") << true << true << none << QPalette::HighlightedText;
    QTest::newRow("selected, focus elsewhere") << true << false << none << QPalette::Text;
    QTest::newRow("row's own colour") << false << true << QColor(0xff, 0x40, 0x40) << QPalette::NoRole;
}

void TestEditableListView::textColourFollowsPalette() {
    QFETCH(bool, selected);
    QFETCH(bool, focused);
    QFETCH(QColor, own);
    QFETCH(QPalette::ColorRole, role);
    GridWindow& w = *m_window;
    w.list->setPalette(darkPalette());
    w.list->setItemText(2, 1, QStringLiteral("HIHIHIHI"));
    if (own.isValid())
        w.list->setRowTextColor(2, own);
    if (selected)
        w.list->setItemState(2, EditableListView::LVIS_SELECTED, EditableListView::LVIS_SELECTED);
    if (focused)
        w.list->setFocus();
    else
        w.other->setFocus();
    QTRY_COMPARE(w.list->hasFocus(), focused);

    const QColor expected = own.isValid() ? own : w.list->palette().color(role);
    const QImage image = w.list->viewport()->grab().toImage();
    const QRect cell = w.list->visualRect(w.list->model()->index(2, 1));
    QVERIFY2(drawnIn(image, cell, expected), qPrintable(expected.name()));
    // The owner reads the colour a row is drawn in when not highlighted.
    QCOMPARE(w.list->getRowTextColor(2), own.isValid() ? own : w.list->palette().color(QPalette::Text));
}

void TestEditableListView::scrollRuleForEditor_data() {
    QTest::addColumn<int>("scrollTo"); // horizontal scroll position before the click
    QTest::addColumn<int>("column");
    QTest::addColumn<int>("expected"); // scroll position afterwards

    // Viewport 200 pixels wide. Column 2 spans 160..240: its right edge shows at 240 - 0.
    QTest::newRow("partly out on the right") << 0 << 2 << 40;
    // Column 1 spans 80..160; scrolled by 100 its left edge is 20 pixels out on the left.
    QTest::newRow("partly out on the left") << 100 << 1 << 80;
    QTest::newRow("fully visible") << 0 << 1 << 0;
}

void TestEditableListView::scrollRuleForEditor() {
    QFETCH(int, scrollTo);
    QFETCH(int, column);
    QFETCH(int, expected);
    GridWindow& w = *m_window;
    const int frame = w.list->width() - w.list->viewport()->width();
    w.list->setFixedWidth(200 + frame);
    QTRY_COMPARE(w.list->viewport()->width(), 200);
    w.list->horizontalScrollBar()->setValue(scrollTo);
    QCOMPARE(w.list->horizontalScrollBar()->value(), scrollTo);

    const QRect cell = w.list->visualRect(w.list->model()->index(1, column));
    const QRect visible = cell.intersected(w.list->viewport()->rect());
    QTest::mouseClick(w.list->viewport(), Qt::LeftButton, {}, visible.center());
    QVERIFY(editOpen());
    QCOMPARE(w.list->horizontalScrollBar()->value(), expected);
    const QRect placed = InPlaceLineEdit::getInstance()->geometry();
    QCOMPARE(placed, w.list->visualRect(w.list->model()->index(1, column)));
    QVERIFY(placed.left() >= 0 && placed.right() < 200);
}

void TestEditableListView::narrowComboColumnOpensNothing() {
    GridWindow& w = *m_window;
    w.list->markColumnAsCombo(6, true);
    w.list->setListColumnWidth(6, 12);
    w.click(1, 6);
    QVERIFY(comboOpen());
    w.list->setFocus();
    QTRY_VERIFY(!comboOpen());
    w.log.clear();
    w.list->setListColumnWidth(6, 9);
    QCOMPARE(w.list->getColumnWidth(6), 9);
    w.click(1, 6);
    QVERIFY(!comboOpen());
    QCOMPARE(w.log, QStringList{"fill 6"}); // the owner was asked before the width was checked
}

void TestEditableListView::rowColoursSurviveDeletion() {
    EditableListView* list = m_window->list;
    list->setRowTextColor(1, Qt::red);
    list->setRowTextColor(3, Qt::blue);
    list->setRowTextColor(1, Qt::darkGreen); // updates in place
    QCOMPARE(list->getRowTextColor(1), QColor(Qt::darkGreen));
    const QColor plain = list->palette().color(QPalette::Text);
    QCOMPARE(list->getRowTextColor(2), plain);

    QVERIFY(list->deleteItem(1));
    QCOMPARE(list->getRowTextColor(1), plain);
    QCOMPARE(list->getRowTextColor(3), QColor(Qt::blue)); // keyed by index, not renumbered
    QVERIFY(list->deleteItem(0));
    QCOMPARE(list->getRowTextColor(3), QColor(Qt::blue));

    // Whatever row stands at index 3 is drawn in that colour.
    QCOMPARE(list->getItemCount(), 3);
    QCOMPARE(list->insertItem(3, QStringLiteral("new")), 3);
    list->setItemText(3, 1, QStringLiteral("WWWWWWWW"));
    const QImage image = list->viewport()->grab().toImage();
    const QRect cell = list->visualRect(list->model()->index(3, 1));
    bool blue = false;
    for (int x = cell.left(); x <= cell.right() && !blue; ++x) {
        for (int y = cell.top(); y <= cell.bottom() && !blue; ++y) {
            const QColor c = image.pixelColor(x, y);
            blue = c.blue() > 150 && c.red() < 100 && c.green() < 100;
        }
    }
    QVERIFY(blue);
    list->deleteAllItems();
    QCOMPARE(list->getRowTextColor(3), plain);
}

void TestEditableListView::cellNotesFollowRows_data() {
    QTest::addColumn<QString>("change");
    QTest::addColumn<QStringList>("notes"); // "row column text", by row and column

    const QStringList start{"1 2 A", "3 1 C", "3 5 B"};
    QTest::newRow("as set") << "" << start;
    QTest::newRow("row above deleted") << "delete 0" << QStringList{"0 2 A", "2 1 C", "2 5 B"};
    QTest::newRow("marked row deleted") << "delete 1" << QStringList{"2 1 C", "2 5 B"};
    QTest::newRow("row inserted above") << "insert 2" << QStringList{"1 2 A", "4 1 C", "4 5 B"};
    // A new search must not show the last one's corrections on its rows.
    QTest::newRow("cleared and filled again") << "refill" << QStringList{};
    QTest::newRow("empty text removes the mark") << "clear 3 5" << QStringList{"1 2 A", "3 1 C"};
    QTest::newRow("new text replaces the note") << "replace 1 2" << QStringList{"1 2 A2", "3 1 C", "3 5 B"};
    QTest::newRow("cells out of range refused") << "outside" << start;
    QTest::newRow("during a fill") << "fill" << QStringList{"1 2 A", "3 1 C", "3 5 B", "7 3 D"};
    QTest::newRow("column inserted before") << "insert column 2" << QStringList{"1 3 A", "3 1 C", "3 6 B"};
    QTest::newRow("column deleted") << "delete column 2" << QStringList{"3 1 C", "3 4 B"};
}

void TestEditableListView::cellNotesFollowRows() {
    QFETCH(QString, change);
    QFETCH(QStringList, notes);
    EditableListView* list = m_window->list;
    QAbstractItemModel* model = list->model();
    QAbstractItemModelTester tester(model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    list->setCellNote(1, 2, QStringLiteral("A"));
    list->setCellNote(3, 5, QStringLiteral("B"));
    list->setCellNote(3, 1, QStringLiteral("C"));

    if (change.startsWith("delete column"))
        QVERIFY(list->deleteColumn(change.section(' ', 2).toInt()));
    else if (change.startsWith("insert column"))
        list->insertListColumn(change.section(' ', 2).toInt(), QStringLiteral("Nou"));
    else if (change.startsWith("delete"))
        QVERIFY(list->deleteItem(change.section(' ', 1).toInt()));
    else if (change.startsWith("insert"))
        list->insertItem(change.section(' ', 1).toInt(), QStringLiteral("new"));
    else if (change.startsWith("clear"))
        list->setCellNote(change.section(' ', 1, 1).toInt(), change.section(' ', 2).toInt(), QString());
    else if (change.startsWith("replace"))
        list->setCellNote(1, 2, QStringLiteral("A2"));
    if (change == "refill") {
        list->deleteAllItems();
        for (int r = 0; r < 5; ++r)
            list->insertItem(r, QStringLiteral("n%1").arg(r));
    } else if (change == "outside") {
        list->setCellNote(5, 0, QStringLiteral("x"));
        list->setCellNote(-1, 0, QStringLiteral("x"));
        list->setCellNote(0, 7, QStringLiteral("x"));
        list->setCellNote(0, -1, QStringLiteral("x"));
    } else if (change == "fill") {
        // Rows still kept from the view take their notes along, and a deleted one moves them.
        list->beginFill();
        for (int r = 5; r < 10; ++r)
            list->insertItem(r, QStringLiteral("n%1").arg(r));
        list->setCellNote(8, 3, QStringLiteral("D"));
        QVERIFY(list->deleteItem(6));
        QVERIFY(list->hasCellNote(7, 3));
        list->endFill();
    }

    QStringList found;
    for (int r = 0; r < list->getItemCount(); ++r) {
        for (int c = 0; c <= list->getColumnCount(); ++c) {
            const QString note = list->getCellNote(r, c);
            QCOMPARE(list->hasCellNote(r, c), !note.isEmpty());
            // Assistive tools read the note from the cell; a cell without one has nothing to say.
            const QModelIndex index = model->index(r, c);
            QCOMPARE(index.data(Qt::AccessibleDescriptionRole).toString(), note);
            QCOMPARE(shownText(index.data(Qt::ToolTipRole).toString()), note);
            if (!note.isEmpty())
                found << QStringLiteral("%1 %2 %3").arg(r).arg(c).arg(note);
        }
    }
    QCOMPARE(found, notes);
}

void TestEditableListView::cellNoteShown_data() {
    QTest::addColumn<bool>("dark");
    QTest::addColumn<bool>("selected");
    QTest::addColumn<QString>("note");

    const QString note = QStringLiteral("Corectat de ana la 12/03/2016 10:15\nera: Popescu Ion");
    QTest::newRow("light theme") << false << false << note;
    QTest::newRow("dark theme") << true << false << note;
    QTest::newRow("selected row, dark theme") << true << true << note;
    QTest::newRow("selected row, light theme") << false << true << note;
    // An old value is shown as it was written, never read as markup.
    QTest::newRow("note with markup signs") << false << false << QStringLiteral("era: <b>Pop</b> & <i>Ion");
}

void TestEditableListView::cellNoteShown() {
    QFETCH(bool, dark);
    QFETCH(bool, selected);
    QFETCH(QString, note);
    GridWindow& w = *m_window;
    if (dark)
        w.list->setPalette(darkPalette());
    w.list->setFocus();
    QTRY_VERIFY(w.list->hasFocus());
    if (selected)
        w.list->setItemState(2, EditableListView::LVIS_SELECTED, EditableListView::LVIS_SELECTED);
    w.list->setCellNote(2, 3, note);

    // The top-right corner of the marked cell stands out from the same corner of its neighbour.
    const QImage image = w.list->viewport()->grab().toImage();
    const QRect marked = w.list->visualRect(w.list->model()->index(2, 3));
    const QRect plain = w.list->visualRect(w.list->model()->index(2, 4));
    for (const QPoint& at : {QPoint(-1, 1), QPoint(-3, 1), QPoint(-1, 3)}) {
        const QColor mark = image.pixelColor(marked.topRight() + at);
        const QColor background = image.pixelColor(plain.topRight() + at);
        QVERIFY2(contrast(mark, background) > 100, qPrintable(mark.name() + " on " + background.name()));
    }
    // Away from the corner the cells look alike.
    QCOMPARE(image.pixelColor(marked.bottomRight() + QPoint(-1, -1)),
             image.pixelColor(plain.bottomRight() + QPoint(-1, -1)));

    // Hovering the cell shows its note; hovering a cell without one shows none.
    const auto hover = [&](const QPoint& at) {
        QHelpEvent event(QEvent::ToolTip, at, w.list->viewport()->mapToGlobal(at));
        QApplication::sendEvent(w.list->viewport(), &event);
    };
    hover(marked.center());
    QTRY_VERIFY(QToolTip::isVisible());
    QCOMPARE(shownText(QToolTip::text()), note);
    hover(plain.center());
    QTRY_VERIFY(!QToolTip::isVisible());
    hover(marked.center());
    QTRY_VERIFY(QToolTip::isVisible());
    hover(w.list->visualRect(w.list->model()->index(1, 3)).center());
    QTRY_VERIFY(!QToolTip::isVisible());
}

void TestEditableListView::scrollBarEndsEdit() {
    GridWindow w(60);
    QVERIFY(w.showActive());
    w.click(1, 1);
    QVERIFY(editOpen());
    w.list->verticalScrollBar()->triggerAction(QAbstractSlider::SliderPageStepAdd);
    QVERIFY(w.list->hasFocus());
    QCOMPARE(w.log, QStringList{"validate 1 1 r1c1"});
    QTRY_VERIFY(!editOpen());
}

void TestEditableListView::ownerClicks() {
    GridWindow& w = *m_window;
    w.list->markColumnReadOnly(4, true);
    QSignalSpy right(w.list, &EditableListView::listRightClicked);
    QSignalSpy twice(w.list, &EditableListView::listDoubleClicked);
    QTest::mouseClick(w.list->viewport(), Qt::RightButton, {}, w.cellCentre(2, 1));
    QCOMPARE(right.count(), 1);
    QCOMPARE(w.list->getFirstSelectedItem(), 2); // the row is selected before the owner hears
    QVERIFY(!editOpen());
    QTest::mouseDClick(w.list->viewport(), Qt::LeftButton, {}, w.cellCentre(3, 4));
    QCOMPARE(twice.count(), 1);
    QCOMPARE(w.list->getFirstSelectedItem(), 3);
}

void TestEditableListView::rightClickTargetsRowUnderPointer_data() {
    QTest::addColumn<int>("shiftTo"); // rows 1 to shiftTo are selected first, shiftTo focused
    QTest::addColumn<int>("clicked"); // row under the right click, -1 for the space below the rows
    QTest::addColumn<Qt::KeyboardModifiers>("modifiers");
    QTest::addColumn<QList<int>>("selected");
    QTest::addColumn<int>("current");

    const Qt::KeyboardModifiers none;
    // The owner acts on the row that was clicked, not on the topmost or the focused one.
    QTest::newRow("inside a selection of several rows") << 3 << 2 << none << QList<int>{1, 2, 3} << 2;
    QTest::newRow("on the focused row of a selection") << 3 << 3 << none << QList<int>{1, 2, 3} << 3;
    QTest::newRow("outside the selection") << 3 << 4 << none << QList<int>{4} << 4;
    QTest::newRow("outside a single selected row") << 1 << 0 << none << QList<int>{0} << 0;
    // With Ctrl held the row clicked must still be among the selected ones the user sees.
    QTest::newRow("ctrl, outside the selection")
        << 3 << 4 << Qt::KeyboardModifiers(Qt::ControlModifier) << QList<int>{4} << 4;
    QTest::newRow("shift, inside the selection")
        << 3 << 1 << Qt::KeyboardModifiers(Qt::ShiftModifier) << QList<int>{1, 2, 3} << 1;
    // Empty space clears the selection, as in a file manager: there is no row to act on.
    QTest::newRow("empty space below the rows") << 3 << -1 << none << QList<int>{} << 3;
}

void TestEditableListView::rightClickTargetsRowUnderPointer() {
    QFETCH(int, shiftTo);
    QFETCH(int, clicked);
    QFETCH(Qt::KeyboardModifiers, modifiers);
    QFETCH(QList<int>, selected);
    QFETCH(int, current);
    GridWindow& w = *m_window;
    w.list->markColumnReadOnly(4, true);
    w.click(1, 4);
    if (shiftTo != 1)
        w.click(shiftTo, 4, Qt::ShiftModifier);

    // What the owner finds when it hears of the right click.
    int context = -2;
    QList<int> rows;
    int focused = -2;
    connect(w.list, &EditableListView::listRightClicked, w.list, [&]() {
        context = w.list->getContextItem();
        for (int r = 0; r < w.list->getItemCount(); ++r) {
            if (w.list->getItemState(r, EditableListView::LVIS_SELECTED))
                rows << r;
            if (w.list->getItemState(r, EditableListView::LVIS_FOCUSED))
                focused = r;
        }
    });
    const QRect last = w.list->visualRect(w.list->model()->index(4, 2));
    const QPoint at = clicked >= 0 ? w.cellCentre(clicked, 2) : last.center() + QPoint(0, 3 * last.height());
    QTest::mouseClick(w.list->viewport(), Qt::RightButton, modifiers, at);
    QCOMPARE(context, clicked);
    QCOMPARE(rows, selected);
    QCOMPARE(focused, current);
    QVERIFY(!editOpen());
    QCOMPARE(w.list->getContextItem(), clicked);
}

void TestEditableListView::keyboardEditing_data() {
    QTest::addColumn<int>("start");      // the focused row before Down is pressed
    QTest::addColumn<QString>("moves");  // Left and Right presses after it: "L", "R"
    QTest::addColumn<QString>("scroll"); // where the list is scrolled before F2
    QTest::addColumn<int>("current");    // the current column F2 is pressed on (0 is read-only)
    QTest::addColumn<int>("column");     // the column F2 edits

    QTest::newRow("row in view") << 1 << "R"
                                 << "" << 1 << 1;
    // The wheel or the scroll bar may have taken the focused row out of sight; F2 brings it back
    // so the edit box opens over that row and not outside the list.
    QTest::newRow("row scrolled out above") << 1 << "R"
                                            << "bottom" << 1 << 1;
    QTest::newRow("row scrolled out below") << 50 << "R"
                                            << "top" << 1 << 1;
    // The list shows ten and a half rows: the eleventh is cut by the bottom edge.
    QTest::newRow("row cut by the bottom edge") << 9 << "R"
                                                << "top, half row" << 1 << 1;
    // The current cell is the one edited, not the row's first editable one.
    QTest::newRow("right, right, left") << 1 << "RRL"
                                        << "" << 1 << 1;
    QTest::newRow("right stops at the last column") << 1 << "RRRRRRRRR"
                                                    << "" << 6 << 6;
    // A read-only current cell (a click on the transfer date, say) opens the row's first
    // editable cell, as F2 did before the list had a current cell, scrolling as needed.
    QTest::newRow("read-only cell: first editable one opens") << 1 << ""
                                                              << "" << 0 << 1;
    QTest::newRow("left stops at the first column") << 1 << "RL L"
                                                    << "" << 0 << 1;
    QTest::newRow("read-only cell, row scrolled out below") << 50 << ""
                                                            << "top" << 0 << 1;
    QTest::newRow("read-only cell, editable one scrolled out to the left") << 1 << ""
                                                                           << "right" << 0 << 1;
}

void TestEditableListView::keyboardEditing() {
    QFETCH(int, start);
    QFETCH(QString, moves);
    QFETCH(QString, scroll);
    QFETCH(int, current);
    QFETCH(int, column);
    GridWindow w(60);
    QVERIFY(w.showActive());
    w.list->markColumnReadOnly(0, true);
    w.list->setFocus();
    w.list->setItemState(start, EditableListView::LVIS_FOCUSED | EditableListView::LVIS_SELECTED,
                         EditableListView::LVIS_FOCUSED | EditableListView::LVIS_SELECTED);
    QTest::keyClick(w.list, Qt::Key_Down);
    const int row = start + 1;
    QCOMPARE(w.list->getItemState(row, EditableListView::LVIS_FOCUSED), EditableListView::LVIS_FOCUSED);
    for (const QChar move : moves) {
        if (move != QLatin1Char(' '))
            QTest::keyClick(w.list, move == QLatin1Char('L') ? Qt::Key_Left : Qt::Key_Right);
    }
    QCOMPARE(w.list->currentIndex(), w.list->model()->index(row, current));
    QCOMPARE(w.list->getFirstSelectedItem(), row);
    // The current cell is framed on the highlighted row, so the user sees which one F2 edits,
    // and assistive tools name that cell.
    const QImage image = w.list->viewport()->grab().toImage();
    const QRect cell = w.list->visualRect(w.list->model()->index(row, current));
    const QPoint frameLeft(cell.left() + 1, cell.center().y());
    const QColor frame = image.pixelColor(frameLeft);
    const QColor beside = image.pixelColor(frameLeft + QPoint(current == 6 ? -80 : 80, 0));
    QVERIFY2(contrast(frame, beside) > 200, qPrintable(frame.name() + " beside " + beside.name()));
    QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(w.list);
    QVERIFY(accessible && accessible->focusChild());
    QCOMPARE(accessible->focusChild()->text(QAccessible::Name), QStringLiteral("r%1c%2").arg(row).arg(current));

    QScrollBar* bar = w.list->verticalScrollBar();
    const QRect viewport = w.list->viewport()->rect();
    if (scroll == "top, half row") {
        const int h = w.list->uniformRowHeight();
        w.list->setFixedHeight(w.list->height() - viewport.height() + 10 * h + h / 2);
        QTRY_COMPARE(w.list->viewport()->height(), 10 * h + h / 2);
        bar->setValue(bar->minimum());
        const QRect cell = w.list->visualRect(w.list->model()->index(row, 1));
        QVERIFY(w.list->viewport()->rect().intersects(cell) && !w.list->viewport()->rect().contains(cell));
    } else if (scroll == "right") {
        // A narrow list scrolled to its right end: the first editable column is out of sight.
        w.resize(260, w.height());
        QScrollBar* across = w.list->horizontalScrollBar();
        QTRY_VERIFY(across->maximum() > 160);
        across->setValue(across->maximum());
        QVERIFY(!w.list->viewport()->rect().intersects(w.list->visualRect(w.list->model()->index(row, 1))));
    } else if (!scroll.isEmpty()) {
        bar->setValue(scroll == "top" ? bar->minimum() : bar->maximum());
        QVERIFY(!viewport.intersects(w.list->visualRect(w.list->model()->index(row, 1))));
    }

    QTest::keyClick(w.list, Qt::Key_F2);
    settle();
    QVERIFY(editOpen());
    QCOMPARE(w.list->currentIndex(), w.list->model()->index(row, column));
    QCOMPARE(w.list->getFirstSelectedItem(), row);
    InPlaceLineEdit* edit = InPlaceLineEdit::getInstance();
    QCOMPARE(edit->Row(), row);
    QCOMPARE(edit->Column(), column);
    QCOMPARE(edit->text(), QStringLiteral("r%1c%2").arg(row).arg(column));
    QCOMPARE(edit->geometry(), w.list->visualRect(w.list->model()->index(row, column)));
    QVERIFY(w.list->viewport()->rect().contains(edit->geometry()));
    QVERIFY(edit->isVisible());
}

// Marks worked out on demand: no row is drawn before its preparer saw it, each row is handed
// over once, and rows far from the view are not asked for.
void TestEditableListView::rowsArePreparedBeforeTheyAreDrawn() {
    EditableListView* list = m_window->list;
    QList<int> handed;
    list->setRowPreparer([&](const QList<int>& rows) {
        for (int row : rows) {
            handed << row;
            list->setCellNote(row, 1, QStringLiteral("p"));
        }
    });
    const auto fill = [&] {
        list->deleteAllItems();
        list->beginFill();
        for (int r = 0; r < 1000; ++r) {
            const QString text = QString::number(r);
            QAnyStringView cells[] = {text, text};
            list->appendItem(cells, 2, r);
        }
        list->endFill();
    };
    fill();
    list->viewport()->grab();
    QVERIFY(handed.contains(0));
    QVERIFY(!handed.contains(999));
    list->scrollToBottom();
    list->viewport()->grab();
    QVERIFY(list->hasCellNote(999, 1));
    const int lastShownTop = list->indexAt(QPoint(1, 1)).row();
    QVERIFY(lastShownTop > EditableListView::kPrepareBlock);
    QVERIFY(list->hasCellNote(lastShownTop, 1));
    QVERIFY(!list->hasCellNote(EditableListView::kPrepareBlock + 1, 1));
    QCOMPARE(QSet<int>(handed.begin(), handed.end()).size(), handed.size());
    // A new fill is prepared anew.
    handed.clear();
    fill();
    list->scrollToTop();
    list->viewport()->grab();
    QVERIFY(handed.contains(0) && list->hasCellNote(0, 1));
}

void TestEditableListView::bulkFillReachesTheViewOnce() {
    EditableListView* list = m_window->list;
    QAbstractItemModel* model = list->model();
    QAbstractItemModelTester tester(model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    list->setItemState(3, EditableListView::LVIS_SELECTED, EditableListView::LVIS_SELECTED);
    list->setItemState(1, EditableListView::LVIS_FOCUSED, EditableListView::LVIS_FOCUSED);
    QSignalSpy inserted(model, &QAbstractItemModel::rowsInserted);
    QSignalSpy changed(model, &QAbstractItemModel::dataChanged);

    list->beginFill();
    list->beginFill(); // nested: only the outer end announces
    for (int r = 5; r < 1005; ++r) {
        QCOMPARE(list->insertItem(r, QStringLiteral("n%1").arg(r)), r);
        list->setItemText(r, 3, QStringLiteral("c3"));
        list->setItemText(r, 1, QStringLiteral("n%1c1").arg(r)); // out of order, after a later cell
        list->setItemData(r, r * 10);
    }
    list->setCheck(7, true);
    list->endFill();
    // The owner sees every row while the view still knows only the old ones.
    QCOMPARE(list->getItemCount(), 1005);
    QCOMPARE(model->rowCount(), 5);
    QCOMPARE(list->getItemText(600, 1), QStringLiteral("n600c1"));
    QCOMPARE(list->getItemText(600, 2), QString());
    QCOMPARE(list->getItemText(600, 3), QStringLiteral("c3"));
    // A change to a row the view already shows is announced at once.
    list->setItemText(0, 2, QStringLiteral("changed"));
    QCOMPARE(changed.size(), 1);
    QCOMPARE(inserted.size(), 0);
    list->endFill();

    QCOMPARE(inserted.size(), 1);
    QCOMPARE(inserted.at(0).at(1).toInt(), 5);
    QCOMPARE(inserted.at(0).at(2).toInt(), 1004);
    QCOMPARE(changed.size(), 1);
    QCOMPARE(model->rowCount(), 1005);
    QCOMPARE(model->index(1004, 0).data().toString(), QStringLiteral("n1004"));
    QCOMPARE(list->getItemData(1004), 10040);
    QCOMPARE(list->getCheck(7), 1);
    QCOMPARE(list->getCheck(8), -1);
    QCOMPARE(list->getFirstSelectedItem(), 3);
    QCOMPARE(list->getItemState(1, EditableListView::LVIS_FOCUSED), EditableListView::LVIS_FOCUSED);
    list->endFill(); // an unmatched end changes nothing
    QCOMPARE(inserted.size(), 1);

    // The new rows are laid out and can be scrolled to.
    QVERIFY(list->ensureVisible(1004));
    QVERIFY(list->viewport()->rect().intersects(list->visualRect(model->index(1004, 0))));
}

void TestEditableListView::bulkFillWithViewOperations() {
    // During a fill, what needs the view (selection, focus, rows in the middle, columns)
    // first hands it the rows added so far, so the model never contradicts it.
    EditableListView* list = m_window->list;
    QAbstractItemModel* model = list->model();
    QAbstractItemModelTester tester(model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    list->deleteAllItems();
    list->beginFill();
    for (int r = 0; r < 10; ++r)
        list->insertItem(r, QStringLiteral("a%1").arg(r));
    list->setItemState(8, EditableListView::LVIS_SELECTED | EditableListView::LVIS_FOCUSED,
                       EditableListView::LVIS_SELECTED | EditableListView::LVIS_FOCUSED);
    QCOMPARE(model->rowCount(), 10);
    for (int r = 10; r < 20; ++r)
        list->insertItem(r, QStringLiteral("a%1").arg(r));
    list->insertItem(0, QStringLiteral("first"));
    QVERIFY(list->deleteItem(15)); // was a14
    list->insertListColumn(7, QStringLiteral("Col 7"));
    list->setItemText(19, 7, QStringLiteral("x"));
    list->endFill();

    QCOMPARE(model->rowCount(), 20);
    QCOMPARE(list->getItemText(0, 0), QStringLiteral("first"));
    QCOMPARE(list->getItemText(15, 0), QStringLiteral("a15"));
    QCOMPARE(list->getItemText(19, 7), QStringLiteral("x"));
    // The selected, focused row moved down with the row put before it.
    QCOMPARE(list->getFirstSelectedItem(), 9);
    QCOMPARE(list->getItemState(9, EditableListView::LVIS_FOCUSED), EditableListView::LVIS_FOCUSED);
    QCOMPARE(model->index(9, 0).data().toString(), QStringLiteral("a8"));
}

void TestEditableListView::refillDropsOpenEdit_data() {
    QTest::addColumn<int>("column");
    QTest::addColumn<bool>("clearFirst"); // the search clears the list, then fills it

    QTest::newRow("edit box, cleared and filled") << 1 << true;
    QTest::newRow("drop-down, cleared and filled") << 6 << true;
    QTest::newRow("edit box, rows added") << 1 << false;
    QTest::newRow("drop-down, rows added") << 6 << false;
}

void TestEditableListView::refillDropsOpenEdit() {
    QFETCH(int, column);
    QFETCH(bool, clearFirst);
    GridWindow& w = *m_window;
    w.comboEntries = {QStringLiteral("Caine"), QStringLiteral("Pisica")};
    w.list->markColumnAsCombo(6, true);
    w.list->setRowTextColor(2, Qt::red);
    w.list->setCheck(2, true);
    w.click(2, column);
    QVERIFY(editOpen() || comboOpen());
    if (column == 1)
        QTest::keyClicks(InPlaceLineEdit::getInstance(), QStringLiteral("typed"));

    if (clearFirst)
        w.list->deleteAllItems();
    w.list->beginFill();
    for (int r = 0; r < 8; ++r)
        w.list->insertItem(w.list->getItemCount(), QStringLiteral("new%1").arg(r));
    w.list->endFill();
    settle();

    // The edit ends without a word: its row is gone or about to move, and nothing typed is stored.
    QVERIFY(!editOpen());
    QVERIFY(!comboOpen());
    QVERIFY2(w.log.filter(QStringLiteral("validate")).isEmpty(), qPrintable(w.log.join('|')));
    QVERIFY(w.list->hasFocus());
    QCOMPARE(w.list->getItemCount(), clearFirst ? 8 : 13);
    QCOMPARE(w.list->getItemText(2, 1), clearFirst ? QString() : QStringLiteral("r2c1"));
    // Rows replaced by a refill start unselected, unchecked and in the plain colour.
    QCOMPARE(w.list->getFirstSelectedItem(), clearFirst ? -1 : 2);
    QCOMPARE(w.list->getCheck(2), clearFirst ? -1 : 1);
    QCOMPARE(w.list->getRowTextColor(2), clearFirst ? w.list->palette().color(QPalette::Text) : QColor(Qt::red));

    // A later edit opens and reports as usual.
    w.click(4, 1);
    QTRY_VERIFY(editOpen());
    QTest::keyClick(InPlaceLineEdit::getInstance(), Qt::Key_Return);
    settle();
    QVERIFY(!editOpen());
    QCOMPARE(w.log.filter(QStringLiteral("validate 4 1")).size(), 1);
}

QTEST_MAIN(TestEditableListView)
#include "tst_editablelistview.moc"
