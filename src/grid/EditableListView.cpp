#include "EditableListView.h"

#include "InPlaceComboBox.h"
#include "InPlaceLineEdit.h"
#include "ListRowModel.h"

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
class CellPainter : public QStyledItemDelegate {
public:
    explicit CellPainter(EditableListView* list) : QStyledItemDelegate(list), m_list(list) {}

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
        const bool selected = m_list->getItemState(row, EditableListView::LVIS_SELECTED) != 0;
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
            if (m_list->getCheck(row) != 0) {
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
                selected && focused ? palette.color(QPalette::HighlightedText) : m_list->getRowTextColor(row);
            const QRect textRect(left + kTextPadding - 2, top, right - left - 2 * (kTextPadding - 2), bottom - top);
            const auto alignment = index.data(Qt::TextAlignmentRole).value<Qt::Alignment>();
            painter->setPen(colour);
            painter->setFont(option.font);
            // Most texts fit their column, which is sized to its widest text: those are drawn
            // without first being laid out again to cut them.
            const bool fits = surelyFits(text, option, textRect.width());
            painter->drawText(textRect, int(alignment | Qt::AlignVCenter) | Qt::TextSingleLine,
                              fits ? text : option.fontMetrics.elidedText(text, Qt::ElideRight, textRect.width()));
        }
        if (focused && index == m_list->currentIndex()) {
            // The current cell, the one F2 edits, is framed in the colour of the text it holds.
            const QColor frame = selected ? palette.color(QPalette::HighlightedText) : m_list->getRowTextColor(row);
            painter->setPen(QPen(frame, 1));
            painter->setBrush(Qt::NoBrush);
            painter->drawRect(QRect(cell.left() + 1, cell.top(), cell.width() - 3, cell.height() - 2));
        }
        if (m_list->hasCellNote(row, index.column())) {
            // Drawn over the text's end, so a long text never hides it. Highlight stands out
            // on the base and button colours of any theme, highlighted text on the highlight.
            const QColor mark =
                selected && focused ? palette.color(QPalette::HighlightedText) : palette.color(QPalette::Highlight);
            const int side = std::min(kNoteMark, cell.height() / 2);
            const int x = cell.right() - ((m_list->getExtendedStyle() & EditableListView::LVS_EX_GRIDLINES) ? 1 : 0);
            const int y = cell.top();
            const QPoint corner[] = {{x - side + 1, y}, {x, y}, {x, y + side - 1}};
            painter->setPen(mark);
            painter->setBrush(mark);
            painter->drawPolygon(corner, 3);
        }
        if (m_list->getExtendedStyle() & EditableListView::LVS_EX_GRIDLINES) {
            painter->setPen(palette.color(QPalette::Midlight));
            painter->drawLine(cell.right(), cell.top(), cell.right(), cell.bottom());
            painter->drawLine(cell.left(), cell.bottom(), cell.right(), cell.bottom());
        }
        painter->restore();
    }

private:
    // Whether the text is clearly narrower than width: the sum of its characters' advances,
    // with room for kerning, is compared; texts of other characters are never said to fit.
    bool surelyFits(const QString& text, const QStyleOptionViewItem& option, int width) const {
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
    EditableListView* m_list;
    mutable QFont m_font;
    mutable std::vector<int> m_advances;
};

EditableListView::EditableListView(QWidget* parent) : QTreeView(parent), m_model(new ListRowModel(this)) {
    setModel(m_model);
    setItemDelegate(new CellPainter(this));
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
    connect(horizontalScrollBar(), &QScrollBar::actionTriggered, this, [this](int) { takeFocusForScroll(); });
    connect(verticalScrollBar(), &QScrollBar::actionTriggered, this, [this](int) { takeFocusForScroll(); });
}

EditableListView::~EditableListView() {
    InPlaceComboBox::deleteInstance();
    InPlaceLineEdit::deleteInstance();
}

void EditableListView::takeFocusForScroll() {
    if (!hasFocus())
        setFocus(Qt::OtherFocusReason);
}

