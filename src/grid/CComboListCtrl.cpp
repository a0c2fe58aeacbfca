#include "CComboListCtrl.h"

#include "CInPlaceCombo.h"
#include "CInPlaceEdit.h"
#include "CListRowModel.h"

#include <QApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>
#include <QScrollBar>
#include <QStyle>
#include <QStyledItemDelegate>
#include <QToolTip>

#include <algorithm>
#include <vector>

namespace {
const QString kBoolean = QStringLiteral("boolean");
constexpr unsigned WS_HSCROLL = 0x00100000;
constexpr unsigned WS_VSCROLL = 0x00200000;
constexpr int kTextPadding = 6; // on each side of a cell's text
constexpr int kNoteMark = 6;    // side of the corner triangle of a cell with a note
} // namespace

// Draws every cell: the background by selection and focus, the text in the row's colour (the
// palette's text colour for a row without one, its highlighted text colour on the focused
// highlight), and cells reading "boolean" as a check box showing the row's check state.
class CCellPainter : public QStyledItemDelegate {
public:
    explicit CCellPainter(CComboListCtrl* list) : QStyledItemDelegate(list), m_list(list) {}

    // Cells are drawn 1 pixel in from the top and bottom: a row only as tall as the font
    // would cut the descenders (g, y, ș) of every text.
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        QSize size = QStyledItemDelegate::sizeHint(option, index);
        size.setHeight(std::max(size.height(), option.fontMetrics.height() + 4));
        return size;
    }

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        const int row = index.row();
        const QString text = index.data(Qt::DisplayRole).toString();
        const QPalette& palette = m_list->palette();
        const bool selected = m_list->GetItemState(row, CComboListCtrl::LVIS_SELECTED) != 0;
        const bool focused = m_list->hasFocus();
        const QColor background = !selected ? palette.color(QPalette::Base)
                                  : focused ? palette.color(QPalette::Highlight)
                                            : palette.color(QPalette::Button);
        painter->save();
        painter->setRenderHint(QPainter::Antialiasing, false);
        const QRect cell = option.rect;
        // The list's viewport is already filled with the base colour under every row.
        if (selected || !m_list->viewport()->autoFillBackground() ||
            m_list->viewport()->backgroundRole() != QPalette::Base)
            painter->fillRect(cell, background);

        // Edges as exclusive coordinates, shrunk by 2 pixels left and right, 1 top and bottom.
        const int left = cell.left() + 2;
        const int top = cell.top() + 1;
        const int right = cell.left() + cell.width() - 2;
        const int bottom = cell.top() + cell.height() - 1;
        if (text == kBoolean) {
            const int h = bottom - top;
            int boxLeft = left + (right - left) / 2 - h / 2 - 1;
            const int boxRight = boxLeft + h + 1;
            painter->fillRect(QRect(boxLeft, top, boxRight - boxLeft, h), palette.color(QPalette::Base));
            ++boxLeft;
            painter->setPen(QPen(palette.color(QPalette::WindowText), 1));
            painter->drawRect(QRect(boxLeft, top, boxRight - boxLeft - 1, h - 1));
            if (m_list->GetCheck(row) != 0) {
                // The box is filled with the base colour, so the mark takes the text colour that
                // goes with it: black in a light theme, light in a dark one.
                painter->setPen(QPen(palette.color(QPalette::Text), 1));
                int x = boxLeft + 9;
                int y = top + 3;
                for (int i = 0; i < 4; ++i, --x, ++y)
                    painter->drawLine(x, y, x, y + 2);
                for (int i = 0; i < 3; ++i, --x, --y)
                    painter->drawLine(x, y, x, y + 2);
            }
        } else if (!text.isEmpty()) {
            const QColor colour =
                selected && focused ? palette.color(QPalette::HighlightedText) : m_list->GetRowTextColor(row);
            const QRect textRect(left + kTextPadding - 2, top, right - left - 2 * (kTextPadding - 2), bottom - top);
            const auto alignment = index.data(Qt::TextAlignmentRole).value<Qt::Alignment>();
            painter->setPen(colour);
            painter->setFont(option.font);
            // Most texts fit their column, which is sized to its widest text: those are drawn
            // without first being laid out again to cut them.
            const bool fits = SurelyFits(text, option, textRect.width());
            painter->drawText(textRect, int(alignment | Qt::AlignVCenter) | Qt::TextSingleLine,
                              fits ? text : option.fontMetrics.elidedText(text, Qt::ElideRight, textRect.width()));
        }
        if (focused && index == m_list->currentIndex()) {
            // The current cell, the one F2 edits, is framed in the colour of the text it holds.
            const QColor frame = selected ? palette.color(QPalette::HighlightedText) : m_list->GetRowTextColor(row);
            painter->setPen(QPen(frame, 1));
            painter->setBrush(Qt::NoBrush);
            painter->drawRect(QRect(cell.left() + 1, cell.top(), cell.width() - 3, cell.height() - 2));
        }
        if (m_list->HasCellNote(row, index.column())) {
            // Drawn over the text's end, so a long text never hides it. Highlight stands out
            // on the base and button colours of any theme, highlighted text on the highlight.
            const QColor mark =
                selected && focused ? palette.color(QPalette::HighlightedText) : palette.color(QPalette::Highlight);
            const int side = std::min(kNoteMark, cell.height() / 2);
            const int x = cell.right() - ((m_list->GetExtendedStyle() & CComboListCtrl::LVS_EX_GRIDLINES) ? 1 : 0);
            const int y = cell.top();
            const QPoint corner[] = {{x - side + 1, y}, {x, y}, {x, y + side - 1}};
            painter->setPen(mark);
            painter->setBrush(mark);
            painter->drawPolygon(corner, 3);
        }
        if (m_list->GetExtendedStyle() & CComboListCtrl::LVS_EX_GRIDLINES) {
            painter->setPen(palette.color(QPalette::Midlight));
            painter->drawLine(cell.right(), cell.top(), cell.right(), cell.bottom());
            painter->drawLine(cell.left(), cell.bottom(), cell.right(), cell.bottom());
        }
        painter->restore();
    }

