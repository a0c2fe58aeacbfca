#pragma once

#include "ImportMapping.h"
#include "ImportSource.h"

#include <QSqlDatabase>
#include <QStringList>

#include <functional>

struct ImportOptions {
    // A row whose key is already in the target replaces it; otherwise such a row is an error.
    // A set (or profile) replaced, or named by the file's rows of its values (or intervals),
    // loses the values it had: they are replaced by the file's.
    bool replace = false;
    // Progress and notes for the person running the import (table, rows done of total).
    std::function<void(const QString&)> progress;
    qint64 progressEvery = 20000;
};

struct TableImport {
    QString target;
    QString source;
    qint64 sourceRows = 0;
    qint64 inserted = 0;
    // Rows that replaced others: by their key, or as values of a set that had values before.
    qint64 replaced = 0;
    qint64 removed = 0;    // a replaced set's old values, removed
    qint64 targetRows = 0; // rows of the target table after the import
};

struct ImportSummary {
    QStringList notes; // source tables and columns left out, and why
    QVector<TableImport> tables;
};

// Writes the rows of an ImportSource into the program's tables (VET_PROFILES, ANALYSERS,
// PARAMETERS, RESULTS, RESULT_VALUES, VET_PROFILE_NORMAL_VALUES) of an open SQLite or
// PostgreSQL database, in one transaction: either every row is written and each table then
// holds the rows it had plus the new ones, or nothing is written and the message names the
// source table, row and column that failed and why.
class ResultImporter {
public:
    explicit ResultImporter(const QSqlDatabase& db) : m_db(db) {}

    bool run(ImportSource& source, const ImportMapping& mapping, const ImportOptions& options, ImportSummary* summary,
             QString* error);

    // The program's tables an import can fill, in the order they are written.
    static QStringList targetTables();
    // The columns of one of those tables, in the order of the table.
    static QStringList targetColumns(const QString& table);

private:
    QSqlDatabase m_db;
};
