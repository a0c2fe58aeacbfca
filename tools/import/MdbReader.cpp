#include "MdbReader.h"

#include <QDate>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <mdbtools.h>

#include <charconv>
#include <cmath>
#include <cstring>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// Jet keeps a date as days since this one; the fraction is the time of day.
const QDate kJetEpoch(1899, 12, 30);
// Access accepts the years 100 to 9999.
const double kFirstJetDay = -657434.0;    // 0100-01-01
const double kPastLastJetDay = 2958466.0; // 10000-01-01

const int kOffsetMask = 0x1fff;

quint32 le32(const unsigned char* p) {
    return quint32(p[0]) | quint32(p[1]) << 8 | quint32(p[2]) << 16 | quint32(p[3]) << 24;
}

template <typename T> T raw(const unsigned char* p) {
    T v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

MdbHandle* handle(void* mdb) {
    return static_cast<MdbHandle*>(mdb);
}

QString typeName(int type) {
    switch (type) {
    case MDB_BOOL:
        return QStringLiteral("da/nu");
    case MDB_BYTE:
    case MDB_INT:
    case MDB_LONGINT:
        return QStringLiteral("numar intreg");
    case MDB_MONEY:
        return QStringLiteral("valuta");
    case MDB_FLOAT:
    case MDB_DOUBLE:
        return QStringLiteral("numar real");
    case MDB_DATETIME:
        return QStringLiteral("data");
    case MDB_TEXT:
        return QStringLiteral("text");
    case MDB_MEMO:
        return QStringLiteral("nota");
    case MDB_NUMERIC:
        return QStringLiteral("numar zecimal");
    case MDB_REPID:
        return QStringLiteral("cod GUID");
    case MDB_OLE:
        return QStringLiteral("OLE");
    case MDB_BINARY:
        return QStringLiteral("binar");
    default:
        return QStringLiteral("tip %1").arg(type);
    }
}

bool carried(int type) {
    switch (type) {
    case MDB_BOOL:
    case MDB_BYTE:
    case MDB_INT:
    case MDB_LONGINT:
    case MDB_MONEY:
    case MDB_FLOAT:
    case MDB_DOUBLE:
    case MDB_DATETIME:
    case MDB_TEXT:
    case MDB_MEMO:
    case MDB_NUMERIC:
    case MDB_REPID:
        return true;
    default:
        return false;
    }
}

// The lock file Access keeps beside a database it has open.
QString lockFileOf(const QString& path) {
    const QFileInfo info(path);
    const QString base = info.dir().filePath(info.completeBaseName());
    for (const char* suffix : {".ldb", ".LDB"})
        if (QFileInfo::exists(base + QLatin1String(suffix)))
            return base + QLatin1String(suffix);
    return QString();
}

// Whether another process holds a lock on any byte of the file (Access and file servers
// lock ranges of a database they have open).
bool lockedByOther(int fd) {
    struct flock lock {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    lock.l_start = 0;
    lock.l_len = 0;
    return fcntl(fd, F_GETLK, &lock) == 0 && lock.l_type != F_UNLCK;
}

bool writeAll(int fd, const QByteArray& bytes) {
    const char* p = bytes.constData();
    qint64 left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, p, size_t(left));
        if (n <= 0)
            return false;
        p += n;
        left -= n;
    }
    return true;
}

} // namespace

MdbReader::~MdbReader() {
    close();
}

void MdbReader::close() {
    for (Table& t : m_tables)
        if (t.def)
            mdb_free_tabledef(t.def);
    m_tables.clear();
    m_current = nullptr;
    if (m_mdb)
        mdb_close(handle(m_mdb));
    m_mdb = nullptr;
}

