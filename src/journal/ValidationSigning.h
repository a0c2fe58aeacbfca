#pragma once

#include <QString>

class DatabaseConnection;
struct ValidationRecord;

// Writes a validation row for its signatory, inside the caller's open transaction.
class ValidationSigning {
public:
    explicit ValidationSigning(DatabaseConnection* database);

    // Writes row (its userName is the signatory's user name); *id receives the new row's id.
    bool insert(const ValidationRecord& row, const QString& password, qint64* id);
    QString errorText() const { return m_error; }

private:
    DatabaseConnection* m_database;
    QString m_error;
};
