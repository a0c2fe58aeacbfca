#include "ResultImporter.h"

#include "StoredDateTime.h"

#include <QHash>
#include <QSet>
#include <QSqlError>
#include <QSqlQuery>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <vector>

namespace {

enum class Kind { Integer, SmallInt, text, Timestamp };

struct TargetColumn {
    const char* name;
    Kind kind;
    int maxLength; // characters a text may hold; 0 for no limit
    bool notNull;
    bool key;
};

struct TargetTable {
    const char* name;
    bool serialKey; // the database numbers rows that come without a key
    std::vector<TargetColumn> columns;
    // For the rows that belong to a row of an earlier table (a set's values, a profile's
    // intervals): the column naming it and that table. Replacing a set replaces all of them.
    const char* ownerColumn = nullptr;
    const char* ownerTable = nullptr;
};

// The program's tables in the order their rows may be written (PARAMETERS names ANALYSERS,
// RESULT_VALUES names RESULTS), with the limits of schema/*.sql, so that a value that does
// not fit is refused with its row and column on both backends alike.
const std::vector<TargetTable>& targets() {
    static const std::vector<TargetTable> tables = {
        {"VET_PROFILES", false, {{"id", Kind::Integer, 0, true, true}, {"profileName", Kind::text, 79, true, false}}},
        {"ANALYSERS",
         false,
         {{"MachineID", Kind::Integer, 0, true, true}, {"AnalyseName", Kind::text, 100, true, false}}},
        {"PARAMETERS",
         false,
         {{"MachineID", Kind::Integer, 0, true, true},
          {"refcode", Kind::text, 20, true, true},
          {"refName", Kind::text, 100, false, false},
          {"um", Kind::text, 30, false, false},
          {"order", Kind::Integer, 0, false, false}}},
        {"RESULTS",
         true,
         {{"ID", Kind::Integer, 0, true, true},
          {"RequestID", Kind::text, 50, true, false},
          {"PacientName", Kind::text, 300, false, false},
          {"TransDate", Kind::Timestamp, 0, true, false},
          {"ProcDate", Kind::Timestamp, 0, false, false},
          {"Age", Kind::Integer, 0, false, false},
          {"SEX", Kind::text, 10, false, false},
          {"comment", Kind::text, 0, false, false},
          {"profileID", Kind::SmallInt, 0, false, false},
          {"VSH", Kind::text, 50, false, false}}},
        {"RESULT_VALUES",
         true,
         {{"id", Kind::Integer, 0, true, true},
          {"resultID", Kind::Integer, 0, true, false},
          {"MachineID", Kind::Integer, 0, true, false},
          {"refcode", Kind::text, 20, true, false},
          {"stringvalue", Kind::text, 100, true, false}},
         "resultID",
         "RESULTS"},
        {"VET_PROFILE_NORMAL_VALUES",
         true,
         {{"id", Kind::Integer, 0, true, true},
          {"profileID", Kind::SmallInt, 0, true, false},
          {"refcode", Kind::text, 20, true, false},
          {"sex", Kind::text, 10, false, false},
          {"minValue", Kind::text, 30, false, false},
          {"maxValue", Kind::text, 30, false, false}},
         "profileID",
         "VET_PROFILES"},
    };
    return tables;
}

QString sqlName(const char* column) {
    const QString name = QString::fromLatin1(column);
    return name == QLatin1String("order") ? QStringLiteral("\"order\"") : name;
}

QVariant typedNull(Kind kind) {
    return kind == Kind::Integer || kind == Kind::SmallInt ? QVariant(QMetaType::fromType<qlonglong>())
                                                           : QVariant(QMetaType::fromType<QString>());
}

QString shortest(double value) {
    char buf[32];
    const auto r = std::to_chars(buf, buf + sizeof buf, value);
    return QString::fromLatin1(buf, int(r.ptr - buf));
}

QString shown(const QVariant& value) {
    const QString text = value.typeId() == QMetaType::Double ? shortest(value.toDouble()) : value.toString();
    return text.size() > 40 ? text.left(40) + QStringLiteral("...") : text;
}

// The value as the target column takes it, or false with the reason.
bool convert(const QVariant& in, const TargetColumn& column, QVariant* out, QString* why) {
    if (in.isNull()) {
        if (column.notNull) {
            *why = QStringLiteral("valoarea lipseste, dar coloana %1 este obligatorie").arg(QLatin1String(column.name));
            return false;
        }
        *out = typedNull(column.kind);
        return true;
    }
    switch (column.kind) {
    case Kind::Integer:
    case Kind::SmallInt: {
        bool ok = true;
        qint64 v = 0;
        switch (in.typeId()) {
        case QMetaType::Bool:
            v = in.toBool() ? 1 : 0;
            break;
        case QMetaType::Double: {
            const double d = in.toDouble();
            ok = std::isfinite(d) && d == std::trunc(d) && std::fabs(d) < 9.2e18;
            v = ok ? qint64(d) : 0;
            break;
        }
        case QMetaType::QString:
            v = in.toString().trimmed().toLongLong(&ok);
            break;
        default:
            v = in.toLongLong(&ok);
        }
        if (!ok) {
            *why = QStringLiteral("\"%1\" nu este un numar intreg").arg(shown(in));
            return false;
        }
        if (column.kind == Kind::SmallInt && (v < -32768 || v > 32767)) {
            *why = QStringLiteral("%1 este in afara intervalului -32768..32767").arg(v);
            return false;
        }
        *out = v;
        return true;
    }
    case Kind::text: {
        QString text;
        switch (in.typeId()) {
        case QMetaType::Bool:
            text = in.toBool() ? QStringLiteral("1") : QStringLiteral("0");
            break;
        case QMetaType::Double:
            text = shortest(in.toDouble());
            break;
        default:
            text = in.toString();
        }
        if (column.maxLength > 0 && text.size() > column.maxLength) {
            *why = QStringLiteral("textul \"%1\" are %2 caractere, iar coloana %3 primeste cel mult %4")
                       .arg(shown(text))
                       .arg(text.size())
                       .arg(QLatin1String(column.name))
                       .arg(column.maxLength);
            return false;
        }
        *out = text;
        return true;
    }
    case Kind::Timestamp: {
        QDate date;
        QTime time;
        if (in.typeId() != QMetaType::QString || !parseStoredDateTime(in.toString().trimmed(), &date, &time)) {
            *why = QStringLiteral("\"%1\" nu este o data").arg(shown(in));
            return false;
        }
        *out = QStringLiteral("%1-%2-%3 %4")
                   .arg(date.year(), 4, 10, QLatin1Char('0'))
                   .arg(date.month(), 2, 10, QLatin1Char('0'))
                   .arg(date.day(), 2, 10, QLatin1Char('0'))
                   .arg(time.toString(QStringLiteral("HH:mm:ss")));
        return true;
    }
    }
    return false;
}

struct PlannedColumn {
    const TargetColumn* target = nullptr;
    int source = -1; // index in the source row; -1 for a constant
    QString sourceName;
    QVariant constant;
};

struct PlannedTable {
    const TargetTable* target = nullptr;
    QString source;
    std::vector<PlannedColumn> columns;
    std::vector<int> keys;   // positions in columns
    std::vector<int> values; // the other positions
    int owner = -1;          // position of the target's ownerColumn, if it has one
};

QString findName(const QStringList& names, const QString& name) {
    for (const QString& n : names)
        if (n.compare(name, Qt::CaseInsensitive) == 0)
            return n;
    return QString();
}

int findColumn(const QVector<SourceColumn>& columns, const QString& name) {
    for (int i = 0; i < columns.size(); ++i)
        if (columns.at(i).name.compare(name, Qt::CaseInsensitive) == 0)
            return i;
    return -1;
}

QStringList columnNames(const QVector<SourceColumn>& columns) {
    QStringList names;
    for (const SourceColumn& c : columns)
        names << c.name;
    return names;
}

bool plan(const ImportSource& source, const ImportMapping& mapping, std::vector<PlannedTable>* planned,
          QStringList* notes, QString* error) {
    const QStringList sourceTables = source.tables();
    QStringList targetNames;
    for (const TargetTable& t : targets())
        targetNames << QString::fromLatin1(t.name);
    for (const TableRule& rule : mapping.tables()) {
        if (findName(targetNames, rule.target).isEmpty()) {
            *error = QStringLiteral("maparea, randul %1: %2 nu este o tabela a programului (acestea sunt: %3)")
                         .arg(rule.line)
                         .arg(rule.target, targetNames.join(QLatin1String(", ")));
            return false;
        }
        if (findName(sourceTables, rule.source).isEmpty()) {
            *error = QStringLiteral("maparea, randul %1: fisierul nu are tabela %2 (are: %3)")
                         .arg(rule.line)
                         .arg(rule.source, sourceTables.join(QLatin1String(", ")));
            return false;
        }
    }

    QSet<QString> usedTables;
    for (const TargetTable& target : targets()) {
        const QString targetName = QString::fromLatin1(target.name);
        const TableRule* rule = nullptr;
        for (const TableRule& r : mapping.tables())
            if (r.target.compare(targetName, Qt::CaseInsensitive) == 0)
                rule = &r;
        const QString sourceTable = findName(sourceTables, rule ? rule->source : targetName);
        if (sourceTable.isEmpty())
            continue;
        const QVector<SourceColumn> sourceColumns = source.columns(sourceTable);
        PlannedTable table;
        table.target = &target;
        table.source = sourceTable;
        QSet<int> usedColumns;
        for (const TargetColumn& column : target.columns) {
            const QString columnName = QString::fromLatin1(column.name);
            const ColumnRule* columnRule = nullptr;
            if (rule)
                for (const ColumnRule& c : rule->columns)
                    if (c.target.compare(columnName, Qt::CaseInsensitive) == 0)
                        columnRule = &c;
            PlannedColumn pc;
            pc.target = &column;
            if (columnRule && columnRule->constant) {
                pc.constant = columnRule->value;
            } else {
                pc.source = findColumn(sourceColumns, columnRule ? columnRule->source : columnName);
                if (columnRule && pc.source < 0) {
                    *error =
                        QStringLiteral("maparea, randul %1: tabela %2 din fisier nu are coloana %3 (are: %4)")
                            .arg(columnRule->line)
                            .arg(sourceTable, columnRule->source, columnNames(sourceColumns).join(QLatin1String(", ")));
                    return false;
                }
                if (pc.source >= 0 && sourceColumns.at(pc.source).skipped) {
                    if (columnRule) {
                        *error = QStringLiteral("maparea, randul %1: coloana %2 a tabelei %3 este de tip %4 si nu se "
                                                "poate importa")
                                     .arg(columnRule->line)
                                     .arg(sourceColumns.at(pc.source).name, sourceTable,
                                          sourceColumns.at(pc.source).typeName);
                        return false;
                    }
                    pc.source = -1;
                }
                if (pc.source < 0) {
                    // Neither named nor found by name: the database's default, which a required
                    // column does not have unless the database numbers the rows itself.
                    if (column.notNull && !(column.key && target.serialKey)) {
                        *error = QStringLiteral("%1.%2 trebuie completata, dar tabela %3 din fisier nu are o coloana "
                                                "cu acest nume; numiti in mapare coloana din care vine (\"%2 <- ...\")")
                                     .arg(targetName, columnName, sourceTable);
                        return false;
                    }
                    continue;
                }
                pc.sourceName = sourceColumns.at(pc.source).name;
                usedColumns.insert(pc.source);
            }
            (column.key ? table.keys : table.values).push_back(int(table.columns.size()));
            table.columns.push_back(pc);
        }
        if (rule)
            for (const ColumnRule& c : rule->columns) {
                bool known = false;
                for (const TargetColumn& column : target.columns)
                    known = known || c.target.compare(QLatin1String(column.name), Qt::CaseInsensitive) == 0;
                if (!known) {
                    *error = QStringLiteral("maparea, randul %1: tabela %2 nu are coloana %3")
                                 .arg(c.line)
                                 .arg(targetName, c.target);
                    return false;
                }
            }
        // A key given in part cannot find the row it would replace.
        const int keyCount = int(
            std::count_if(target.columns.begin(), target.columns.end(), [](const TargetColumn& c) { return c.key; }));
        if (!table.keys.empty() && int(table.keys.size()) != keyCount)
            table.keys.clear();
        if (target.ownerColumn)
            for (size_t i = 0; i < table.columns.size(); ++i)
                if (qstrcmp(table.columns[i].target->name, target.ownerColumn) == 0)
                    table.owner = int(i);
        QStringList unused;
        QStringList skipped;
        for (int i = 0; i < sourceColumns.size(); ++i) {
            if (sourceColumns.at(i).skipped)
                skipped << QStringLiteral("%1 (%2)").arg(sourceColumns.at(i).name, sourceColumns.at(i).typeName);
            else if (!usedColumns.contains(i))
                unused << sourceColumns.at(i).name;
        }
        if (!skipped.isEmpty())
            *notes << QStringLiteral("tabela %1: coloanele %2 nu se pot importa si se sar")
                          .arg(sourceTable, skipped.join(QLatin1String(", ")));
        if (!unused.isEmpty())
            *notes << QStringLiteral("tabela %1: coloanele %2 nu au loc in %3 si nu se importa")
                          .arg(sourceTable, unused.join(QLatin1String(", ")), targetName);
        usedTables.insert(sourceTable);
        planned->push_back(table);
    }
    for (const QString& t : sourceTables)
        if (!usedTables.contains(t))
            *notes << QStringLiteral("tabela %1 din fisier nu corespunde niciunei tabele a programului si nu se "
                                     "importa")
                          .arg(t);
    if (planned->empty()) {
        *error = QStringLiteral("nicio tabela din fisier nu are numele unei tabele a programului (%1); dati o mapare "
                                "cu --map")
                     .arg(targetNames.join(QLatin1String(", ")));
        return false;
    }
    return true;
}

bool exec(QSqlQuery& q, const QString& sql, QString* error) {
    if (!q.exec(sql)) {
        *error = q.lastError().text();
        return false;
    }
    return true;
}

bool count(QSqlDatabase& db, const char* table, qint64* rows, QString* error) {
    QSqlQuery q(db);
    if (!exec(q, QStringLiteral("SELECT COUNT(*) FROM %1").arg(QLatin1String(table)), error) || !q.next()) {
        *error = QStringLiteral("randurile tabelei %1 nu se pot numara: %2").arg(QLatin1String(table), *error);
        return false;
    }
    *rows = q.value(0).toLongLong();
    return true;
}

// The keys of a table's rows. A single whole-number key, the usual one, is kept as a number:
// a text per row would cost far more for millions of values.
class KeySet {
public:
    KeySet(const PlannedTable& table)
        : m_keys(table.keys),
          m_numeric(table.keys.size() == 1 && table.columns[size_t(table.keys.front())].target->kind == Kind::Integer) {
    }