bool MdbReader::open(const QString& path, QString* error) {
    close();
    m_path = path;
    const QFileInfo info(path);
    if (!info.exists()) {
        *error = QStringLiteral("fisierul %1 nu exista").arg(path);
        return false;
    }
    if (!info.isFile()) {
        *error = QStringLiteral("%1 nu este un fisier").arg(path);
        return false;
    }
    const QString lockFile = lockFileOf(path);
    if (!lockFile.isEmpty()) {
        *error = QStringLiteral("%1 pare deschis in Access (exista %2); inchideti Access si incercati din nou. Daca "
                                "Access nu mai ruleaza, stergeti %2.")
                     .arg(path, lockFile);
        return false;
    }
    const QByteArray local = QFile::encodeName(path);
    const int fd = ::open(local.constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        *error = QStringLiteral("fisierul %1 nu se poate citi: %2").arg(path, QString::fromLocal8Bit(strerror(errno)));
        return false;
    }
    unsigned char head[0x20] = {};
    const ssize_t got = ::pread(fd, head, sizeof head, 0);
    const bool locked = lockedByOther(fd);
    ::close(fd);
    if (locked) {
        *error = QStringLiteral("%1 este blocat de alt program (Access sau un server de fisiere il are deschis); "
                                "inchideti-l si incercati din nou")
                     .arg(path);
        return false;
    }
    if (got != qint64(sizeof head) || head[0] != 0 || std::memcmp(head + 4, "Standard ", 9) != 0) {
        *error = QStringLiteral("%1 nu este o baza de date Access (.mdb)").arg(path);
        return false;
    }
    if (std::memcmp(head + 4, "Standard ACE DB", 16) == 0) {
        *error = QStringLiteral("%1 este o baza de date Access 2007 sau mai noua (.accdb); se pot importa doar "
                                "fisiere .mdb (Jet 3 si Jet 4). Salvati-o din Access ca .mdb.")
                     .arg(path);
        return false;
    }
    if (std::memcmp(head + 4, "Standard Jet DB", 16) != 0 || head[0x14] > 1) {
        *error = QStringLiteral("%1 nu este o baza de date Access Jet 3 sau Jet 4").arg(path);
        return false;
    }
    m_jet4 = head[0x14] == 1;
    m_pageSize = m_jet4 ? 4096 : 2048;
    const qint64 size = info.size();
    // The table catalogue starts on page 2: a shorter file cannot be whole.
    if (size % m_pageSize != 0 || size < 3 * m_pageSize) {
        *error = QStringLiteral("%1 este incomplet (trunchiat): %2 octeti nu fac un numar intreg de pagini de %3 "
                                "octeti. Copiati din nou fisierul.")
                     .arg(path)
                     .arg(size)
                     .arg(m_pageSize);
        return false;
    }
    m_pages = size / m_pageSize;

    MdbHandle* mdb = mdb_open(local.constData(), MDB_NOFLAGS);
    if (!mdb) {
        *error = QStringLiteral("%1 nu se poate deschide ca baza de date Access").arg(path);
        return false;
    }
    m_mdb = mdb;
    if (!mdb_read_catalog(mdb, MDB_TABLE)) {
        *error = QStringLiteral("lista tabelelor din %1 nu se poate citi; fisierul pare deteriorat").arg(path);
        close();
        return false;
    }
    for (unsigned int i = 0; i < mdb->num_catalog; ++i) {
        auto* entry = static_cast<MdbCatalogEntry*>(g_ptr_array_index(mdb->catalog, i));
        if (entry->object_type != MDB_TABLE || !mdb_is_user_table(entry))
            continue;
        Table t;
        t.name = QString::fromUtf8(entry->object_name);
        t.def = mdb_read_table(entry);
        if (!t.def || !mdb_read_columns(t.def)) {
            if (t.def)
                mdb_free_tabledef(t.def);
            *error = QStringLiteral("tabela %1 din %2 nu se poate citi; fisierul pare deteriorat").arg(t.name, path);
            close();
            return false;
        }
        for (unsigned int c = 0; c < t.def->num_cols; ++c) {
            auto* col = static_cast<MdbColumn*>(g_ptr_array_index(t.def->columns, c));
            SourceColumn sc;
            sc.name = QString::fromUtf8(col->name);
            sc.typeName = typeName(col->col_type);
            sc.skipped = !carried(col->col_type);
            t.columns << sc;
        }
        m_tables.push_back(t);
    }
    // A damaged catalogue reads as one without tables; that is the file, not the mapping.
    if (m_tables.empty()) {
        *error = QStringLiteral("%1 nu a putut fi citit ca baza de date Access: lista tabelelor lui nu contine nicio "
                                "tabela (fisierul este deteriorat sau nu este un .mdb). Nu s-a importat nimic; "
                                "reparati fisierul in Access (Compact and Repair) sau folositi o copie buna.")
                     .arg(path);
        close();
        return false;
    }
    return true;
}

QString MdbReader::formatName() const {
    return m_jet4 ? QStringLiteral("Jet 4") : QStringLiteral("Jet 3");
}

QStringList MdbReader::tables() const {
    QStringList names;
    for (const Table& t : m_tables)
        names << t.name;
    return names;
}

QVector<SourceColumn> MdbReader::columns(const QString& table) const {
    for (const Table& t : m_tables)
        if (t.name == table)
            return t.columns;
    return {};
}

