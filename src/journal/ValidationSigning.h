#pragma once

#include <QString>

class DatabaseConnection;
struct ValidationRecord;

// Writes a validation row for its signatory, inside the caller's open transaction, once the
// signatory's signing password is right: on SQLite the program checks it against the stored
// hash, on PostgreSQL the server's function checks it and writes the row (the program's role
// may not insert one itself).
class ValidationSigning {
public:
    explicit ValidationSigning(DatabaseConnection* database);

    // Writes row (its userName is the signatory's user name); *id receives the new row's id.
    // A wrong password, a lock or a signatory without a password writes nothing and sets
    // passwordRefused(): the caller rolls back and records the attempt (SigningPasswords::check),
    // which a rolled-back transaction cannot keep.
    bool insert(const ValidationRecord& row, const QString& password, qint64* id);
    bool passwordRefused() const { return m_refused; }
    QString errorText() const { return m_error; }

private:
    bool insertOnServer(const ValidationRecord& row, const QString& password, qint64* id);

    DatabaseConnection* m_database;
    QString m_error;
    bool m_refused = false;
};