private:
    // Whether the text is clearly narrower than width: the sum of its characters' advances,
    // with room for kerning, is compared; texts of other characters are never said to fit.
    bool SurelyFits(const QString& text, const QStyleOptionViewItem& option, int width) const {
        if (m_advances.empty() || option.font != m_font) {
            m_font = option.font;
            m_advances.assign(kCachedAdvances, -1);
        }
        int sum = 0;
        for (const QChar c : text) {
            if (c.unicode() >= kCachedAdvances)
                return false;
            int& advance = m_advances[c.unicode()];
            if (advance < 0)
                advance = option.fontMetrics.horizontalAdvance(c);
            sum += advance;
        }
        return sum + sum / 10 + 4 <= width;
    }

    static constexpr char16_t kCachedAdvances = 0x0250;
    CComboListCtrl* m_list;
    mutable QFont m_font;
    mutable std::vector<int> m_advances;
};

CComboListCtrl::CComboListCtrl(QWidget* parent) : QTreeView(parent), m_model(new CListRowModel(this)) {
    setModel(m_model);
    setItemDelegate(new CCellPainter(this));
    setRootIsDecorated(false);
    setItemsExpandable(false);
    setExpandsOnDoubleClick(false);
    setAllColumnsShowFocus(true);
    setUniformRowHeights(true);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setDragEnabled(false);
    setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    header()->setSectionsMovable(false);
    header()->setStretchLastSection(false);
    header()->setMinimumSectionSize(0);
    header()->setSectionResizeMode(QHeaderView::Interactive);
    // The list takes the focus itself in its click handling, after it has found the cell
    // under the pointer, so that an open editor ends at that moment.
    setFocusPolicy(Qt::TabFocus);

    // Scrolling with the scroll bars ends an open edit, as a loss of focus does.
    connect(horizontalScrollBar(), &QScrollBar::actionTriggered, this, [this](int) { TakeFocusForScroll(); });
    connect(verticalScrollBar(), &QScrollBar::actionTriggered, this, [this](int) { TakeFocusForScroll(); });
}

CComboListCtrl::~CComboListCtrl() {
    CInPlaceCombo::DeleteInstance();
    CInPlaceEdit::DeleteInstance();
}

void CComboListCtrl::TakeFocusForScroll() {
    if (!hasFocus())
        setFocus(Qt::OtherFocusReason);
}

int CComboListCtrl::InsertColumn(int column, const QString& heading, int format, int width) {
    const int at = m_model->InsertColumn(column, heading, format);
    if (at >= 0)
        header()->resizeSection(at, width >= 0 ? width : header()->defaultSectionSize());
    return at;
}