bool MdbReader::openTable(const QString& table, qint64* rows, QString* error) {
    m_current = nullptr;
    for (Table& t : m_tables)
        if (t.name == table)
            m_current = &t;
    if (!m_current) {
        *error = QStringLiteral("tabela %1 nu exista in fisier").arg(table);
        return false;
    }
    mdb_rewind_table(m_current->def);
    m_read = 0;
    m_expected = m_current->def->num_rows;
    *rows = m_expected;
    return true;
}

bool MdbReader::nextRow(QVector<QVariant>* values, QString* error) {
    error->clear();
    if (!m_current)
        return false;
    MdbTableDef* def = m_current->def;
    MdbHandle* mdb = handle(m_mdb);
    auto damaged = [&](const QString& why) {
        *error = QStringLiteral("tabela %1, randul %2: %3; fisierul pare deteriorat")
                     .arg(m_current->name)
                     .arg(m_read)
                     .arg(why);
        return false;
    };
    if (!mdb_fetch_row(def)) {
        // libmdb ends a table quietly at a page it cannot read: count what came.
        if (m_read != m_expected) {
            *error = QStringLiteral("tabela %1: s-au putut citi doar %2 din cele %3 randuri; fisierul pare "
                                    "deteriorat sau trunchiat")
                         .arg(m_current->name)
                         .arg(m_read)
                         .arg(m_expected);
        }
        return false;
    }
    ++m_read;
    if (m_read > m_expected)
        return damaged(QStringLiteral("tabela are mai multe randuri decat cele %1 pe care le declara").arg(m_expected));

    // The row libmdb has just read, split again so that an empty text stays apart from NULL.
    int start = 0;
    size_t length = 0;
    if (mdb_find_row(mdb, int(def->cur_row) - 1, &start, &length) != 0)
        return damaged(QStringLiteral("randul nu se gaseste in pagina"));
    start &= kOffsetMask;
    std::vector<MdbField> fields(def->num_cols);
    if (mdb_crack_row(def, start, length, fields.data()) < 0)
        return damaged(QStringLiteral("randul nu se poate desface in coloane"));
    values->fill(QVariant(), int(def->num_cols));
    for (unsigned int i = 0; i < def->num_cols; ++i) {
        const MdbField& f = fields[i];
        if (f.colnum < 0 || f.colnum >= int(def->num_cols))
            return damaged(QStringLiteral("coloana %1 nu exista").arg(f.colnum));
        QString why;
        if (!value(f.colnum, f.is_null, f.start, f.siz, &(*values)[f.colnum], &why)) {
            *error = QStringLiteral("tabela %1, randul %2, coloana %3: %4")
                         .arg(m_current->name)
                         .arg(m_read)
                         .arg(m_current->columns.at(f.colnum).name, why);
            return false;
        }
    }
    return true;
}

bool MdbReader::value(int column, bool isNull, int start, int size, QVariant* out, QString* error) const {
    MdbHandle* mdb = handle(m_mdb);
    auto* col = static_cast<MdbColumn*>(g_ptr_array_index(m_current->def->columns, column));
    // A yes/no value lives in the row's null mask: a set bit (not NULL) is yes.
    if (col->col_type == MDB_BOOL) {
        *out = !isNull;
        return true;
    }
    if (isNull || !carried(col->col_type)) {
        *out = QVariant();
        return true;
    }
    auto needs = [&](int bytes) {
        if (start < 0 || size < bytes || start + size > m_pageSize) {
            *error = QStringLiteral("valoarea iese din pagina (%1 octeti de la %2)").arg(size).arg(start);
            return false;
        }
        return true;
    };
    const unsigned char* p = mdb->pg_buf + start;
    switch (col->col_type) {
    case MDB_BYTE:
        if (!needs(1))
            return false;
        *out = qint64(p[0]);
        return true;
    case MDB_INT:
        if (!needs(2))
            return false;
        *out = qint64(raw<qint16>(p));
        return true;
    case MDB_LONGINT:
        if (!needs(4))
            return false;
        *out = qint64(raw<qint32>(p));
        return true;
    case MDB_MONEY:
        if (!needs(8))
            return false;
        *out = currencyText(raw<qint64>(p));
        return true;
    case MDB_FLOAT: {
        if (!needs(4))
            return false;
        // The shortest text that reads back as the same single, so 0.1 stays 0.1.
        char buf[32];
        const auto r = std::to_chars(buf, buf + sizeof buf, raw<float>(p));
        *out = QByteArray(buf, int(r.ptr - buf)).toDouble();
        return true;
    }
    case MDB_DOUBLE:
        if (!needs(8))
            return false;
        *out = raw<double>(p);
        return true;
    case MDB_DATETIME: {
        if (!needs(8))
            return false;
        QString text;
        if (!dateText(raw<double>(p), &text)) {
            *error = QStringLiteral("data %1 este in afara anilor 100-9999").arg(raw<double>(p));
            return false;
        }
        *out = text;
        return true;
    }
    case MDB_TEXT:
        if (size == 0) {
            *out = QString(QLatin1String(""));
            return true;
        }
        if (!needs(1))
            return false;
        *out = text(p, size_t(size));
        return true;
    case MDB_MEMO: {
        if (!needs(0))
            return false;
        QString memoText;
        if (!memo(start, size, &memoText, error))
            return false;
        *out = memoText;
        return true;
    }
    case MDB_NUMERIC: {
        if (!needs(17))
            return false;
        char* s = mdb_numeric_to_string(mdb, start, col->col_scale, col->col_prec);
        *out = QString::fromUtf8(s);
        g_free(s);
        return true;
    }
    case MDB_REPID: {
        if (!needs(16))
            return false;
        char* s = mdb_uuid_to_string(mdb->pg_buf, start);
        *out = QString::fromUtf8(s);
        g_free(s);
        return true;
    }
    default:
        *out = QVariant();
        return true;
    }
}

