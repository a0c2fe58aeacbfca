#pragma once

#include <QString>

class DatabaseConnection;

// Changes to the laboratory's signatories (SIGNATORIES) made from the program: one is added,
// made inactive or active again. Rows are never deleted, so old validations keep their name.
// Each change reads and writes in one transaction, so two workstations cannot both add a login.
class SignatoryRegister {
public:
    // Longest texts the table holds, refused rather than cut: a name is printed as typed.
    static constexpr int kMaxLogin = 100;
    static constexpr int kMaxFullName = 200;
    static constexpr int kMaxTitle = 100;

    enum class Outcome {
        done,
        alreadyActive, // add: the login is an active signatory already
        notActive,     // deactivate: no such active signatory
        notInactive,   // reactivate: no such inactive signatory
        failed,        // the database refused; errorText() says why, nothing was changed
    };

    explicit SignatoryRegister(DatabaseConnection* database);

    // True when the texts fit the table: a login and a full name (trimmed) are required.
    static bool acceptable(const QString& login, const QString& fullName, const QString& title);

    // A new active signatory, or one made inactive before made active again under these names.
    Outcome add(const QString& login, const QString& fullName, const QString& title);
    Outcome deactivate(const QString& login) { return setActive(login, false); }
    // Active again under the name and title it had.
    Outcome reactivate(const QString& login) { return setActive(login, true); }

    QString errorText() const { return m_error; }

private:
    // The login's active flag in the open transaction: 1, 0, -1 when there is none, -2 on error.
    int activeFlag(const QString& login);
    Outcome finish(bool written);
    Outcome setActive(const QString& login, bool active);

    DatabaseConnection* m_database;
    QString m_error;
};