bool CComboListCtrl::DeleteColumn(int column) {
    return m_model->DeleteColumn(column);
}

int CComboListCtrl::GetColumnCount() const {
    return header()->count();
}

int CComboListCtrl::AutoWidth(int column, bool useHeader) const {
    int width = m_model->WidestText(column, fontMetrics()) + 2 * kTextPadding + 1;
    if (useHeader) {
        const int margin =
            std::max(kTextPadding, header()->style()->pixelMetric(QStyle::PM_HeaderMargin, nullptr, header()));
        width = std::max(width, header()->fontMetrics().horizontalAdvance(m_model->Heading(column)) + 2 * margin + 1);
    }
    return width;
}

bool CComboListCtrl::SetColumnWidth(int column, int width) {
    if (column < 0 || column >= GetColumnCount())
        return false;
    if (width == LVSCW_AUTOSIZE || width == LVSCW_AUTOSIZE_USEHEADER)
        width = AutoWidth(column, width == LVSCW_AUTOSIZE_USEHEADER);
    if (width < 0)
        return false;
    header()->resizeSection(column, width);
    return true;
}

int CComboListCtrl::GetColumnWidth(int column) const {
    if (column < 0 || column >= GetColumnCount())
        return 0;
    return header()->sectionSize(column);
}

int CComboListCtrl::InsertItem(int row, QAnyStringView text) {
    return m_model->InsertRow(row, text);
}

int CComboListCtrl::AppendItem(const QAnyStringView* texts, int count, qint64 data) {
    return m_model->AppendRow(texts, count, data);
}

bool CComboListCtrl::DeleteItem(int row) {
    if (!m_model->DeleteRow(row))
        return false;
    // Only the deleted row's entry goes; the others keep their row numbers.
    auto it = std::find_if(m_rowColours.begin(), m_rowColours.end(), [row](const auto& e) { return e.first == row; });
    if (it != m_rowColours.end())
        m_rowColours.erase(it);
    return true;
}

bool CComboListCtrl::DeleteAllItems() {
    // The row under an open editor goes away: nothing it could store has a row to go to.
    DropOpenEdit();
    m_contextItem = -1;
    const int count = GetItemCount();
    m_model->DeleteAll();
    m_rowColours.erase(std::remove_if(m_rowColours.begin(), m_rowColours.end(),
                                      [count](const auto& e) { return e.first >= 0 && e.first < count; }),
                       m_rowColours.end());
    return true;
}

int CComboListCtrl::GetItemCount() const {
    return m_model->RowTotal();
}

void CComboListCtrl::BeginFill() {
    if (!m_model->Filling())
        DropOpenEdit();
    m_model->BeginFill();
}

void CComboListCtrl::EndFill() {
    m_model->EndFill();
}

void CComboListCtrl::DropOpenEdit() {
    if (CInPlaceEdit::HasInstance() && CInPlaceEdit::GetInstance()->List() == this)
        CInPlaceEdit::GetInstance()->DropEdit();
    if (CInPlaceCombo::HasInstance() && CInPlaceCombo::GetInstance()->List() == this)
        CInPlaceCombo::GetInstance()->DropEdit();
}

bool CComboListCtrl::SetItemText(int row, int column, QAnyStringView text) {
    return m_model->SetText(row, column, text);
}

QString CComboListCtrl::GetItemText(int row, int column) const {
    return m_model->Text(row, column);
}

bool CComboListCtrl::SetItemData(int row, qint64 data) {
    return m_model->SetRowData(row, data);
}

qint64 CComboListCtrl::GetItemData(int row) const {
    return m_model->RowData(row);
}

int CComboListCtrl::GetFirstSelectedItem() const {
    int first = -1;
    for (const QItemSelectionRange& range : selectionModel()->selection()) {
        if (range.isValid() && (first < 0 || range.top() < first))
            first = range.top();
    }
    return first;
}