int EditableListView::insertListColumn(int column, const QString& heading, int format, int width) {
    const int at = m_model->insertListColumn(column, heading, format);
    if (at >= 0)
        header()->resizeSection(at, width >= 0 ? width : header()->defaultSectionSize());
    return at;
}

bool EditableListView::deleteColumn(int column) {
    return m_model->deleteColumn(column);
}

int EditableListView::getColumnCount() const {
    return header()->count();
}

int EditableListView::autoWidth(int column, bool useHeader) const {
    int width = m_model->widestText(column, fontMetrics()) + 2 * kTextPadding + 1;
    if (useHeader) {
        const int margin =
            std::max(kTextPadding, header()->style()->pixelMetric(QStyle::PM_HeaderMargin, nullptr, header()));
        width = std::max(width, header()->fontMetrics().horizontalAdvance(m_model->heading(column)) + 2 * margin + 1);
    }
    return width;
}

bool EditableListView::setListColumnWidth(int column, int width) {
    if (column < 0 || column >= getColumnCount())
        return false;
    if (width == LVSCW_AUTOSIZE || width == LVSCW_AUTOSIZE_USEHEADER)
        width = autoWidth(column, width == LVSCW_AUTOSIZE_USEHEADER);
    if (width < 0)
        return false;
    header()->resizeSection(column, width);
    return true;
}

int EditableListView::getColumnWidth(int column) const {
    if (column < 0 || column >= getColumnCount())
        return 0;
    return header()->sectionSize(column);
}

int EditableListView::insertItem(int row, QAnyStringView text) {
    return m_model->insertListRow(row, text);
}

int EditableListView::appendItem(const QAnyStringView* texts, int count, qint64 data) {
    return m_model->appendRow(texts, count, data);
}

bool EditableListView::deleteItem(int row) {
    if (!m_model->deleteRow(row))
        return false;
    // Only the deleted row's entry goes; the others keep their row numbers.
    auto it = std::find_if(m_rowColours.begin(), m_rowColours.end(), [row](const auto& e) { return e.first == row; });
    if (it != m_rowColours.end())
        m_rowColours.erase(it);
    return true;
}

bool EditableListView::deleteAllItems() {
    // The row under an open editor goes away: nothing it could store has a row to go to.
    dropOpenEdit();
    m_contextItem = -1;
    m_endedRow = m_endedColumn = -1;
    const int count = getItemCount();
    m_model->deleteAll();
    m_rowColours.erase(std::remove_if(m_rowColours.begin(), m_rowColours.end(),
                                      [count](const auto& e) { return e.first >= 0 && e.first < count; }),
                       m_rowColours.end());
    return true;
}

int EditableListView::getItemCount() const {
    return m_model->rowTotal();
}

void EditableListView::beginFill() {
    if (!m_model->filling())
        dropOpenEdit();
    m_model->beginFill();
}

void EditableListView::endFill() {
    m_model->endFill();
}

void EditableListView::dropOpenEdit() {
    if (InPlaceLineEdit::hasInstance() && InPlaceLineEdit::getInstance()->list() == this)
        InPlaceLineEdit::getInstance()->dropEdit();
    if (InPlaceComboBox::hasInstance() && InPlaceComboBox::getInstance()->list() == this)
        InPlaceComboBox::getInstance()->dropEdit();
}

bool EditableListView::setItemText(int row, int column, QAnyStringView text) {
    return m_model->setText(row, column, text);
}

QString EditableListView::getItemText(int row, int column) const {
    return m_model->text(row, column);
}

bool EditableListView::setItemData(int row, qint64 data) {
    return m_model->setRowData(row, data);
}

qint64 EditableListView::getItemData(int row) const {
    return m_model->rowData(row);
}

int EditableListView::getFirstSelectedItem() const {
    int first = -1;
    for (const QItemSelectionRange& range : selectionModel()->selection()) {
        if (range.isValid() && (first < 0 || range.top() < first))
            first = range.top();
    }
    return first;
}

