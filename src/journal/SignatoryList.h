#pragma once

#include <QString>
#include <QStringList>

#include <vector>

class DatabaseConnection;

// One of the laboratory's signatories, as labrosa-dbtool --signatory keeps them.
struct Signatory {
    QString login; // the user name the correction journal records
    QString fullName;
    QString title; // printed before the name
    bool active = false;
};

// The laboratory's signatories (SIGNATORIES), read once by Load. A database without the table
// has none: its bulletins stay as they were before validation existed.
class SignatoryList {
public:
    explicit SignatoryList(DatabaseConnection* database);

    // False with errorText() when the table is there but could not be read.
    bool load();
    // The laboratory has named at least one signatory (one made inactive counts as well).
    bool any() const { return !m_signatories.empty(); }
    // The active signatory with this login, or nullptr.
    const Signatory* activeByLogin(const QString& login) const;
    // "title name (login)" of every active signatory, for a message saying who may validate.
    QStringList activeNames() const;
    // Every signatory, active or not, by full name.
    const std::vector<Signatory>& all() const { return m_signatories; }
    QString errorText() const { return m_error; }

private:
    DatabaseConnection* m_database;
    std::vector<Signatory> m_signatories;
    QString m_error;
};