bool CComboListCtrl::SetItemState(int row, unsigned state, unsigned mask) {
    if (row < 0 || row >= GetItemCount())
        return false;
    // Selection and focus live in the view, which must know the row first.
    if (mask & (LVIS_SELECTED | LVIS_FOCUSED))
        m_model->Publish();
    const QModelIndex index = m_model->index(row, 0);
    if (mask & LVIS_SELECTED) {
        const auto command = (state & LVIS_SELECTED) ? QItemSelectionModel::Select : QItemSelectionModel::Deselect;
        selectionModel()->select(index, command | QItemSelectionModel::Rows);
    }
    if (mask & LVIS_FOCUSED) {
        if (state & LVIS_FOCUSED)
            selectionModel()->setCurrentIndex(index, QItemSelectionModel::NoUpdate);
        else if (currentIndex().row() == row)
            selectionModel()->setCurrentIndex(QModelIndex(), QItemSelectionModel::NoUpdate);
    }
    if (mask & LVIS_STATEIMAGEMASK) {
        const unsigned old = m_model->StateImage(row);
        m_model->SetStateImage(row, (old & ~mask) | (state & mask));
    }
    return true;
}

unsigned CComboListCtrl::GetItemState(int row, unsigned mask) const {
    if (row < 0 || row >= GetItemCount())
        return 0;
    unsigned state = m_model->StateImage(row);
    if (currentIndex().isValid() && currentIndex().row() == row)
        state |= LVIS_FOCUSED;
    if (selectionModel()->isSelected(m_model->index(row, 0)))
        state |= LVIS_SELECTED;
    return state & mask;
}

void CComboListCtrl::SetExtendedStyle(unsigned style) {
    m_extendedStyle = style;
    viewport()->update();
}

unsigned CComboListCtrl::GetExtendedStyle() const {
    return m_extendedStyle;
}

void CComboListCtrl::SetEditLabels(bool on) {
    m_editLabels = on;
}

bool CComboListCtrl::EnsureVisible(int row) {
    if (row < 0 || row >= GetItemCount())
        return false;
    m_model->Publish();
    const QRect rect = visualRect(m_model->index(row, 0));
    if (rect.isValid() && rect.bottom() >= 0 && rect.top() < viewport()->height())
        return true;
    // Only the vertical position changes; the columns stay where the user scrolled them.
    const int horizontal = horizontalScrollBar()->value();
    scrollTo(m_model->index(row, 0));
    horizontalScrollBar()->setValue(horizontal);
    return true;
}

void CComboListCtrl::MarkColumnAsCombo(int column, bool on) {
    if (on && !m_comboColumns.contains(column))
        m_comboColumns.append(column);
    else if (!on)
        m_comboColumns.removeOne(column);
}

void CComboListCtrl::MarkColumnReadOnly(int column, bool on) {
    if (on && !m_readOnlyColumns.contains(column))
        m_readOnlyColumns.append(column);
    else if (!on)
        m_readOnlyColumns.removeOne(column);
}

bool CComboListCtrl::IsCombo(int column) const {
    return m_comboColumns.contains(column);
}

bool CComboListCtrl::IsReadOnly(int column) const {
    return m_readOnlyColumns.contains(column);
}

void CComboListCtrl::SetAcceptedChars(const QString& chars) {
    m_acceptedChars = chars;
}

void CComboListCtrl::SetComboHorzScrollBar(bool on) {
    m_comboStyle = on ? (m_comboStyle | WS_HSCROLL) : (m_comboStyle & ~WS_HSCROLL);
}

void CComboListCtrl::SetComboVertScrollBar(bool on) {
    m_comboStyle = on ? (m_comboStyle | WS_VSCROLL) : (m_comboStyle & ~WS_VSCROLL);
}

void CComboListCtrl::SetRowTextColor(int row, const QColor& colour) {
    auto it = std::find_if(m_rowColours.begin(), m_rowColours.end(), [row](const auto& e) { return e.first == row; });
    if (it != m_rowColours.end())
        it->second = colour;
    else
        m_rowColours.emplace_back(row, colour);
    viewport()->update();
}

QColor CComboListCtrl::GetRowTextColor(int row) const {
    for (const auto& entry : m_rowColours) {
        if (entry.first == row)
            return entry.second;
    }
    // A row without a colour of its own is drawn like any text of the theme.
    return palette().color(QPalette::Text);
}

void CComboListCtrl::SetCellNote(int row, int column, const QString& toolTip) {
    m_model->SetNote(row, column, toolTip);
}

bool CComboListCtrl::HasCellNote(int row, int column) const {
    return m_model->HasNote(row, column);
}

QString CComboListCtrl::GetCellNote(int row, int column) const {
    return m_model->Note(row, column);
}

int CComboListCtrl::GetCheck(int row) const {
    return static_cast<int>(GetItemState(row, LVIS_STATEIMAGEMASK) >> 12) - 1;
}