    bool contains(const std::vector<QVariant>& values) const {
        return m_numeric ? m_ids.contains(values[size_t(m_keys.front())].toLongLong()) : m_texts.contains(text(values));
    }
    void insert(const std::vector<QVariant>& values) {
        if (m_numeric)
            m_ids.insert(values[size_t(m_keys.front())].toLongLong());
        else
            m_texts.insert(text(values));
    }
    void remove(const std::vector<QVariant>& values) {
        if (m_numeric)
            m_ids.remove(values[size_t(m_keys.front())].toLongLong());
        else
            m_texts.remove(text(values));
    }
    void reserve(qint64 size) {
        if (m_numeric)
            m_ids.reserve(int(size));
        else
            m_texts.reserve(int(size));
    }

private:
    QString text(const std::vector<QVariant>& values) const {
        QString t;
        for (int k : m_keys) {
            if (!t.isEmpty())
                t += QChar(0x1f);
            t += values[size_t(k)].toString();
        }
        return t;
    }
    std::vector<int> m_keys;
    bool m_numeric;
    QSet<qint64> m_ids;
    QSet<QString> m_texts;
};

QString keyShown(const PlannedTable& table, const std::vector<QVariant>& values) {
    QStringList parts;
    for (int k : table.keys)
        parts << QStringLiteral("%1 %2").arg(QLatin1String(table.columns[size_t(k)].target->name),
                                             values[size_t(k)].toString());
    return parts.join(QLatin1String(", "));
}

// The single whole-number key of a row, for tables that other tables' rows belong to.
bool singleNumericKey(const PlannedTable& table) {
    return table.keys.size() == 1 && table.columns[size_t(table.keys.front())].target->kind == Kind::Integer;
}

// replacedKeys: per table written before, the keys of the rows this import replaced there;
// this table's are added.
bool writeTable(QSqlDatabase& db, ImportSource& source, const PlannedTable& table, const ImportOptions& options,
                QHash<QString, QSet<qint64>>* replacedKeys, TableImport* done, QString* error) {
    const QString targetName = QString::fromLatin1(table.target->name);
    done->target = targetName;
    done->source = table.source;
    qint64 before = 0;
    if (!count(db, table.target->name, &before, error))
        return false;

    QStringList names;
    QStringList marks;
    for (const PlannedColumn& c : table.columns) {
        names << sqlName(c.target->name);
        marks << QStringLiteral("?");
    }
    QSqlQuery insert(db);
    if (!insert.prepare(QStringLiteral("INSERT INTO %1 (%2) VALUES (%3)")
                            .arg(targetName, names.join(QLatin1String(", ")), marks.join(QLatin1String(", "))))) {
        *error = QStringLiteral("%1: %2").arg(targetName, insert.lastError().text());
        return false;
    }
    QSqlQuery update(db);
    const bool canUpdate = options.replace && !table.keys.empty() && !table.values.empty();
    if (canUpdate) {
        QStringList sets;
        QStringList where;
        for (int v : table.values)
            sets << sqlName(table.columns[size_t(v)].target->name) + QStringLiteral(" = ?");
        for (int k : table.keys)
            where << sqlName(table.columns[size_t(k)].target->name) + QStringLiteral(" = ?");
        if (!update.prepare(QStringLiteral("UPDATE %1 SET %2 WHERE %3")
                                .arg(targetName, sets.join(QLatin1String(", ")), where.join(QLatin1String(" AND "))))) {
            *error = QStringLiteral("%1: %2").arg(targetName, update.lastError().text());
            return false;
        }
    }
    // The keys already there, to tell a new row from one that replaces another.
    KeySet present(table);
    if (!table.keys.empty()) {
        QStringList keyNames;
        for (int k : table.keys)
            keyNames << sqlName(table.columns[size_t(k)].target->name);
        QSqlQuery q(db);
        if (!exec(q, QStringLiteral("SELECT %1 FROM %2").arg(keyNames.join(QLatin1String(", ")), targetName), error)) {
            *error = QStringLiteral("cheile tabelei %1 nu se pot citi: %2").arg(targetName, *error);
            return false;
        }
        present.reserve(before);
        while (q.next()) {
            std::vector<QVariant> keys(table.columns.size());
            for (size_t i = 0; i < table.keys.size(); ++i)
                keys[size_t(table.keys[i])] = q.value(int(i));
            present.insert(keys);
        }
    }

    // Rows that belong to a set (or a profile): the sets that already have rows here. With
    // --replace a set's old rows are removed just before its first row from the file is
    // written, so that importing the set again does not add its values a second time.
    const bool owned = table.owner >= 0;
    QSet<qint64> ownersBefore;
    QSet<qint64> ownersCleared;
    qint64 addedToOwners = 0; // rows added to a set that had rows, without --replace
    QSqlQuery ownedRemove(db);
    QSqlQuery ownedKeys(db);
    QString ownerName;
    if (owned) {
        ownerName = sqlName(table.target->ownerColumn);
        QSqlQuery q(db);
        if (!exec(q, QStringLiteral("SELECT DISTINCT %1 FROM %2").arg(ownerName, targetName), error)) {
            *error = QStringLiteral("tabela %1 nu se poate citi: %2").arg(targetName, *error);
            return false;
        }
        while (q.next())
            ownersBefore.insert(q.value(0).toLongLong());
        if (options.replace) {
            QStringList keyNames;
            for (int k : table.keys)
                keyNames << sqlName(table.columns[size_t(k)].target->name);
            if (!ownedRemove.prepare(QStringLiteral("DELETE FROM %1 WHERE %2 = ?").arg(targetName, ownerName)) ||
                (!keyNames.isEmpty() &&
                 !ownedKeys.prepare(QStringLiteral("SELECT %1 FROM %2 WHERE %3 = ?")
                                        .arg(keyNames.join(QLatin1String(", ")), targetName, ownerName)))) {
                *error = QStringLiteral("%1: %2").arg(
                    targetName, (ownedRemove.lastError().isValid() ? ownedRemove : ownedKeys).lastError().text());
                return false;
            }
        }
    }
    // Removes the rows a set had before the import; their keys are free again.
    auto clearOwner = [&](qint64 owner) {
        if (!table.keys.empty()) {
            ownedKeys.bindValue(0, owner);
            if (!ownedKeys.exec()) {
                *error = QStringLiteral("%1: randurile vechi pentru %2 %3 nu se pot citi: %4")
                             .arg(targetName, ownerName)
                             .arg(owner)
                             .arg(ownedKeys.lastError().text());
                return false;
            }
            while (ownedKeys.next()) {
                std::vector<QVariant> keys(table.columns.size());
                for (size_t i = 0; i < table.keys.size(); ++i)
                    keys[size_t(table.keys[i])] = ownedKeys.value(int(i));
                present.remove(keys);
            }
        }
        ownedRemove.bindValue(0, owner);
        if (!ownedRemove.exec()) {
            *error = QStringLiteral("%1: randurile vechi pentru %2 %3 nu se pot sterge: %4")
                         .arg(targetName, ownerName)
                         .arg(owner)
                         .arg(ownedRemove.lastError().text());
            return false;
        }
        done->removed += ownedRemove.numRowsAffected();
        ownersCleared.insert(owner);
        return true;
    };
    QSet<qint64>* replacedHere = options.replace && singleNumericKey(table) ? &(*replacedKeys)[targetName] : nullptr;
    qint64 inserts = 0; // rows written by INSERT

    qint64 total = 0;
    if (!source.openTable(table.source, &total, error))
        return false;
    done->sourceRows = 0;
    QVector<QVariant> row;
    std::vector<QVariant> values(table.columns.size());
    KeySet seen(table);
    auto report = [&] {
        if (options.progress)
            options.progress(QStringLiteral("%1 <- %2: %3 din %4 randuri")
                                 .arg(targetName, table.source)
                                 .arg(done->sourceRows)
                                 .arg(total));
    };
    QString why;
    while (source.nextRow(&row, &why)) {
        const qint64 rowNo = ++done->sourceRows;
        for (size_t i = 0; i < table.columns.size(); ++i) {
            const PlannedColumn& c = table.columns[i];
            const QVariant& in = c.source >= 0 ? row.at(c.source) : c.constant;
            if (!convert(in, *c.target, &values[i], &why)) {
                *error = QStringLiteral("tabela %1 din fisier, randul %2, coloana %3 (pentru %4.%5): %6")
                             .arg(table.source)
                             .arg(rowNo)
                             .arg(c.source >= 0 ? c.sourceName : QStringLiteral("constanta din mapare"), targetName,
                                  QLatin1String(c.target->name), why);
                return false;
            }
        }
        bool ownerReplaced = false;
        if (owned) {
            const qint64 owner = values[size_t(table.owner)].toLongLong();
            if (ownersBefore.contains(owner)) {
                if (!options.replace)
                    ++addedToOwners;
                else if (!ownersCleared.contains(owner) && !clearOwner(owner))
                    return false;
                ownerReplaced = options.replace;
            }
        }
        bool replaces = false;
        if (!table.keys.empty()) {
            const bool there = present.contains(values);
            if (there || seen.contains(values)) {
                if (!options.replace) {
                    *error = QStringLiteral("tabela %1 din fisier, randul %2: %3 exista deja in %4%5; folositi "
                                            "--replace ca sa il inlocuiti")
                                 .arg(table.source)
                                 .arg(rowNo)
                                 .arg(keyShown(table, values), targetName,
                                      there ? QString() : QStringLiteral(" (apare de doua ori in fisier)"));
                    return false;
                }
                replaces = true;
            }
            seen.insert(values);
        }
        QSqlQuery& q = replaces ? update : insert;
        if (replaces) {
            if (canUpdate) {
                int at = 0;
                for (int v : table.values)
                    q.bindValue(at++, values[size_t(v)]);
                for (int k : table.keys)
                    q.bindValue(at++, values[size_t(k)]);
            }
        } else {
            for (size_t i = 0; i < values.size(); ++i)
                q.bindValue(int(i), values[i]);
        }
        if ((!replaces || canUpdate) && !q.exec()) {
            *error = QStringLiteral("tabela %1 din fisier, randul %2: baza de date nu a primit randul in %3: %4")
                         .arg(table.source)
                         .arg(rowNo)
                         .arg(targetName, q.lastError().text());
            return false;
        }
        if (replaces) {
            // A key seen twice in the file replaces the row it added itself.
            if (present.contains(values)) {
                ++done->replaced;
                if (replacedHere)
                    replacedHere->insert(values[size_t(table.keys.front())].toLongLong());
            }
        } else {
            ++inserts;
            ++(ownerReplaced ? done->replaced : done->inserted);
        }
        if (options.progressEvery > 0 && rowNo % options.progressEvery == 0)
            report();
    }
    if (!why.isEmpty()) {
        *error = why;
        return false;
    }
    report();
    if (done->sourceRows != total) {
        *error = QStringLiteral("tabela %1 din fisier: s-au citit %2 randuri, dar tabela spune ca are %3")
                     .arg(table.source)
                     .arg(done->sourceRows)
                     .arg(total);
        return false;
    }
    // A set the file replaced whose rows here the file no longer holds keeps none of its old
    // ones either: the set is now what the file says.
    if (owned && options.replace)
        for (qint64 owner : replacedKeys->value(QString::fromLatin1(table.target->ownerTable)))
            if (ownersBefore.contains(owner) && !ownersCleared.contains(owner) && !clearOwner(owner))
                return false;
    if (addedToOwners > 0) {
        const QString note = QStringLiteral("%1 <- %2: %3 randuri s-au adaugat langa randurile vechi cu acelasi %4 "
                                            "(cu --replace le-ar fi inlocuit)")
                                 .arg(targetName, table.source)
                                 .arg(addedToOwners)
                                 .arg(QLatin1String(table.target->ownerColumn));
        if (options.progress)
            options.progress(note);
    }
    if (!count(db, table.target->name, &done->targetRows, error))
        return false;
    const qint64 expected = before - done->removed + inserts;
    if (done->targetRows != expected) {
        *error = QStringLiteral("%1 are %2 randuri dupa import, dar trebuia sa aiba %3 (%4 dinainte, %5 sterse si %6 "
                                "noi)")
                     .arg(targetName)
                     .arg(done->targetRows)
                     .arg(expected)
                     .arg(before)
                     .arg(done->removed)
                     .arg(inserts);
        return false;
    }
    return true;
}

} // namespace

