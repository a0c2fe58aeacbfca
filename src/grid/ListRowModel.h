#pragma once

#include <QAbstractTableModel>
#include <QAnyStringView>
#include <QHash>
#include <QString>
#include <QStringList>

#include <memory>
#include <vector>

class QFontMetrics;

// The rows of an editable list: one plain struct per row, and the cell texts of all rows
// packed one row after another in a few large blocks, so that a million rows of seven
// columns stay small and quick to fill.
class ListRowModel : public QAbstractTableModel {
    Q_OBJECT
public:
    // Item state bits, as the list control reports them.
    enum : unsigned { StateFocused = 0x1, StateSelected = 0x2, StateCut = 0x4, StateImageMask = 0xF000 };

    explicit ListRowModel(QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    // Column and row operations; indices out of range are refused (-1 or false).
    int insertListColumn(int column, const QString& heading, int format);
    bool deleteColumn(int column);
    int insertListRow(int row, QAnyStringView text);
    // A row at the end with all its cells (count texts from the first column on) and its
    // data at once: quicker than InsertRow and SetText per cell while a long list is filled.
    int appendRow(const QAnyStringView* cells, int count, qint64 data);
    bool deleteRow(int row);
    void deleteAll();

    // Between BeginFill and EndFill (they nest), rows added at the end are kept from the
    // views; EndFill announces them all at once. Rows the views already know about are
    // changed and announced as usual.
    void beginFill();
    void endFill();
    bool filling() const { return m_fillDepth > 0; }
    // Announces the rows added since BeginFill now, so that views can reach them.
    void publish();
    // All rows, including those still kept from the views during a fill.
    int rowTotal() const { return static_cast<int>(m_rows.size()); }

    bool setText(int row, int column, QAnyStringView text);
    QString text(int row, int column) const;
    bool setRowData(int row, qint64 data);
    qint64 rowData(int row) const;
    unsigned stateImage(int row) const;
    bool setStateImage(int row, unsigned bits);
    // A note on a cell (a correction: who, when, what it was) marks it; an empty text
    // removes the mark. Notes belong to their rows and move with them.
    bool setNote(int row, int column, const QString& text);
    QString note(int row, int column) const;
    bool hasNote(int row, int column) const;
    // Whether the row's marks were worked out since it was added (see EditableListView's preparer).
    bool isPrepared(int row) const { return validRow(row) && m_rows[size_t(row)].prepared; }
    void setPrepared(int row) {
        if (validRow(row))
            m_rows[size_t(row)].prepared = true;
    }
    QString heading(int column) const;
    // The width in pixels of the widest text of the column.
    int widestText(int column, const QFontMetrics& metrics) const;

private:
    static constexpr quint64 kNowhere = ~quint64(0);
    struct Row {
        quint64 at = kNowhere; // where the packed cells lie: block index, then offset in it
        qint64 data = 0;
        quint32 size = 0;    // bytes of the packed cells
        quint32 noteKey = 0; // key of the row's cell notes, 0 for none
        unsigned state = 0;  // only the state-image bits are kept here
        bool prepared = false;
    };
    struct Block {
        std::unique_ptr<char[]> bytes;
        quint32 capacity = 0;
        quint32 used = 0;
    };
    struct CellNote {
        int column;
        QString text;
    };
    using NoteList = std::vector<CellNote>;

    const NoteList* notesOf(int row) const;
    void dropNotes(const Row& row);
    // Shifts note columns from column on by delta; a note on a removed column goes.
    void moveNoteColumns(int column, int delta);

    const char* bytesOf(const Row& row) const;
    // Gives the row new packed cells, written after everything stored so far.
    void place(Row& row, const char* bytes, quint32 size);
    // Gives the row size bytes after everything stored so far (its old cells count as unused)
    // and returns where to write them.
    char* room(Row& row, quint32 size);
    // Puts a new row at row, its cells packed by pack(row), and announces it unless filling.
    template <typename Pack> int addRow(int row, Pack pack);
    // Packs all rows anew when rewritten and deleted rows have left too much unused room.
    void compactIfWasteful();
    // Packs every row anew through transform(begin, end, out), which writes the row's new cells.
    template <typename Transform> void rewriteRows(Transform transform);

    bool validRow(int row) const { return row >= 0 && row < static_cast<int>(m_rows.size()); }
    // Whether the views know about the row, so that a change to it must be announced.
    bool published(int row) const { return row < m_published; }

    std::vector<Row> m_rows;
    std::vector<Block> m_blocks;
    std::vector<Block> m_spareBlocks; // emptied blocks kept for new rows, the next one last
    quint64 m_tailAt = kNowhere;      // the row written last, whose cells can grow where they lie
    quint64 m_stored = 0;             // bytes written into the blocks
    quint64 m_waste = 0;              // of them, bytes no row uses any more
    QByteArray m_scratch;             // a row's cells while they are rebuilt
    QStringList m_headings;
    std::vector<int> m_formats;
    // Notes are rare: kept apart from the rows, by the key a row holds.
    QHash<quint32, NoteList> m_notes;
    quint32 m_lastNoteKey = 0;
    int m_published = 0; // rows the views have been told of
    int m_fillDepth = 0;
};