void CComboListCtrl::SetCheck(int row, bool checked) {
    SetItemState(row, (checked ? 2u : 1u) << 12, LVIS_STATEIMAGEMASK);
}

void CComboListCtrl::OnEndLabelEdit(const NMLVDISPINFO& info) {
    SetItemText(info.iItem, info.iSubItem, info.pszText);
    emit gridValidate(m_controlId, &info);
}

void CComboListCtrl::OnEditorDone(int row, int column, EditExit exit) {
    FinishEdit(row, column, exit, true);
}

void CComboListCtrl::OnEditorPassed(int row, int column, EditExit exit) {
    FinishEdit(row, column, exit, false);
}

void CComboListCtrl::FinishEdit(int row, int column, EditExit exit, bool store) {
    const bool known = row >= 0 && row < GetItemCount();
    const qint64 data = known ? GetItemData(row) : 0;
    const QString ended = known ? GetItemText(row, column) : QString();
    const QPointer<CComboListCtrl> self(this);
    if (store)
        emit gridEditDone(row, column);
    if (!self || exit == EditExit::Other || !known)
        return;
    // The owner may have stored the edit and filled the list anew: the row is looked for again,
    // and when it is gone the keyboard does not go on in some other record.
    const int found = FindRowAgain(row, data);
    if (found < 0)
        return;
    int target = column;
    // A cell the owner put back to another text was refused: the keyboard stays on it, so the
    // user reads the owner's message and tries again, rather than going on past it.
    const bool kept = GetItemText(found, column) == ended;
    if (kept && (exit == EditExit::Next || exit == EditExit::Previous)) {
        const int neighbour = NeighbourEditableColumn(column, exit == EditExit::Next ? 1 : -1);
        if (neighbour >= 0)
            target = neighbour;
    }
    SetCurrentCell(found, target);
    if (target == column)
        return;
    // Opened once the ending editor has let the focus go entirely; only while the list still
    // has it, so that a window the owner opened meanwhile, or a click, is never overridden.
    QMetaObject::invokeMethod(
        this,
        [self, found, target, data]() {
            if (self && self->hasFocus() && self->FindRowAgain(found, data) == found &&
                self->currentIndex().row() == found && self->currentIndex().column() == target)
                self->EditLabel(found, target);
        },
        Qt::QueuedConnection);
}

bool CComboListCtrl::IsEditableColumn(int column) const {
    return column >= 0 && column < GetColumnCount() && (IsCombo(column) || !IsReadOnly(column));
}

int CComboListCtrl::NeighbourEditableColumn(int column, int step) const {
    for (int c = column + step; c >= 0 && c < GetColumnCount(); c += step) {
        if (IsEditableColumn(c) && !isColumnHidden(c) && GetColumnWidth(c) > 0)
            return c;
    }
    return -1;
}

int CComboListCtrl::FindRowAgain(int row, qint64 data) const {
    if (row >= 0 && row < GetItemCount() && GetItemData(row) == data)
        return row;
    for (int r = 0; r < GetItemCount(); ++r) {
        if (GetItemData(r) == data)
            return r;
    }
    return -1;
}

