#pragma once

// Copies of the shared Jet test files in a temporary folder, so that no test can change the
// originals, and a way to read a whole table of one.

#include "MdbReader.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

class MdbFiles {
public:
    // LABROSA_MDB_TESTDATA in the environment names another folder of the same files.
    static QString sourceDir() {
        const QString dir = qEnvironmentVariable("LABROSA_MDB_TESTDATA");
        return dir.isEmpty() ? QStringLiteral(LABROSA_MDB_TESTDATA) : dir;
    }
    static bool available() { return QFileInfo::exists(sourceDir() + QStringLiteral("/nwind.mdb")); }

    // A writable copy of one of the shared files, under a name of the caller's choice.
    QString copy(const QString& name, const QString& as = QString()) {
        const QString target = m_dir.filePath(as.isEmpty() ? name : as);
        QFile::remove(target);
        if (!QFile::copy(sourceDir() + QLatin1Char('/') + name, target))
            return QString();
        QFile::setPermissions(target, QFile::ReadOwner | QFile::WriteOwner);
        return target;
    }
    QString path(const QString& name) const { return m_dir.filePath(name); }

    static QByteArray checksum(const QString& path) {
        QFile f(path);
        if (!f.open(QIODevice::ReadOnly))
            return QByteArray();
        return QCryptographicHash::hash(f.readAll(), QCryptographicHash::Sha256).toHex();
    }

    // Every row of a table, values by column name.
    static QList<QHash<QString, QVariant>> readTable(MdbReader& reader, const QString& table, QString* error) {
        QList<QHash<QString, QVariant>> rows;
        qint64 count = 0;
        if (!reader.openTable(table, &count, error))
            return rows;
        const QVector<SourceColumn> columns = reader.columns(table);
        QVector<QVariant> values;
        while (reader.nextRow(&values, error)) {
            QHash<QString, QVariant> row;
            for (int i = 0; i < columns.size(); ++i)
                row.insert(columns.at(i).name, values.at(i));
            rows << row;
        }
        return rows;
    }

private:
    QTemporaryDir m_dir;
};
