#include "CListRowModel.h"

#include <QFontMetrics>
#include <QTextDocument>

#include <algorithm>

namespace {

// Cell layout inside Row::cells: low and high 16 bits of the length, then the characters.
constexpr int kHeader = 2;

int cellLength(const QString& cells, int pos) {
    return int(cells.at(pos).unicode()) | (int(cells.at(pos + 1).unicode()) << 16);
}

// Position of the header of a cell, or -1 when the row stores fewer cells; then stored
// (when given) gets the number of cells the row holds.
int findCell(const QString& cells, int column, int* stored = nullptr) {
    int pos = 0;
    int c = 0;
    for (; c < column && pos < cells.size(); ++c)
        pos += kHeader + cellLength(cells, pos);
    if (c == column && pos < cells.size())
        return pos;
    if (stored)
        *stored = c;
    return -1;
}

// Appends empty cells, then a cell holding text, growing the row once.
void appendCells(QString& cells, int empties, const QString& text) {
    const qsizetype at = cells.size();
    const auto length = static_cast<unsigned>(text.size());
    cells.resize(at + kHeader * (empties + 1) + length);
    QChar* out = cells.data() + at;
    for (int i = 0; i < empties; ++i) {
        *out++ = QChar(0);
        *out++ = QChar(0);
    }
    *out++ = QChar(char16_t(length & 0xFFFF));
    *out++ = QChar(char16_t(length >> 16));
    std::copy_n(text.constData(), length, out);
}

void appendCell(QString& cells, const QString& text) {
    appendCells(cells, 0, text);
}

// Shared, so that announcing a changed cell allocates no list of roles.
const QList<int>& displayRole() {
    static const QList<int> roles{Qt::DisplayRole};
    return roles;
}

QString packedCell(const QString& text) {
    QString cell;
    appendCell(cell, text);
    return cell;
}

} // namespace

CListRowModel::CListRowModel(QObject* parent) : QAbstractTableModel(parent) {}

int CListRowModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : m_published;
}

int CListRowModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(m_headings.size());
}

QVariant CListRowModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || !validRow(index.row()) || !published(index.row()) || index.column() >= columnCount())
        return {};
    if (role == Qt::DisplayRole)
        return Text(index.row(), index.column());
    if (role == Qt::TextAlignmentRole)
        return headerData(index.column(), Qt::Horizontal, role);
    if (role == Qt::ToolTipRole || role == Qt::AccessibleDescriptionRole) {
        const QString note = Note(index.row(), index.column());
        if (note.isEmpty())
            return {};
        // A tool tip takes markup; the note is shown as written ("era: <5>" stays legible).
        return role == Qt::ToolTipRole ? Qt::convertFromPlainText(note) : note;
    }
    return {};
}

QVariant CListRowModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || section < 0 || section >= columnCount())
        return {};
    if (role == Qt::DisplayRole)
        return m_headings.at(section);
    if (role == Qt::TextAlignmentRole) {
        const int format = m_formats[section] & 3;
        const Qt::Alignment horizontal = format == 1 ? Qt::AlignRight : format == 2 ? Qt::AlignHCenter : Qt::AlignLeft;
        return QVariant::fromValue(Qt::Alignment(horizontal | Qt::AlignVCenter));
    }
    return {};
}

Qt::ItemFlags CListRowModel::flags(const QModelIndex& index) const {
    if (!index.isValid())
        return Qt::NoItemFlags;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
}

int CListRowModel::InsertColumn(int column, const QString& heading, int format) {
    if (column < 0)
        return -1;
    Publish();
    column = std::min(column, columnCount());
    beginInsertColumns(QModelIndex(), column, column);
    m_headings.insert(column, heading);
    m_formats.insert(m_formats.begin() + column, format);
    for (Row& row : m_rows) {
        const int pos = findCell(row.cells, column);
        if (pos >= 0)
            row.cells.insert(pos, packedCell(QString()));
    }
    moveNoteColumns(column, 1);
    endInsertColumns();
    return column;
}