bool EditableListView::setItemState(int row, unsigned state, unsigned mask) {
    if (row < 0 || row >= getItemCount())
        return false;
    // Selection and focus live in the view, which must know the row first.
    if (mask & (LVIS_SELECTED | LVIS_FOCUSED))
        m_model->publish();
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
        const unsigned old = m_model->stateImage(row);
        m_model->setStateImage(row, (old & ~mask) | (state & mask));
    }
    return true;
}

unsigned EditableListView::getItemState(int row, unsigned mask) const {
    if (row < 0 || row >= getItemCount())
        return 0;
    unsigned state = m_model->stateImage(row);
    if (currentIndex().isValid() && currentIndex().row() == row)
        state |= LVIS_FOCUSED;
    if (selectionModel()->isSelected(m_model->index(row, 0)))
        state |= LVIS_SELECTED;
    return state & mask;
}

void EditableListView::setExtendedStyle(unsigned style) {
    m_extendedStyle = style;
    viewport()->update();
}

unsigned EditableListView::getExtendedStyle() const {
    return m_extendedStyle;
}

void EditableListView::setEditLabels(bool on) {
    m_editLabels = on;
}

bool EditableListView::ensureVisible(int row) {
    if (row < 0 || row >= getItemCount())
        return false;
    m_model->publish();
    const QRect rect = visualRect(m_model->index(row, 0));
    if (rect.isValid() && rect.bottom() >= 0 && rect.top() < viewport()->height())
        return true;
    // Only the vertical position changes; the columns stay where the user scrolled them.
    const int horizontal = horizontalScrollBar()->value();
    scrollTo(m_model->index(row, 0));
    horizontalScrollBar()->setValue(horizontal);
    return true;
}

void EditableListView::markColumnAsCombo(int column, bool on) {
    if (on && !m_comboColumns.contains(column))
        m_comboColumns.append(column);
    else if (!on)
        m_comboColumns.removeOne(column);
}

void EditableListView::markColumnReadOnly(int column, bool on) {
    if (on && !m_readOnlyColumns.contains(column))
        m_readOnlyColumns.append(column);
    else if (!on)
        m_readOnlyColumns.removeOne(column);
}

bool EditableListView::isCombo(int column) const {
    return m_comboColumns.contains(column);
}

bool EditableListView::isReadOnly(int column) const {
    return m_readOnlyColumns.contains(column);
}

void EditableListView::setAcceptedChars(const QString& chars) {
    m_acceptedChars = chars;
}

void EditableListView::setComboHorzScrollBar(bool on) {
    m_comboStyle = on ? (m_comboStyle | WS_HSCROLL) : (m_comboStyle & ~WS_HSCROLL);
}

void EditableListView::setComboVertScrollBar(bool on) {
    m_comboStyle = on ? (m_comboStyle | WS_VSCROLL) : (m_comboStyle & ~WS_VSCROLL);
}

void EditableListView::setRowTextColor(int row, const QColor& colour) {
    auto it = std::find_if(m_rowColours.begin(), m_rowColours.end(), [row](const auto& e) { return e.first == row; });
    if (it != m_rowColours.end())
        it->second = colour;
    else
        m_rowColours.emplace_back(row, colour);
    viewport()->update();
}

QColor EditableListView::getRowTextColor(int row) const {
    for (const auto& entry : m_rowColours) {
        if (entry.first == row)
            return entry.second;
    }
    // A row without a colour of its own is drawn like any text of the theme.
    return palette().color(QPalette::Text);
}

void EditableListView::setCellNote(int row, int column, const QString& toolTip) {
    m_model->setNote(row, column, toolTip);
}

bool EditableListView::hasCellNote(int row, int column) const {
    return m_model->hasNote(row, column);
}

QString EditableListView::getCellNote(int row, int column) const {
    return m_model->note(row, column);
}

int EditableListView::getCheck(int row) const {
    return static_cast<int>(getItemState(row, LVIS_STATEIMAGEMASK) >> 12) - 1;
}

void EditableListView::setCheck(int row, bool checked) {
    setItemState(row, (checked ? 2u : 1u) << 12, LVIS_STATEIMAGEMASK);
}

