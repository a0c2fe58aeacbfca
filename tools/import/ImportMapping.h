#pragma once

#include <QString>
#include <QVariant>
#include <QVector>

// Which table and column of the laboratory's file fills which of the program's, for files
// whose names differ from the program's. The text form, one rule a line:
//
//   # a comment (also after a rule)
//   table RESULTS <- Comenzi            the program's table, then the file's table
//   RequestID <- NrCerere               a column of that table from a column of the file's
//   SEX <- 'F'                          or from a constant: a text in single quotes ('' is a
//   Age <- 0                            quote inside it), a number, or NULL
//   PacientName <- [Nume pacient]       brackets around a name that could read as a constant
//
// Column rules belong to the table rule above them. Names are compared ignoring case; a
// column the mapping does not name is still filled from the file's column of the same name.
struct ColumnRule {
    QString target;
    QString source; // empty for a constant
    bool constant = false;
    QVariant value; // the constant; a null QVariant is NULL
    int line = 0;
};

struct TableRule {
    QString target;
    QString source;
    QVector<ColumnRule> columns;
    int line = 0;
};

class ImportMapping {
public:
    // Reads the rules; on a line it cannot read, false with a message naming the line.
    bool parse(const QString& text, QString* error);
    bool load(const QString& path, QString* error);

    const QVector<TableRule>& tables() const { return m_tables; }

private:
    QVector<TableRule> m_tables;
};