bool CListRowModel::DeleteColumn(int column) {
    if (column < 0 || column >= columnCount())
        return false;
    Publish();
    beginRemoveColumns(QModelIndex(), column, column);
    m_headings.removeAt(column);
    m_formats.erase(m_formats.begin() + column);
    for (Row& row : m_rows) {
        const int pos = findCell(row.cells, column);
        if (pos >= 0)
            row.cells.remove(pos, kHeader + cellLength(row.cells, pos));
    }
    moveNoteColumns(column, -1);
    endRemoveColumns();
    return true;
}

int CListRowModel::InsertRow(int row, const QString& text) {
    if (row < 0)
        return -1;
    row = std::min(row, RowTotal());
    // A row placed among those the views know about is announced on its own.
    const bool announce = !Filling() || row < m_published;
    if (announce) {
        Publish();
        beginInsertRows(QModelIndex(), row, row);
    }
    Row fresh;
    // Room for a typical row, so that filling its other cells seldom reallocates.
    fresh.cells.reserve(std::max<qsizetype>(64, text.size() + kHeader));
    appendCell(fresh.cells, text);
    m_rows.insert(m_rows.begin() + row, std::move(fresh));
    if (announce) {
        m_published = RowTotal();
        endInsertRows();
    }
    return row;
}

bool CListRowModel::DeleteRow(int row) {
    if (!validRow(row))
        return false;
    if (!published(row)) {
        dropNotes(m_rows[row]);
        m_rows.erase(m_rows.begin() + row);
        return true;
    }
    Publish();
    beginRemoveRows(QModelIndex(), row, row);
    dropNotes(m_rows[row]);
    m_rows.erase(m_rows.begin() + row);
    m_published = RowTotal();
    endRemoveRows();
    return true;
}

void CListRowModel::DeleteAll() {
    beginResetModel();
    std::vector<Row>().swap(m_rows);
    m_notes.clear();
    m_lastNoteKey = 0;
    m_published = 0;
    endResetModel();
}

void CListRowModel::BeginFill() {
    ++m_fillDepth;
}

void CListRowModel::EndFill() {
    if (m_fillDepth == 0)
        return;
    if (--m_fillDepth == 0)
        Publish();
}

void CListRowModel::Publish() {
    const int total = RowTotal();
    if (total <= m_published)
        return;
    beginInsertRows(QModelIndex(), m_published, total - 1);
    m_published = total;
    endInsertRows();
}

bool CListRowModel::SetText(int row, int column, const QString& text) {
    if (!validRow(row) || column < 0 || column >= columnCount())
        return false;
    QString& cells = m_rows[row].cells;
    int stored = 0;
    const int pos = findCell(cells, column, &stored);
    if (pos < 0) {
        appendCells(cells, column - stored, text);
    } else {
        // Rewrite the text and its length where they stand, without a temporary cell.
        const auto length = static_cast<unsigned>(text.size());
        cells.replace(pos + kHeader, cellLength(cells, pos), text);
        cells[pos] = QChar(char16_t(length & 0xFFFF));
        cells[pos + 1] = QChar(char16_t(length >> 16));
    }
    if (published(row)) {
        const QModelIndex changed = index(row, column);
        emit dataChanged(changed, changed, displayRole());
    }
    return true;
}

QString CListRowModel::Text(int row, int column) const {
    if (!validRow(row) || column < 0)
        return {};
    const QString& cells = m_rows[row].cells;
    const int pos = findCell(cells, column);
    if (pos < 0)
        return {};
    return cells.mid(pos + kHeader, cellLength(cells, pos));
}

bool CListRowModel::SetRowData(int row, qint64 data) {
    if (!validRow(row))
        return false;
    m_rows[row].data = data;
    return true;
}

qint64 CListRowModel::RowData(int row) const {
    return validRow(row) ? m_rows[row].data : 0;
}