void EditableListView::onEndLabelEdit(const CellEditResult& info) {
    m_endedRow = info.row;
    m_endedColumn = info.column;
    m_textBeforeEdit = getItemText(info.row, info.column);
    setItemText(info.row, info.column, info.text);
    emit gridValidate(m_controlId, &info);
}

std::optional<QString> EditableListView::textBeforeEdit(int row, int column) const {
    if (row != m_endedRow || column != m_endedColumn)
        return std::nullopt;
    return m_textBeforeEdit;
}

void EditableListView::onEditorDone(int row, int column, EditExit exit) {
    finishEdit(row, column, exit, true);
}

void EditableListView::onEditorPassed(int row, int column, EditExit exit) {
    finishEdit(row, column, exit, false);
}

void EditableListView::finishEdit(int row, int column, EditExit exit, bool store) {
    const bool known = row >= 0 && row < getItemCount();
    const qint64 data = known ? getItemData(row) : 0;
    const QString ended = known ? getItemText(row, column) : QString();
    const QPointer<EditableListView> self(this);
    if (store)
        emit gridEditDone(row, column);
    if (!self || exit == EditExit::Other || !known)
        return;
    // The owner may have stored the edit and filled the list anew: the row is looked for again,
    // and when it is gone the keyboard does not go on in some other record.
    const int found = findRowAgain(row, data);
    if (found < 0)
        return;
    int target = column;
    // A cell the owner put back to another text was refused: the keyboard stays on it, so the
    // user reads the owner's message and tries again, rather than going on past it.
    const bool kept = getItemText(found, column) == ended;
    if (kept && (exit == EditExit::next || exit == EditExit::Previous)) {
        const int neighbour = neighbourEditableColumn(column, exit == EditExit::next ? 1 : -1);
        if (neighbour >= 0)
            target = neighbour;
    }
    setCurrentCell(found, target);
    if (target == column)
        return;
    // Opened once the ending editor has let the focus go entirely; only while the list still
    // has it, so that a window the owner opened meanwhile, or a click, is never overridden.
    QMetaObject::invokeMethod(
        this,
        [self, found, target, data]() {
            if (self && self->hasFocus() && self->findRowAgain(found, data) == found &&
                self->currentIndex().row() == found && self->currentIndex().column() == target)
                self->editLabel(found, target);
        },
        Qt::QueuedConnection);
}

bool EditableListView::isEditableColumn(int column) const {
    return column >= 0 && column < getColumnCount() && (isCombo(column) || !isReadOnly(column));
}

int EditableListView::neighbourEditableColumn(int column, int step) const {
    for (int c = column + step; c >= 0 && c < getColumnCount(); c += step) {
        if (isEditableColumn(c) && !isColumnHidden(c) && getColumnWidth(c) > 0)
            return c;
    }
    return -1;
}

int EditableListView::findRowAgain(int row, qint64 data) const {
    if (row >= 0 && row < getItemCount() && getItemData(row) == data)
        return row;
    for (int r = 0; r < getItemCount(); ++r) {
        if (getItemData(r) == data)
            return r;
    }
    return -1;
}