QString MdbReader::text(const unsigned char* bytes, size_t length) const {
    // Room for the longest UTF-8 form of any character the file can hold.
    std::vector<char> out(length * 3 + 16);
    const int n =
        mdb_unicode2ascii(handle(m_mdb), reinterpret_cast<const char*>(bytes), length, out.data(), out.size() - 1);
    return QString::fromUtf8(out.data(), qMax(0, n));
}

// A memo's 12-byte head in the row says where its text is: in the row itself, in one row of
// another page, or in a chain of such rows. libmdb cuts long memos at its buffer size, so the
// bytes are gathered here and converted once.
bool MdbReader::memo(int start, int size, QString* value, QString* error) const {
    MdbHandle* mdb = handle(m_mdb);
    if (size < MDB_MEMO_OVERHEAD) {
        *value = QString(QLatin1String(""));
        return true;
    }
    const unsigned char* head = mdb->pg_buf + start;
    const quint32 flags = le32(head);
    const quint32 length = flags & 0x3fffffff;
    QByteArray bytes;
    if (flags & 0x80000000) {
        bytes = QByteArray(reinterpret_cast<const char*>(head + MDB_MEMO_OVERHEAD), size - MDB_MEMO_OVERHEAD);
    } else if ((flags & 0xff000000) == 0 || (flags & 0x40000000)) {
        const bool single = flags & 0x40000000;
        qint32 pageRow = qint32(le32(head + 4));
        for (qint64 hops = 0; pageRow != 0; ++hops) {
            void* buf = nullptr;
            int offset = 0;
            size_t len = 0;
            if (hops > m_pages || mdb_find_pg_row(mdb, pageRow, &buf, &offset, &len) != 0 ||
                offset + len > size_t(m_pageSize)) {
                *error = QStringLiteral("textul lung nu se poate citi (pagina %1)").arg(pageRow >> 8);
                return false;
            }
            const char* row = static_cast<const char*>(buf) + offset;
            if (single) {
                bytes.append(row, int(qMin<size_t>(len, length)));
                break;
            }
            if (len < 4) {
                *error = QStringLiteral("textul lung este rupt (pagina %1)").arg(pageRow >> 8);
                return false;
            }
            bytes.append(row + 4, int(len - 4));
            pageRow = qint32(le32(reinterpret_cast<const unsigned char*>(row)));
            if (quint32(bytes.size()) >= length)
                break;
        }
        if (quint32(bytes.size()) < length) {
            *error = QStringLiteral("textul lung are %1 din %2 octeti").arg(bytes.size()).arg(length);
            return false;
        }
        bytes.truncate(int(length));
    } else {
        *error = QStringLiteral("text lung de un fel necunoscut (0x%1)").arg(flags >> 24, 2, 16, QLatin1Char('0'));
        return false;
    }
    *value = bytes.isEmpty() ? QString(QLatin1String(""))
                             : text(reinterpret_cast<const unsigned char*>(bytes.constData()), size_t(bytes.size()));
    return true;
}

