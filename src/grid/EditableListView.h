#pragma once

#include <QColor>
#include <QStringList>
#include <QTreeView>

#include <cstdint>
#include <functional>
#include <optional>
#include <utility>
#include <vector>

class ListRowModel;

// End-of-label-edit record that an in-place editor hands to the list.
struct CellEditResult {
    QWidget* list = nullptr; // the list itself
    int editorId = 0;        // the editor's control id
    int code = -106;         // LVN_ENDLABELEDIT
    unsigned mask = 1;       // LVIF_TEXT
    int row = -1;            // row
    int column = -1;         // column
    QString text;            // final text
    int textBytes = 0;       // its length in bytes (UTF-8)
};

// A report-style list whose cells are edited in place: a click on a cell of the focused
// row opens the shared edit box or, on a combo column, the shared drop-down list; a cell
// reading "boolean" is drawn as a check box. From the keyboard, Left and Right move the
// current cell along the row, F2 edits it (on a read-only cell, the row's first editable one),
// and Tab or Shift+Tab in an edit stores it and goes on to the next or previous editable cell.
// The owner talks to it through the column-kind operations and the four grid signals.
class EditableListView : public QTreeView {
    Q_OBJECT
public:
    enum { LVCFMT_LEFT = 0 };
    enum { LVSCW_AUTOSIZE = -1, LVSCW_AUTOSIZE_USEHEADER = -2 };
    enum : unsigned { LVS_EX_GRIDLINES = 0x1, LVS_EX_CHECKBOXES = 0x4, LVS_EX_FULLROWSELECT = 0x20 };
    enum : unsigned { LVS_EDITLABELS = 0x200 };
    enum : unsigned { LVIS_FOCUSED = 0x1, LVIS_SELECTED = 0x2, LVIS_CUT = 0x4, LVIS_STATEIMAGEMASK = 0xF000 };

    explicit EditableListView(QWidget* parent = nullptr);
    ~EditableListView() override;

    // The list operations the owner uses.
    int insertListColumn(int column, const QString& heading, int format = LVCFMT_LEFT, int width = -1);
    bool deleteColumn(int column);
    int getColumnCount() const;
    bool setListColumnWidth(int column, int width); // a width or LVSCW_AUTOSIZE[_USEHEADER]
    int getColumnWidth(int column) const;
    // Texts come in any encoding, a UTF-8 view straight from a database read included.
    int insertItem(int row, QAnyStringView text);
    // A row at the end with count cell texts and its item data, in one call.
    int appendItem(const QAnyStringView* texts, int count, qint64 data);
    bool deleteItem(int row);
    bool deleteAllItems();
    int getItemCount() const;
    bool setItemText(int row, int column, QAnyStringView text);
    QString getItemText(int row, int column) const;
    bool setItemData(int row, qint64 data);
    qint64 getItemData(int row) const;
    // Brackets a fill of many rows (calls nest): rows added at the end meanwhile reach the
    // view in one go at EndFill instead of one notice per row and per cell. An edit open
    // in the list is dropped first, as its row is about to change.
    void beginFill();
    void endFill();
    int getFirstSelectedItem() const; // -1 when no row is selected
    bool setItemState(int row, unsigned state, unsigned mask);
    unsigned getItemState(int row, unsigned mask) const;
    void setExtendedStyle(unsigned style);
    unsigned getExtendedStyle() const;
    void setEditLabels(bool on); // the LVS_EDITLABELS window style; on by default
    bool ensureVisible(int row);

    // Column kinds and editor settings.
    void markColumnAsCombo(int column, bool on);
    void markColumnReadOnly(int column, bool on);
    bool isCombo(int column) const;
    bool isReadOnly(int column) const;
    void setAcceptedChars(const QString& chars);
    void setComboHorzScrollBar(bool on);
    void setComboVertScrollBar(bool on);
    void setRowTextColor(int row, const QColor& colour);
    // The row's own colour, else the palette's text colour; a selected row is drawn in the
    // highlighted text colour while the list has the focus.
    QColor getRowTextColor(int row) const;

    // A corrected cell carries a note (who changed it, when, what it was): it is drawn with a
    // corner mark and shows the note as its tool tip. An empty text removes the mark. Notes
    // stay with their rows when rows are inserted or deleted, and go with DeleteAllItems.
    void setCellNote(int row, int column, const QString& toolTip);
    bool hasCellNote(int row, int column) const;
    QString getCellNote(int row, int column) const;

    // Marks that cost a database question (notes, colours) can be worked out only for the rows
    // about to be drawn: before the list draws rows not yet prepared, it hands them to the
    // preparer, each row once, a block of kPrepareBlock rows at a time around those shown. Rows
    // added later are unprepared; prepareRows asks for a range at once (the first rows of a fill).
    static constexpr int kPrepareBlock = 64;
    void setRowPreparer(std::function<void(const QList<int>& rows)> preparer) { m_preparer = std::move(preparer); }
    void prepareRows(int first, int last);