void EditableListView::setCurrentCell(int row, int column) {
    m_model->publish();
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

void EditableListView::moveCurrentColumn(int step) {
    const QModelIndex current = currentIndex();
    if (!current.isValid())
        return;
    // Every shown column can be current, the read-only ones included: a screen reader reads
    // them, and F2 tells the user by a beep that they cannot be edited.
    for (int c = current.column() + step; c >= 0 && c < getColumnCount(); c += step) {
        if (!isColumnHidden(c) && getColumnWidth(c) > 0) {
            setCurrentCell(current.row(), c);
            return;
        }
    }
}

int EditableListView::uniformRowHeight() const {
    if (m_model->rowCount() == 0)
        return 0;
    return rowHeight(m_model->index(0, 0));
}

QRect EditableListView::rowBounds(int row) const {
    const QRect first = visualRect(m_model->index(row, 0));
    if (!first.isValid())
        return {};
    return QRect(-header()->offset(), first.top(), header()->length(), first.height());
}

int EditableListView::hitTestCell(const QPoint& point, int* column) const {
    if (column)
        *column = 0;
    const QRect bounds(-header()->offset(), 0, header()->length(), viewport()->height());
    if (getColumnCount() == 0 || point.x() < bounds.left() || point.x() > bounds.right())
        return -1;
    const QModelIndex index = indexAt(point);
    if (!index.isValid())
        return -1;
    const int row = index.row();
    const QRect rowRect = rowBounds(row);
    if (!column || !rowRect.contains(point))
        return row;
    // Both ends inclusive: the border pixel between two columns belongs to the left one.
    int left = rowRect.left();
    const int count = getColumnCount();
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

QRect EditableListView::editorRect(int row, int column) {
    const QRect rowRect = rowBounds(row);
    int offset = 0;
    for (int c = 0; c < column && c < getColumnCount(); ++c)
        offset += header()->sectionSize(c);
    const int width = getColumnWidth(column);
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

bool EditableListView::startCombo(int row, int column, const QStringList& entries, const QString& text) {
    if (!ensureVisible(row))
        return false;
    if (column < 0 || column >= getColumnCount() || getColumnWidth(column) < 10)
        return false;
    QRect rect = editorRect(row, column);
    const int h = rect.height();
    const int n = static_cast<int>(entries.size());
    const int lines = n < 10 ? n + 10 : 11;
    rect.setHeight(h + h * lines);
    m_comboRect = rect;
    return InPlaceComboBox::getInstance()->startCellEdit(m_comboStyle, rect, this, 0, row, column, entries, text);
}

bool EditableListView::startEditBox(int row, int column, const QString& text) {
    const QRect rect = editorRect(row, column);
    return InPlaceLineEdit::getInstance()->startCellEdit(m_editStyle, rect, this, 0, row, column, m_acceptedChars,
                                                         text);
}

bool EditableListView::openEditor(int row, int column, const QString& text) {
    m_model->publish(); // the editor is placed over the row as the view lays it out
    if (isCombo(column)) {
        QStringList entries;
        emit gridFillCombo(column, &entries);
        if (!startCombo(row, column, entries, text))
            return false;
        InPlaceComboBox::getInstance()->selectString(text);
        return true;
    }
    if (isReadOnly(column))
        return false;
    return startEditBox(row, column, text);
}

bool EditableListView::editLabel(int row, int column) {
    if (row < 0 || row >= getItemCount() || column < 0 || column >= getColumnCount() || !m_editLabels)
        return false;
    if (isReadOnly(column) && !isCombo(column))
        return false;
    // A request from the keyboard may come for a row scrolled out of sight; the whole row is
    // brought into view first, so the editor lies over it and not outside the list.
    m_model->publish();
    const int horizontal = horizontalScrollBar()->value();
    scrollTo(m_model->index(row, 0), QAbstractItemView::EnsureVisible);
    horizontalScrollBar()->setValue(horizontal);
    return openEditor(row, column, getItemText(row, column));
}

void EditableListView::rightPress(QMouseEvent* event) {
    const int row = hitTestCell(event->position().toPoint(), nullptr);
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

void EditableListView::mousePressEvent(QMouseEvent* event) {
    if (m_inDoubleClick || event->button() != Qt::LeftButton) {
        if (!hasFocus())
            setFocus(Qt::MouseFocusReason);
        if (event->button() == Qt::RightButton) {
            rightPress(event);
            return;
        }
        m_rightPressed = false;
        QTreeView::mousePressEvent(event);
        return;
    }
    int column = 0;
    const int row = hitTestCell(event->position().toPoint(), &column);
    // Taking the focus ends an open editor before the new one may start.
    if (!hasFocus())
        setFocus(Qt::MouseFocusReason);
    QTreeView::mousePressEvent(event);
    if (event->modifiers() & (Qt::ShiftModifier | Qt::ControlModifier))
        return;
    if (row < 0)
        return;

    const int check = getCheck(row);
    if (getItemText(row, column) == kBoolean) {
        setCheck(row, check == 0);
        emit gridCheckToggled(row, column);
    }
    const QString text = getItemText(row, column);
    if (!(getItemState(row, LVIS_FOCUSED) & LVIS_FOCUSED) || !m_editLabels)
        return;
    openEditor(row, column, text);
}

void EditableListView::mouseReleaseEvent(QMouseEvent* event) {
    QTreeView::mouseReleaseEvent(event);
    if (event->button() == Qt::RightButton && m_rightPressed) {
        m_rightPressed = false;
        emit listRightClicked();
    }
}

void EditableListView::mouseDoubleClickEvent(QMouseEvent* event) {
    if (!hasFocus())
        setFocus(Qt::MouseFocusReason);
    // The second press of a double click gets the list's own handling only.
    m_inDoubleClick = true;
    QTreeView::mouseDoubleClickEvent(event);
    m_inDoubleClick = false;
    if (event->button() == Qt::LeftButton)
        emit listDoubleClicked();
}

void EditableListView::keyPressEvent(QKeyEvent* event) {
    const Qt::KeyboardModifiers modifiers = event->modifiers() & ~Qt::KeypadModifier;
    // F2 edits the current cell. When that cell cannot be edited (a click on a read-only column
    // made it current, say), the row's first editable cell becomes current and opens, as F2 did
    // before the list had a current cell; a row with none only answers with a beep.
    if (event->key() == Qt::Key_F2 && modifiers == Qt::NoModifier) {
        const QModelIndex current = currentIndex();
        const int row = current.isValid() ? current.row() : getFirstSelectedItem();
        if (row >= 0) {
            int column = current.isValid() ? current.column() : -1;
            if (!isEditableColumn(column) || isColumnHidden(column) || getColumnWidth(column) <= 0)
                column = neighbourEditableColumn(-1, 1);
            if (column >= 0 && (!current.isValid() || column != current.column()))
                setCurrentCell(row, column);
            if (column < 0 || !editLabel(row, column))
                QApplication::beep();
        }
        event->accept();
        return;
    }
    // Left and Right move the current cell along the row (mirrored in a right-to-left layout).
    if ((event->key() == Qt::Key_Left || event->key() == Qt::Key_Right) && modifiers == Qt::NoModifier &&
        currentIndex().isValid()) {
        const bool forward = (event->key() == Qt::Key_Right) != isRightToLeft();
        moveCurrentColumn(forward ? 1 : -1);
        event->accept();
        return;
    }
    QTreeView::keyPressEvent(event);
}

void EditableListView::focusInEvent(QFocusEvent* event) {
    QTreeView::focusInEvent(event);
    viewport()->update();
}

void EditableListView::focusOutEvent(QFocusEvent* event) {
    QTreeView::focusOutEvent(event);
    viewport()->update();
}

void EditableListView::prepareRows(int first, int last) {
    if (!m_preparer)
        return;
    first = std::max(first, 0);
    last = std::min(last, m_model->rowTotal() - 1);
    QList<int> rows;
    for (int row = first; row <= last; ++row)
        if (!m_model->isPrepared(row)) {
            // Marked before the preparer runs, so a repaint it causes asks nothing again.
            m_model->setPrepared(row);
            rows << row;
        }
    if (!rows.isEmpty())
        m_preparer(rows);
}

bool EditableListView::viewportEvent(QEvent* event) {
    if (event->type() == QEvent::Paint && m_preparer && model()->rowCount() > 0) {
        // The whole blocks holding the rows in view, so that scrolling a page asks rarely.
        const QRect shown = viewport()->rect();
        const int top = indexAt(shown.topLeft()).row();
        const QModelIndex bottom = indexAt(shown.bottomLeft());
        const int first = top < 0 ? 0 : top;
        const int last = bottom.isValid() ? bottom.row() : model()->rowCount() - 1;
        prepareRows(first / kPrepareBlock * kPrepareBlock, (last / kPrepareBlock + 1) * kPrepareBlock - 1);
    }
    if (event->type() != QEvent::ToolTip)
        return QTreeView::viewportEvent(event);
    // The cell is found as a click finds it, so the note shown is that of the cell a click
    // would edit.
    const auto* help = static_cast<QHelpEvent*>(event);
    int column = 0;
    const int row = hitTestCell(help->pos(), &column);
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