void CComboListCtrl::SetCurrentCell(int row, int column) {
    m_model->Publish();
    const QModelIndex index = m_model->index(row, column);
    if (!index.isValid())
        return;
    // Moving along the row keeps the selection as it is; a row found again after a refill,
    // which left nothing selected, is selected as a click would.
    const bool sameRow = currentIndex().isValid() && currentIndex().row() == row;
    selectionModel()->setCurrentIndex(index, sameRow ? QItemSelectionModel::NoUpdate
                                                     : QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    scrollTo(index);
    viewport()->update();
}

void CComboListCtrl::MoveCurrentColumn(int step) {
    const QModelIndex current = currentIndex();
    if (!current.isValid())
        return;
    // Every shown column can be current, the read-only ones included: a screen reader reads
    // them, and F2 tells the user by a beep that they cannot be edited.
    for (int c = current.column() + step; c >= 0 && c < GetColumnCount(); c += step) {
        if (!isColumnHidden(c) && GetColumnWidth(c) > 0) {
            SetCurrentCell(current.row(), c);
            return;
        }
    }
}

int CComboListCtrl::RowHeight() const {
    if (m_model->rowCount() == 0)
        return 0;
    return rowHeight(m_model->index(0, 0));
}

QRect CComboListCtrl::RowBounds(int row) const {
    const QRect first = visualRect(m_model->index(row, 0));
    if (!first.isValid())
        return {};
    return QRect(-header()->offset(), first.top(), header()->length(), first.height());
}

int CComboListCtrl::HitTestCell(const QPoint& point, int* column) const {
    if (column)
        *column = 0;
    const QRect bounds(-header()->offset(), 0, header()->length(), viewport()->height());
    if (GetColumnCount() == 0 || point.x() < bounds.left() || point.x() > bounds.right())
        return -1;
    const QModelIndex index = indexAt(point);
    if (!index.isValid())
        return -1;
    const int row = index.row();
    const QRect rowRect = RowBounds(row);
    if (!column || !rowRect.contains(point))
        return row;
    // Both ends inclusive: the border pixel between two columns belongs to the left one.
    int left = rowRect.left();
    const int count = GetColumnCount();
    *column = count;
    for (int c = 0; c < count; ++c) {
        const int width = header()->sectionSize(c);
        if (left <= point.x() && point.x() <= left + width) {
            *column = c;
            break;
        }
        left += width;
    }
    return row;
}

QRect CComboListCtrl::EditorRect(int row, int column) {
    const QRect rowRect = RowBounds(row);
    int offset = 0;
    for (int c = 0; c < column && c < GetColumnCount(); ++c)
        offset += header()->sectionSize(c);
    const int width = GetColumnWidth(column);
    const int x = rowRect.left() + offset;
    const int clientRight = viewport()->width();
    int dx = 0;
    if (x < 0 || x > clientRight)
        dx = x;
    else if (x + width > clientRight)
        dx = x + width - clientRight;
    QScrollBar* bar = horizontalScrollBar();
    const int before = bar->value();
    bar->setValue(before + dx);
    // Placed by the distance actually scrolled, so the editor always covers its own cell.
    const int scrolled = bar->value() - before;
    return QRect(rowRect.left() - scrolled + offset, rowRect.top(), width, rowRect.height());
}

bool CComboListCtrl::StartCombo(int row, int column, const QStringList& entries, const QString& text) {
    if (!EnsureVisible(row))
        return false;
    if (column < 0 || column >= GetColumnCount() || GetColumnWidth(column) < 10)
        return false;
    QRect rect = EditorRect(row, column);
    const int h = rect.height();
    const int n = static_cast<int>(entries.size());
    const int lines = n < 10 ? n + 10 : 11;
    rect.setHeight(h + h * lines);
    m_comboRect = rect;
    return CInPlaceCombo::GetInstance()->StartCellEdit(m_comboStyle, rect, this, 0, row, column, entries, text);
}

bool CComboListCtrl::StartEditBox(int row, int column, const QString& text) {
    const QRect rect = EditorRect(row, column);
    return CInPlaceEdit::GetInstance()->StartCellEdit(m_editStyle, rect, this, 0, row, column, m_acceptedChars, text);
}

bool CComboListCtrl::OpenEditor(int row, int column, const QString& text) {
    m_model->Publish(); // the editor is placed over the row as the view lays it out
    if (IsCombo(column)) {
        QStringList entries;
        emit gridFillCombo(column, &entries);
        if (!StartCombo(row, column, entries, text))
            return false;
        CInPlaceCombo::GetInstance()->SelectString(text);
        return true;
    }
    if (IsReadOnly(column))
        return false;
    return StartEditBox(row, column, text);
}

bool CComboListCtrl::EditLabel(int row, int column) {
    if (row < 0 || row >= GetItemCount() || column < 0 || column >= GetColumnCount() || !m_editLabels)
        return false;
    if (IsReadOnly(column) && !IsCombo(column))
        return false;
    // A request from the keyboard may come for a row scrolled out of sight; the whole row is
    // brought into view first, so the editor lies over it and not outside the list.
    m_model->Publish();
    const int horizontal = horizontalScrollBar()->value();
    scrollTo(m_model->index(row, 0), QAbstractItemView::EnsureVisible);
    horizontalScrollBar()->setValue(horizontal);
    return OpenEditor(row, column, GetItemText(row, column));
}

void CComboListCtrl::RightPress(QMouseEvent* event) {
    const int row = HitTestCell(event->position().toPoint(), nullptr);
    QTreeView::mousePressEvent(event);
    m_rightPressed = true;
    m_contextItem = row;
    if (row < 0)
        return;
    // The owner acts on the clicked row: it becomes the focused row, and the selection is kept
    // when it holds that row (so the whole selection is meant), else the row is selected alone.
    const QModelIndex index = m_model->index(row, 0);
    if (selectionModel()->isSelected(index))
        selectionModel()->setCurrentIndex(index, QItemSelectionModel::NoUpdate);
    else
        selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
}

void CComboListCtrl::mousePressEvent(QMouseEvent* event) {
    if (m_inDoubleClick || event->button() != Qt::LeftButton) {
        if (!hasFocus())
            setFocus(Qt::MouseFocusReason);
        if (event->button() == Qt::RightButton) {
            RightPress(event);
            return;
        }
        m_rightPressed = false;
        QTreeView::mousePressEvent(event);
        return;
    }
    int column = 0;
    const int row = HitTestCell(event->position().toPoint(), &column);
    // Taking the focus ends an open editor before the new one may start.
    if (!hasFocus())
        setFocus(Qt::MouseFocusReason);
    QTreeView::mousePressEvent(event);
    if (event->modifiers() & (Qt::ShiftModifier | Qt::ControlModifier))
        return;
    if (row < 0)
        return;

    const int check = GetCheck(row);
    if (GetItemText(row, column) == kBoolean) {
        SetCheck(row, check == 0);
        emit gridCheckToggled(row, column);
    }
    const QString text = GetItemText(row, column);
    if (!(GetItemState(row, LVIS_FOCUSED) & LVIS_FOCUSED) || !m_editLabels)
        return;
    OpenEditor(row, column, text);
}

void CComboListCtrl::mouseReleaseEvent(QMouseEvent* event) {
    QTreeView::mouseReleaseEvent(event);
    if (event->button() == Qt::RightButton && m_rightPressed) {
        m_rightPressed = false;
        emit listRightClicked();
    }
}

void CComboListCtrl::mouseDoubleClickEvent(QMouseEvent* event) {
    if (!hasFocus())
        setFocus(Qt::MouseFocusReason);
    // The second press of a double click gets the list's own handling only.
    m_inDoubleClick = true;
    QTreeView::mouseDoubleClickEvent(event);
    m_inDoubleClick = false;
    if (event->button() == Qt::LeftButton)
        emit listDoubleClicked();
}

void CComboListCtrl::keyPressEvent(QKeyEvent* event) {
    const Qt::KeyboardModifiers modifiers = event->modifiers() & ~Qt::KeypadModifier;
    // F2 edits the current cell; a cell that cannot be edited only answers with a beep.
    if (event->key() == Qt::Key_F2 && modifiers == Qt::NoModifier) {
        const QModelIndex current = currentIndex();
        if (current.isValid() && (!IsEditableColumn(current.column()) || !EditLabel(current.row(), current.column())))
            QApplication::beep();
        event->accept();
        return;
    }
    // Left and Right move the current cell along the row (mirrored in a right-to-left layout).
    if ((event->key() == Qt::Key_Left || event->key() == Qt::Key_Right) && modifiers == Qt::NoModifier &&
        currentIndex().isValid()) {
        const bool forward = (event->key() == Qt::Key_Right) != isRightToLeft();
        MoveCurrentColumn(forward ? 1 : -1);
        event->accept();
        return;
    }
    QTreeView::keyPressEvent(event);
}

void CComboListCtrl::focusInEvent(QFocusEvent* event) {
    QTreeView::focusInEvent(event);
    viewport()->update();
}

void CComboListCtrl::focusOutEvent(QFocusEvent* event) {
    QTreeView::focusOutEvent(event);
    viewport()->update();
}

bool CComboListCtrl::viewportEvent(QEvent* event) {
    if (event->type() != QEvent::ToolTip)
        return QTreeView::viewportEvent(event);
    // The cell is found as a click finds it, so the note shown is that of the cell a click
    // would edit.
    const auto* help = static_cast<QHelpEvent*>(event);
    int column = 0;
    const int row = HitTestCell(help->pos(), &column);
    const QModelIndex index = row >= 0 ? m_model->index(row, column) : QModelIndex();
    const QString tip = index.isValid() ? index.data(Qt::ToolTipRole).toString() : QString();
    if (tip.isEmpty()) {
        QToolTip::hideText();
        event->ignore();
        return true;
    }
    QToolTip::showText(help->globalPos(), tip, viewport(), visualRect(index));
    return true;
}