unsigned CListRowModel::StateImage(int row) const {
    return validRow(row) ? (m_rows[row].state & StateImageMask) : 0;
}

bool CListRowModel::SetStateImage(int row, unsigned bits) {
    if (!validRow(row))
        return false;
    unsigned& state = m_rows[row].state;
    const unsigned next = (state & ~StateImageMask) | (bits & StateImageMask);
    if (next != state) {
        state = next;
        if (published(row) && columnCount() > 0)
            emit dataChanged(index(row, 0), index(row, columnCount() - 1));
    }
    return true;
}

bool CListRowModel::SetNote(int row, int column, const QString& text) {
    if (!validRow(row) || column < 0 || column >= columnCount())
        return false;
    quint32& key = m_rows[row].noteKey;
    if (text.isEmpty() && key == 0)
        return true;
    if (key == 0) {
        // Keys are never reused while their row lives, even after 2^32 of them.
        do
            ++m_lastNoteKey;
        while (m_lastNoteKey == 0 || m_notes.contains(m_lastNoteKey));
        key = m_lastNoteKey;
    }
    NoteList& notes = m_notes[key];
    auto it = std::find_if(notes.begin(), notes.end(), [column](const CellNote& n) { return n.column == column; });
    if (text.isEmpty()) {
        if (it == notes.end())
            return true;
        notes.erase(it);
        if (notes.empty()) {
            m_notes.remove(key);
            key = 0;
        }
    } else if (it != notes.end()) {
        if (it->text == text)
            return true;
        it->text = text;
    } else {
        notes.push_back({column, text});
    }
    if (published(row)) {
        static const QList<int> roles{Qt::ToolTipRole, Qt::AccessibleDescriptionRole};
        const QModelIndex changed = index(row, column);
        emit dataChanged(changed, changed, roles);
    }
    return true;
}

const CListRowModel::NoteList* CListRowModel::notesOf(int row) const {
    if (!validRow(row) || m_rows[row].noteKey == 0)
        return nullptr;
    const auto it = m_notes.constFind(m_rows[row].noteKey);
    return it == m_notes.cend() ? nullptr : &it.value();
}

QString CListRowModel::Note(int row, int column) const {
    if (const NoteList* notes = notesOf(row)) {
        for (const CellNote& note : *notes) {
            if (note.column == column)
                return note.text;
        }
    }
    return {};
}

bool CListRowModel::HasNote(int row, int column) const {
    if (const NoteList* notes = notesOf(row))
        return std::any_of(notes->begin(), notes->end(), [column](const CellNote& n) { return n.column == column; });
    return false;
}

void CListRowModel::dropNotes(const Row& row) {
    if (row.noteKey != 0)
        m_notes.remove(row.noteKey);
}

void CListRowModel::moveNoteColumns(int column, int delta) {
    if (m_notes.isEmpty())
        return;
    for (Row& row : m_rows) {
        if (row.noteKey == 0)
            continue;
        NoteList& notes = m_notes[row.noteKey];
        for (auto it = notes.begin(); it != notes.end();) {
            if (delta < 0 && it->column == column) {
                it = notes.erase(it);
                continue;
            }
            if (it->column >= column)
                it->column += delta;
            ++it;
        }
        if (notes.empty()) {
            m_notes.remove(row.noteKey);
            row.noteKey = 0;
        }
    }
}

QString CListRowModel::Heading(int column) const {
    return column >= 0 && column < columnCount() ? m_headings.at(column) : QString();
}

int CListRowModel::WidestText(int column, const QFontMetrics& metrics) const {
    int widest = 0;
    for (const Row& row : m_rows) {
        const int pos = findCell(row.cells, column);
        if (pos >= 0) {
            const int length = cellLength(row.cells, pos);
            if (length > 0)
                widest = std::max(
                    widest, metrics.horizontalAdvance(QStringView(row.cells).mid(pos + kHeader, length).toString()));
        }
    }
    return widest;
}
