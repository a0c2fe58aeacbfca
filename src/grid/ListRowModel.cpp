#include "ListRowModel.h"

#include "TextUtils.h"

#include <QFontMetrics>
#include <QStringDecoder>
#include <QTextDocument>
#include <QVarLengthArray>

#include <algorithm>
#include <cstring>
#include <optional>

namespace {

// The packed cells of a row, one after another: a header, then the text. The header is the
// text's length in UTF-16 units times two, plus one when the units are stored whole (the
// text holds a character beyond Latin-1); otherwise each unit is stored as one byte. The
// header is written as a little-endian base-128 number, one byte for a short text.
// A row holds its cells up to the last one set; the cells after it read empty.
constexpr quint32 kFirstBlock = 4096;
constexpr quint32 kLargestBlock = 1 << 20;
// Rows are packed anew once this much room is unused and it exceeds what the rows use.
constexpr quint64 kTolerableWaste = 1 << 20;
// What an emptied list keeps for the rows that follow.
constexpr size_t kKeptRows = 1 << 16;
constexpr quint64 kKeptBytes = 8 << 20;

int headerSize(quint64 value) {
    int size = 1;
    for (; value >= 0x80; value >>= 7)
        ++size;
    return size;
}

char* putHeader(char* out, quint64 value) {
    for (; value >= 0x80; value >>= 7)
        *out++ = char((value & 0x7F) | 0x80);
    *out++ = char(value);
    return out;
}

bool fitsLatin1(QStringView text) {
    for (const QChar c : text) {
        if (c.unicode() > 0xFF)
            return false;
    }
    return true;
}

// A text as it is packed: one byte a unit when every unit fits Latin-1, else the UTF-16
// units whole. Texts arrive in any encoding; only UTF-8 beyond ASCII is decoded first.
class PackedText {
public:
    explicit PackedText(QAnyStringView text) {
        text.visit([this](auto view) { take(view); });
    }
    PackedText(const PackedText&) = delete;
    PackedText& operator=(const PackedText&) = delete;

    quint64 header() const { return quint64(length()) * 2 + (m_wide ? 1 : 0); }
    quint64 size() const { return headerSize(header()) + quint64(length()) * (m_wide ? 2 : 1); }
    char* write(char* out) const {
        out = putHeader(out, header());
        if (m_bytes) {
            std::memcpy(out, m_bytes, size_t(m_byteCount));
            return out + m_byteCount;
        }
        if (m_wide) {
            std::memcpy(out, m_units.utf16(), size_t(m_units.size()) * 2);
            return out + m_units.size() * 2;
        }
        for (const QChar c : m_units)
            *out++ = char(c.unicode());
        return out;
    }

private:
    qsizetype length() const { return m_bytes ? m_byteCount : m_units.size(); }
    void take(QStringView units) {
        m_units = units;
        m_wide = !fitsLatin1(units);
    }
    void take(QLatin1StringView latin1) {
        m_bytes = latin1.data();
        m_byteCount = latin1.size();
    }
    template <typename Utf8View> void take(Utf8View utf8) {
        if (isAscii(utf8.data(), size_t(utf8.size()))) {
            m_bytes = utf8.data();
            m_byteCount = utf8.size();
            return;
        }
        // Decoded into room of its own (on the stack for a usual name), never into a string.
        QStringDecoder decoder(QStringDecoder::Utf8);
        m_decoded.resize(decoder.requiredSpace(utf8.size()));
        const QChar* end = decoder.appendToBuffer(m_decoded.data(), QByteArrayView(utf8.data(), utf8.size()));
        take(QStringView(m_decoded.data(), end - m_decoded.data()));
    }