bool MdbReader::dateText(double days, QString* text) {
    if (!std::isfinite(days) || days < kFirstJetDay || days >= kPastLastJetDay)
        return false;
    const double whole = std::trunc(days);
    // Before the epoch the day counts down but the time of day still counts up.
    qint64 seconds = std::llround(std::fabs(days - whole) * 86400.0);
    qint64 day = qint64(whole);
    if (seconds >= 86400) {
        seconds -= 86400;
        day += 1;
    }
    const QDate date = kJetEpoch.addDays(day);
    if (!date.isValid() || date.year() < 100 || date.year() > 9999)
        return false;
    *text = QStringLiteral("%1-%2-%3 %4:%5:%6")
                .arg(date.year(), 4, 10, QLatin1Char('0'))
                .arg(date.month(), 2, 10, QLatin1Char('0'))
                .arg(date.day(), 2, 10, QLatin1Char('0'))
                .arg(seconds / 3600, 2, 10, QLatin1Char('0'))
                .arg(seconds / 60 % 60, 2, 10, QLatin1Char('0'))
                .arg(seconds % 60, 2, 10, QLatin1Char('0'));
    return true;
}

QString MdbReader::currencyText(qint64 tenThousandths) {
    const bool negative = tenThousandths < 0;
    const quint64 magnitude = negative ? 0 - quint64(tenThousandths) : quint64(tenThousandths);
    return QStringLiteral("%1%2.%3")
        .arg(negative ? QStringLiteral("-") : QString())
        .arg(magnitude / 10000)
        .arg(magnitude % 10000, 4, 10, QLatin1Char('0'));
}

bool MdbReader::probe(const QString& path, QString* error) {
    int fds[2];
    if (::pipe(fds) != 0) {
        *error =
            QStringLiteral("nu se poate porni verificarea fisierului: %1").arg(QString::fromLocal8Bit(strerror(errno)));
        return false;
    }
    const pid_t pid = ::fork();
    if (pid < 0) {
        ::close(fds[0]);
        ::close(fds[1]);
        *error =
            QStringLiteral("nu se poate porni verificarea fisierului: %1").arg(QString::fromLocal8Bit(strerror(errno)));
        return false;
    }
    if (pid == 0) {
        // The child: what libmdb says on standard error comes along too.
        ::close(fds[0]);
        ::dup2(fds[1], STDERR_FILENO);
        MdbReader reader;
        QString why;
        if (!reader.open(path, &why)) {
            writeAll(fds[1], "\nE\t" + why.toUtf8() + '\n');
            ::_exit(1);
        }
        for (const QString& table : reader.tables()) {
            writeAll(fds[1], "\nT\t" + table.toUtf8() + '\n');
            qint64 rows = 0;
            QVector<QVariant> values;
            if (!reader.openTable(table, &rows, &why)) {
                writeAll(fds[1], "\nE\t" + why.toUtf8() + '\n');
                ::_exit(1);
            }
            while (reader.nextRow(&values, &why)) {
            }
            if (!why.isEmpty()) {
                writeAll(fds[1], "\nE\t" + why.toUtf8() + '\n');
                ::_exit(1);
            }
        }
        ::_exit(0);
    }
    ::close(fds[1]);
    QByteArray said;
    char buf[4096];
    for (;;) {
        const ssize_t n = ::read(fds[0], buf, sizeof buf);
        if (n > 0)
            said.append(buf, int(n));
        else if (n == 0 || errno != EINTR)
            break;
    }
    ::close(fds[0]);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0)
        return true;
    QString table;
    QString failure;
    QStringList other;
    for (const QByteArray& line : said.split('\n')) {
        if (line.startsWith("T\t"))
            table = QString::fromUtf8(line.mid(2));
        else if (line.startsWith("E\t"))
            failure = QString::fromUtf8(line.mid(2));
        else if (!line.trimmed().isEmpty())
            other << QString::fromUtf8(line.trimmed());
    }
    if (!failure.isEmpty()) {
        *error = failure;
        return false;
    }
    const QString how = WIFSIGNALED(status) ? QStringLiteral("s-a oprit brusc (semnalul %1)").arg(WTERMSIG(status))
                                            : QStringLiteral("s-a oprit cu codul %1").arg(WEXITSTATUS(status));
    *error = QStringLiteral("citirea tabelei %1 %2; fisierul %3 pare deteriorat")
                 .arg(table.isEmpty() ? QStringLiteral("(lista tabelelor)") : table, how, path);
    if (!other.isEmpty())
        *error += QStringLiteral(" (%1)").arg(other.mid(qMax(0, other.size() - 3)).join(QLatin1String("; ")));
    return false;
}