QStringList ResultImporter::targetTables() {
    QStringList names;
    for (const TargetTable& t : targets())
        names << QString::fromLatin1(t.name);
    return names;
}

QStringList ResultImporter::targetColumns(const QString& table) {
    QStringList names;
    for (const TargetTable& t : targets())
        if (table.compare(QLatin1String(t.name), Qt::CaseInsensitive) == 0)
            for (const TargetColumn& column : t.columns)
                names << QString::fromLatin1(column.name);
    return names;
}

bool ResultImporter::run(ImportSource& source, const ImportMapping& mapping, const ImportOptions& options,
                         ImportSummary* summary, QString* error) {
    std::vector<PlannedTable> planned;
    if (!plan(source, mapping, &planned, &summary->notes, error))
        return false;
    for (const QString& note : summary->notes)
        if (options.progress)
            options.progress(note);

    const bool sqlite = m_db.driverName() == QLatin1String("QSQLITE");
    QSqlQuery control(m_db);
    // A large import keeps more pages in memory rather than spilling them to the log mid-way.
    if (sqlite)
        control.exec(QStringLiteral("PRAGMA cache_size = -65536"));
    // SQLite takes the write lock at once: a plain BEGIN that reads first fails when another
    // workstation writes in between.
    if (sqlite ? !exec(control, QStringLiteral("BEGIN IMMEDIATE"), error) : !m_db.transaction()) {
        if (!sqlite)
            *error = m_db.lastError().text();
        *error = QStringLiteral("importul nu poate incepe: %1").arg(*error);
        return false;
    }
    auto rollback = [&] {
        if (sqlite)
            QSqlQuery(m_db).exec(QStringLiteral("ROLLBACK"));
        else
            m_db.rollback();
    };
    summary->tables.clear();
    QHash<QString, QSet<qint64>> replacedKeys;
    for (const PlannedTable& table : planned) {
        TableImport done;
        if (!writeTable(m_db, source, table, options, &replacedKeys, &done, error)) {
            rollback();
            *error += QStringLiteral("; nu s-a scris nimic in baza de date");
            return false;
        }
        summary->tables << done;
        // PostgreSQL numbers new rows from a sequence that rows with their own key leave behind.
        if (!sqlite && table.target->serialKey && !table.keys.empty()) {
            QSqlQuery q(m_db);
            const QString name = QString::fromLatin1(table.target->name);
            const QString key = QString::fromLatin1(table.target->columns.front().name);
            if (!exec(q,
                      QStringLiteral(
                          "SELECT setval(pg_get_serial_sequence('%1', '%2'), GREATEST(COALESCE(MAX(%2), 0), 1), "
                          "MAX(%2) IS NOT NULL) FROM %1")
                          .arg(name.toLower(), key.toLower()),
                      error)) {
                rollback();
                *error = QStringLiteral("%1: numaratoarea randurilor nu se poate pune la zi: %2; nu s-a scris nimic "
                                        "in baza de date")
                             .arg(name, *error);
                return false;
            }
        }
    }
    const bool committed = sqlite ? exec(control, QStringLiteral("COMMIT"), error) : m_db.commit();
    if (!committed) {
        if (!sqlite)
            *error = m_db.lastError().text();
        rollback();
        *error = QStringLiteral("importul nu s-a putut incheia: %1; nu s-a scris nimic in baza de date").arg(*error);
        return false;
    }
    return true;
}