    const char* m_bytes = nullptr; // Latin-1 bytes stored as they are, when set
    qsizetype m_byteCount = 0;
    QStringView m_units;
    QVarLengthArray<QChar, 128> m_decoded;
    bool m_wide = false;
};

struct Cell {
    const char* begin; // the header
    const char* text;
    qsizetype units;
    bool wide;
    const char* end;
};

Cell readCell(const char* p) {
    Cell cell{p, nullptr, 0, false, nullptr};
    quint64 header = 0;
    int shift = 0;
    unsigned char byte = 0;
    do {
        byte = static_cast<unsigned char>(*p++);
        header |= quint64(byte & 0x7F) << shift;
        shift += 7;
    } while (byte & 0x80);
    cell.text = p;
    cell.units = qsizetype(header >> 1);
    cell.wide = (header & 1) != 0;
    cell.end = p + cell.units * (cell.wide ? 2 : 1);
    return cell;
}

QString cellText(const Cell& cell) {
    if (!cell.wide)
        return QString::fromLatin1(cell.text, cell.units);
    QString text(cell.units, Qt::Uninitialized);
    std::memcpy(text.data(), cell.text, size_t(cell.units) * 2);
    return text;
}

// The cell of a column among the packed cells, or null when the row stores fewer cells; then
// stored (when given) gets the number of cells the row holds.
const char* FindCell(const char* begin, const char* end, int column, int* stored = nullptr) {
    const char* p = begin;
    int c = 0;
    for (; c < column && p < end; ++c)
        p = readCell(p).end;
    if (c == column && p < end)
        return p;
    if (stored)
        *stored = c;
    return nullptr;
}

void append(QByteArray& out, const char* from, const char* to) {
    out.append(from, to - from);
}

void appendText(QByteArray& out, const PackedText& text) {
    const qsizetype at = out.size();
    out.resize(at + qsizetype(text.size()));
    text.write(out.data() + at);
}

// Shared, so that announcing a changed cell allocates no list of roles.
const QList<int>& displayRole() {
    static const QList<int> roles{Qt::DisplayRole};
    return roles;
}

} // namespace

ListRowModel::ListRowModel(QObject* parent) : QAbstractTableModel(parent) {}

int ListRowModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : m_published;
}

int ListRowModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(m_headings.size());
}

QVariant ListRowModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || !validRow(index.row()) || !published(index.row()) || index.column() >= columnCount())
        return {};
    if (role == Qt::DisplayRole)
        return text(index.row(), index.column());
    if (role == Qt::TextAlignmentRole)
        return headerData(index.column(), Qt::Horizontal, role);
    if (role == Qt::ToolTipRole || role == Qt::AccessibleDescriptionRole) {
        const QString note = this->note(index.row(), index.column());
        if (note.isEmpty())
            return {};
        // A tool tip takes markup; the note is shown as written ("era: <5>" stays legible).
        return role == Qt::ToolTipRole ? Qt::convertFromPlainText(note) : note;
    }
    return {};
}