    // Check state of a row: 1 checked, 0 unchecked, -1 never set (drawn as checked).
    int getCheck(int row) const;
    void setCheck(int row, bool checked);

    // How an edit that reports its end was left, which decides where the keyboard goes on.
    enum class EditExit {
        Other,    // focus lost, a click, or an end the list does not follow up
        Enter,    // the cell stays the current one
        next,     // Tab: on to the next editable cell of the row
        Previous, // Shift+Tab: back to the previous one
    };

    // Called by the in-place editors. After the owner has heard of the end, an edit left by a
    // key keeps its row's cell current (the row found again by its item data if the owner filled
    // the list anew), and Tab or Shift+Tab opens the neighbouring editable cell; from the last
    // (first) one, or when the owner put the cell back to another text, the cell stays current
    // and nothing opens.
    void onEndLabelEdit(const CellEditResult& info);
    void onEditorDone(int row, int column, EditExit exit = EditExit::Other);
    // Tab or Shift+Tab left an edit whose text is unchanged: nothing is reported to store (the
    // owner would write the value again over the whole request), and the keyboard goes on.
    void onEditorPassed(int row, int column, EditExit exit);
    // The text (row, column) held before its edit ended, when that was the last edit to end;
    // the owner compares it with the final text so that an untouched cell stores nothing.
    std::optional<QString> textBeforeEdit(int row, int column) const;

    // Whether a click or F2 may open an editor on the column.
    bool isEditableColumn(int column) const;

    // The cell under a point of the viewport: the row (-1 when none) and, through column,
    // the column; a point on the border between two columns belongs to the left one.
    int hitTestCell(const QPoint& point, int* column) const;
    // Opens the editor of a cell as a click would, after scrolling the row entirely into view;
    // false when the column is read-only or nothing could be opened.
    bool editLabel(int row, int column);
    // The control id handed to the owner with gridValidate.
    void setDlgCtrlID(int id) { m_controlId = id; }
    int getDlgCtrlID() const { return m_controlId; }
    // The row under the pointer at the last right click, -1 when that click was on empty space
    // or the rows have all been deleted since. Set before listRightClicked() is emitted; that row
    // is then the focused row and is selected (with the rest of a selection it belongs to).
    int getContextItem() const { return m_contextItem; }
    // Height of one row in pixels (0 while the list is empty).
    int uniformRowHeight() const;
    // The rectangle last handed to the drop-down list, its drop-down part included.
    QRect comboDropRect() const { return m_comboRect; }
    unsigned editStyle() const { return m_editStyle; }
    unsigned comboStyle() const { return m_comboStyle; }

signals:
    void gridCheckToggled(int row, int column);
    void gridEditDone(int row, int column);
    // Emitted with a direct connection just before the drop-down opens: append the entries.
    void gridFillCombo(int column, QStringList* entries);
    void gridValidate(int controlId, const CellEditResult* info);
    void listDoubleClicked(); // NM_DBLCLK
    void listRightClicked();  // NM_RCLICK

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    bool viewportEvent(QEvent* event) override;

private:
    friend class CellPainter;
    QRect rowBounds(int row) const;
    QRect editorRect(int row, int column);
    bool startCombo(int row, int column, const QStringList& entries, const QString& text);
    bool startEditBox(int row, int column, const QString& text);
    bool openEditor(int row, int column, const QString& text);
    // The next editable, shown column after (step 1) or before (step -1) column; -1 when none.
    int neighbourEditableColumn(int column, int step) const;
    // The row holding data after a refill: row itself when it still does, else the first such row.
    int findRowAgain(int row, qint64 data) const;
    void setCurrentCell(int row, int column);
    // What follows the end of an edit: the owner hears of it when store, then the keyboard goes on.
    void finishEdit(int row, int column, EditExit exit, bool store);
    void moveCurrentColumn(int step);
    int autoWidth(int column, bool useHeader) const;
    void takeFocusForScroll();
    void rightPress(QMouseEvent* event);
    void dropOpenEdit();

    ListRowModel* m_model;
    QList<int> m_comboColumns;
    QList<int> m_readOnlyColumns;
    QString m_acceptedChars;
    unsigned m_editStyle = 0x008201C0;
    unsigned m_comboStyle = 0x508008C3;
    // Colours by row index, in the order they were first set; entries are not renumbered
    // when rows come or go.
    std::vector<std::pair<int, QColor>> m_rowColours;
    unsigned m_extendedStyle = 0;
    bool m_editLabels = true;
    bool m_inDoubleClick = false;
    bool m_rightPressed = false;
    int m_contextItem = -1;
    int m_controlId = 0;
    QRect m_comboRect;
    int m_endedRow = -1; // the cell of the last edit that ended, and its text before
    int m_endedColumn = -1;
    QString m_textBeforeEdit;
    std::function<void(const QList<int>& rows)> m_preparer;
};
