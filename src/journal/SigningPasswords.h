#pragma once

#include <QDateTime>
#include <QString>

class DatabaseConnection;

// The signatories' signing passwords (SIGNATORY_PASSWORDS) and every password checked
// (SIGNING_ATTEMPTS). On SQLite the program keeps an Argon2id hash (libsodium) and enforces the
// lock itself; on PostgreSQL the server hashes with bcrypt and its functions check, record and
// lock, since the program's role may not read the hashes. Passwords never reach the log.
class SigningPasswords {
public:
    // Wrong passwords in a row that lock a signatory, and for how long after the last.
    static constexpr int kLockAttempts = 5;
    static constexpr int kLockMinutes = 15;
    static constexpr int kMinLength = 8;

    enum class Outcome {
        accepted,
        wrong,        // recorded; lockedUntil() is valid when this one locked the signatory
        locked,       // nothing was checked; lockedUntil() says until when
        noPassword,   // the signatory has set none yet
        notSignatory, // no active signatory has this login
        failed,       // the database could not answer; errorText() says why, nothing recorded
    };

    explicit SigningPasswords(DatabaseConnection* database);

    // Checks login's password and records the attempt (while locked nothing is checked).
    Outcome check(const QString& login, const QString& password);
    // Gives login a new password; the current one must be right when one is set (checked and
    // recorded as by check).
    Outcome change(const QString& login, const QString& current, const QString& newPassword);
    // Sets login's password without the current one: the administrator's tool.
    Outcome reset(const QString& login, const QString& newPassword);
    // SQLite, inside the caller's open transaction: checks without recording anything.
    Outcome verify(const QString& login, const QString& password);
    // SQLite: records an accepted password in the caller's open transaction (a validation).
    bool recordAccepted(const QString& login) { return recordAttempt(login, true); }
    // A new password long enough to be one.
    static bool acceptableNew(const QString& password) { return password.size() >= kMinLength; }

    // After check or change: the lock in force (UTC), invalid when there is none.
    QDateTime lockedUntil() const { return m_lockedUntil; }
    QString errorText() const { return m_error; }
    // What the outcome means for the person at the workstation, in the program's words.
    QString outcomeText(Outcome outcome, const QString& login) const;

private:
    bool onServer() const;
    Outcome serverCall(const QString& sql, const QVariantList& values);
    // SQLite: reads the lock and the stored hash of an active signatory.
    Outcome readState(const QString& login, QString* hash);
    bool recordAttempt(const QString& login, bool accepted);
    Outcome storeHash(const QString& login, const QString& newPassword);
    // Ends the open transaction: committed when keep, else rolled back; a failed commit fails.
    Outcome finish(Outcome outcome, bool keep);

    DatabaseConnection* m_database;
    QDateTime m_lockedUntil;
    QString m_error;
};