QVariant ListRowModel::headerData(int section, Qt::Orientation orientation, int role) const {
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

Qt::ItemFlags ListRowModel::flags(const QModelIndex& index) const {
    if (!index.isValid())
        return Qt::NoItemFlags;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
}

int ListRowModel::insertListColumn(int column, const QString& heading, int format) {
    if (column < 0)
        return -1;
    publish();
    column = std::min(column, columnCount());
    beginInsertColumns(QModelIndex(), column, column);
    m_headings.insert(column, heading);
    m_formats.insert(m_formats.begin() + column, format);
    rewriteRows([column](const char* begin, const char* end, QByteArray& out) {
        const char* cell = FindCell(begin, end, column);
        if (!cell) {
            append(out, begin, end);
            return;
        }
        append(out, begin, cell);
        appendText(out, PackedText(QStringView()));
        append(out, cell, end);
    });
    moveNoteColumns(column, 1);
    endInsertColumns();
    return column;
}

bool ListRowModel::deleteColumn(int column) {
    if (column < 0 || column >= columnCount())
        return false;
    publish();
    beginRemoveColumns(QModelIndex(), column, column);
    m_headings.removeAt(column);
    m_formats.erase(m_formats.begin() + column);
    rewriteRows([column](const char* begin, const char* end, QByteArray& out) {
        const char* cell = FindCell(begin, end, column);
        if (!cell) {
            append(out, begin, end);
            return;
        }
        append(out, begin, cell);
        append(out, readCell(cell).end, end);
    });
    moveNoteColumns(column, -1);
    endRemoveColumns();
    return true;
}

template <typename Pack> int ListRowModel::addRow(int row, Pack pack) {
    // A row placed among those the views know about is announced on its own.
    const bool announce = !filling() || row < m_published;
    if (announce) {
        publish();
        beginInsertRows(QModelIndex(), row, row);
    }
    Row fresh;
    pack(fresh);
    if (row == rowTotal())
        m_rows.push_back(fresh);
    else
        m_rows.insert(m_rows.begin() + row, fresh);
    compactIfWasteful();
    if (announce) {
        m_published = rowTotal();
        endInsertRows();
    }
    return row;
}

int ListRowModel::insertListRow(int row, QAnyStringView text) {
    if (row < 0)
        return -1;
    return addRow(std::min(row, rowTotal()), [&](Row& fresh) {
        const PackedText cell(text);
        cell.write(room(fresh, quint32(cell.size())));
    });
}

int ListRowModel::appendRow(const QAnyStringView* cells, int count, qint64 data) {
    count = std::min(count, columnCount());
    // The cells up to the last one with a text; an empty one is its one-byte header.
    while (count > 1 && cells[count - 1].isEmpty())
        --count;
    return addRow(rowTotal(), [&](Row& fresh) {
        fresh.data = data;
        constexpr int kPackedAtOnce = 16;
        if (count > kPackedAtOnce) {
            // Emptied, not released: the next row reuses the room.
            m_scratch.resize(0);
            for (int column = 0; column < count; ++column)
                appendText(m_scratch, PackedText(cells[column]));
            place(fresh, m_scratch.constData(), quint32(m_scratch.size()));
            return;
        }
        // Packed straight into the block.
        std::optional<PackedText> packed[kPackedAtOnce];
        const int packs = std::max(count, 1);
        quint64 size = 0;
        for (int column = 0; column < packs; ++column)
            size += packed[column].emplace(count > 0 ? cells[column] : QAnyStringView()).size();
        char* out = room(fresh, quint32(size));
        for (int column = 0; column < packs; ++column)
            out = packed[column]->write(out);
    });
}

bool ListRowModel::deleteRow(int row) {
    if (!validRow(row))
        return false;
    const bool announce = published(row);
    if (announce) {
        publish();
        beginRemoveRows(QModelIndex(), row, row);
    }
    dropNotes(m_rows[row]);
    if (m_rows[row].at != kNowhere)
        m_waste += m_rows[row].size;
    m_rows.erase(m_rows.begin() + row);
    compactIfWasteful();
    if (announce) {
        m_published = rowTotal();
        endRemoveRows();
    }
    return true;
}

void ListRowModel::deleteAll() {
    beginResetModel();
    // A list emptied to be filled again keeps the room of a usual result (a month of sets) for
    // the next rows, which then need no fresh memory from the system; a longer one's is given
    // back.
    m_rows.clear();
    if (m_rows.capacity() > kKeptRows)
        std::vector<Row>().swap(m_rows);
    for (Block& block : m_blocks) {
        block.used = 0;
        m_spareBlocks.push_back(std::move(block));
    }
    m_blocks.clear();
    // Handed out again smallest first, as the list makes them; the largest go beyond the limit.
    std::sort(m_spareBlocks.begin(), m_spareBlocks.end(),
              [](const Block& a, const Block& b) { return a.capacity > b.capacity; });
    quint64 kept = 0;
    for (const Block& block : m_spareBlocks)
        kept += block.capacity;
    auto keptFrom = m_spareBlocks.begin();
    for (; keptFrom != m_spareBlocks.end() && kept > kKeptBytes; ++keptFrom)
        kept -= keptFrom->capacity;
    m_spareBlocks.erase(m_spareBlocks.begin(), keptFrom);
    m_tailAt = kNowhere;
    m_stored = 0;
    m_waste = 0;
    m_notes.clear();
    m_lastNoteKey = 0;
    m_published = 0;
    endResetModel();
}

void ListRowModel::beginFill() {
    ++m_fillDepth;
}

void ListRowModel::endFill() {
    if (m_fillDepth == 0)
        return;
    if (--m_fillDepth == 0)
        publish();
}

void ListRowModel::publish() {
    const int total = rowTotal();
    if (total <= m_published)
        return;
    beginInsertRows(QModelIndex(), m_published, total - 1);
    m_published = total;
    endInsertRows();
}

bool ListRowModel::setText(int row, int column, QAnyStringView text) {
    if (!validRow(row) || column < 0 || column >= columnCount())
        return false;
    Row& r = m_rows[row];
    const char* begin = bytesOf(r);
    const char* end = begin + r.size;
    const PackedText packed(text);
    int stored = 0;
    const char* cell = FindCell(begin, end, column, &stored);
    if (!cell) {
        // Empty cells up to the column, then the text: while a list is filled left to right,
        // the row written last grows where it lies.
        const int empties = column - stored;
        const quint64 extra = quint64(empties) + packed.size();
        Block* tail = r.at == m_tailAt && r.at != kNowhere ? &m_blocks[r.at >> 32] : nullptr;
        if (tail && (r.at & 0xFFFFFFFF) + r.size == tail->used && tail->capacity - tail->used >= extra) {
            char* out = tail->bytes.get() + tail->used;
            std::memset(out, 0, size_t(empties));
            packed.write(out + empties);
            tail->used += quint32(extra);
            r.size += quint32(extra);
            m_stored += extra;
        } else {
            m_scratch.clear();
            append(m_scratch, begin, end);
            m_scratch.append(empties, '\0');
            appendText(m_scratch, packed);
            place(r, m_scratch.constData(), quint32(m_scratch.size()));
        }
    } else {
        const Cell old = readCell(cell);
        if (quint64(old.end - old.begin) == packed.size()) {
            // The same room: written over where it stands.
            packed.write(const_cast<char*>(cell));
        } else {
            m_scratch.clear();
            append(m_scratch, begin, cell);
            appendText(m_scratch, packed);
            append(m_scratch, old.end, end);
            place(r, m_scratch.constData(), quint32(m_scratch.size()));
        }
    }
    compactIfWasteful();
    if (published(row)) {
        const QModelIndex changed = index(row, column);
        emit dataChanged(changed, changed, displayRole());
    }
    return true;
}

QString ListRowModel::text(int row, int column) const {
    if (!validRow(row) || column < 0)
        return {};
    const Row& r = m_rows[row];
    const char* begin = bytesOf(r);
    const char* cell = FindCell(begin, begin + r.size, column);
    return cell ? cellText(readCell(cell)) : QString();
}

bool ListRowModel::setRowData(int row, qint64 data) {
    if (!validRow(row))
        return false;
    m_rows[row].data = data;
    return true;
}

qint64 ListRowModel::rowData(int row) const {
    return validRow(row) ? m_rows[row].data : 0;
}

unsigned ListRowModel::stateImage(int row) const {
    return validRow(row) ? (m_rows[row].state & StateImageMask) : 0;
}

bool ListRowModel::setStateImage(int row, unsigned bits) {
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

bool ListRowModel::setNote(int row, int column, const QString& text) {
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

const ListRowModel::NoteList* ListRowModel::notesOf(int row) const {
    if (!validRow(row) || m_rows[row].noteKey == 0)
        return nullptr;
    const auto it = m_notes.constFind(m_rows[row].noteKey);
    return it == m_notes.cend() ? nullptr : &it.value();
}

QString ListRowModel::note(int row, int column) const {
    if (const NoteList* notes = notesOf(row)) {
        for (const CellNote& note : *notes) {
            if (note.column == column)
                return note.text;
        }
    }
    return {};
}

bool ListRowModel::hasNote(int row, int column) const {
    if (const NoteList* notes = notesOf(row))
        return std::any_of(notes->begin(), notes->end(), [column](const CellNote& n) { return n.column == column; });
    return false;
}

void ListRowModel::dropNotes(const Row& row) {
    if (row.noteKey != 0)
        m_notes.remove(row.noteKey);
}

void ListRowModel::moveNoteColumns(int column, int delta) {
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

QString ListRowModel::heading(int column) const {
    return column >= 0 && column < columnCount() ? m_headings.at(column) : QString();
}

int ListRowModel::widestText(int column, const QFontMetrics& metrics) const {
    int widest = 0;
    for (const Row& row : m_rows) {
        const char* begin = bytesOf(row);
        if (const char* cell = FindCell(begin, begin + row.size, column)) {
            const Cell packed = readCell(cell);
            if (packed.units > 0)
                widest = std::max(widest, metrics.horizontalAdvance(cellText(packed)));
        }
    }
    return widest;
}

const char* ListRowModel::bytesOf(const Row& row) const {
    if (row.at == kNowhere)
        return nullptr;
    return m_blocks[row.at >> 32].bytes.get() + (row.at & 0xFFFFFFFF);
}

void ListRowModel::place(Row& row, const char* bytes, quint32 size) {
    if (row.at != kNowhere && row.at == m_tailAt) {
        // The row written last is rewritten where it lies when its block has the room, so that
        // cells set out of order while a list is filled leave nothing unused behind.
        Block& block = m_blocks[row.at >> 32];
        const quint32 offset = quint32(row.at & 0xFFFFFFFF);
        if (offset + row.size == block.used && size > 0 && block.capacity - offset >= size) {
            std::memcpy(block.bytes.get() + offset, bytes, size);
            block.used = offset + size;
            m_stored = m_stored - row.size + size;
            row.size = size;
            return;
        }
    }
    if (size > 0)
        std::memcpy(room(row, size), bytes, size);
    else
        room(row, 0);
}

char* ListRowModel::room(Row& row, quint32 size) {
    if (row.at != kNowhere)
        m_waste += row.size;
    row.at = kNowhere;
    row.size = 0;
    if (size == 0)
        return nullptr;
    if (m_blocks.empty() || m_blocks.back().capacity - m_blocks.back().used < size) {
        // Blocks grow with the list, so that a short list stays small.
        const quint32 next = m_blocks.empty() ? kFirstBlock : std::min(kLargestBlock, m_blocks.back().capacity * 2);
        Block block;
        if (!m_spareBlocks.empty() && m_spareBlocks.back().capacity >= size) {
            block = std::move(m_spareBlocks.back());
            m_spareBlocks.pop_back();
        } else {
            block.capacity = std::max(next, size);
            block.bytes.reset(new char[block.capacity]);
        }
        m_blocks.push_back(std::move(block));
    }
    Block& block = m_blocks.back();
    char* out = block.bytes.get() + block.used;
    row.at = (quint64(m_blocks.size() - 1) << 32) | block.used;
    row.size = size;
    block.used += size;
    m_stored += size;
    m_tailAt = row.at;
    return out;
}

void ListRowModel::compactIfWasteful() {
    if (m_waste > kTolerableWaste && m_waste > m_stored - m_waste)
        rewriteRows([](const char* begin, const char* end, QByteArray& out) { append(out, begin, end); });
}

template <typename Transform> void ListRowModel::rewriteRows(Transform transform) {
    std::vector<Block> old;
    old.swap(m_blocks);
    m_tailAt = kNowhere;
    m_stored = 0;
    m_waste = 0;
    QByteArray cells;
    for (Row& row : m_rows) {
        const char* begin = row.at == kNowhere ? nullptr : old[row.at >> 32].bytes.get() + (row.at & 0xFFFFFFFF);
        cells.clear();
        transform(begin, begin + row.size, cells);
        row.at = kNowhere;
        place(row, cells.constData(), quint32(cells.size()));
    }
}
