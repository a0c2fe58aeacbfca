#include "SigningPasswords.h"

#include "CorrectionJournal.h"
#include "DatabaseConnection.h"
#include "LabSchemaCheck.h"
#include "Recordset.h"
#include "SqlDialect.h"

#include <QSqlError>
#include <QSqlQuery>

#include <sodium.h>

namespace {

const char* const kSelectActive = "SELECT 1 FROM SIGNATORIES WHERE userName = ? AND active = 1";
const char* const kSelectLastAttempts = "SELECT accepted, attemptedAt FROM SIGNING_ATTEMPTS WHERE userName = ? "
                                        "ORDER BY attemptedAt DESC, id DESC LIMIT 5";
const char* const kSelectHash = "SELECT passwordHash FROM SIGNATORY_PASSWORDS WHERE userName = ?";
// %1: the dialect's date parameter.
const char* const kInsertAttempt =
    "INSERT INTO SIGNING_ATTEMPTS (userName, attemptedAt, accepted, workstation) VALUES (?, %1, ?, ?)";
const char* const kDeleteHash = "DELETE FROM SIGNATORY_PASSWORDS WHERE userName = ?";
const char* const kInsertHash = "INSERT INTO SIGNATORY_PASSWORDS (userName, passwordHash, setAt) VALUES (?, ?, %1)";

// PostgreSQL: the server's functions (schema/journal-postgresql.sql) do the work.
const char* const kServerCheck = "SELECT outcome, to_char(locked_until, 'YYYY-MM-DD HH24:MI:SS') FROM "
                                 "labrosa_check_signing_password(?, ?, ?)";
const char* const kServerChange = "SELECT outcome, to_char(locked_until, 'YYYY-MM-DD HH24:MI:SS') FROM "
                                  "labrosa_set_signing_password(?, ?, ?, ?)";
// The administrator's reset, run as the tables' owner.
const char* const kServerReset =
    "INSERT INTO SIGNATORY_PASSWORDS (userName, passwordHash, setAt) SELECT userName, crypt(?, gen_salt('bf', 10)), "
    "timezone('UTC', clock_timestamp()) FROM SIGNATORIES WHERE userName = ? AND active = 1 ON CONFLICT (userName) "
    "DO UPDATE SET passwordHash = EXCLUDED.passwordHash, setAt = EXCLUDED.setAt";
// undefined_function, undefined_table: a database made before signing passwords.
const char* const kMissingCodes[] = {"42883", "42P01"};

const char* const kMsgMissing = "Baza de date nu are parolele de semnare (se adauga cu labrosa-dbtool --upgrade).";

bool sodiumReady() {
    static const bool ready = sodium_init() >= 0;
    return ready;
}

QString localText(const QDateTime& utc) {
    return utc.toLocalTime().toString(QStringLiteral("d/M/yyyy H:mm"));
}

} // namespace

SigningPasswords::SigningPasswords(DatabaseConnection* database) : m_database(database) {}

bool SigningPasswords::onServer() const {
    return m_database->dialect().kind() == SqlDialect::Kind::PostgreSQL;
}

// The statement runs outside the connection's logged path: a failed statement is written to
// the log with its values, and these values are passwords.
SigningPasswords::Outcome SigningPasswords::serverCall(const QString& sql, const QVariantList& values) {
    QSqlQuery query(m_database->connection());
    bool ok = query.prepare(sql);
    for (int i = 0; ok && i < values.size(); ++i)
        query.bindValue(i, values.at(i));
    ok = ok && query.exec();
    if (!ok || !query.next()) {
        const QSqlError error = query.lastError();
        m_database->noteErrorCode(error.nativeErrorCode());
        bool missing = false;
        for (const char* code : kMissingCodes)
            missing = missing || error.nativeErrorCode() == QLatin1String(code);
        m_error = missing ? QString::fromLatin1(kMsgMissing) : error.text();
        return Outcome::failed;
    }
    const QString outcome = query.value(0).toString();
    m_lockedUntil = query.value(1).isNull() ? QDateTime() : CorrectionJournal::timeFromValue(query.value(1));
    if (outcome == QLatin1String("accepted"))
        return Outcome::accepted;
    if (outcome == QLatin1String("wrong"))
        return Outcome::wrong;
    if (outcome == QLatin1String("locked"))
        return Outcome::locked;
    if (outcome == QLatin1String("nopassword"))
        return Outcome::noPassword;
    if (outcome == QLatin1String("notsignatory"))
        return Outcome::notSignatory;
    m_error = QStringLiteral("Raspuns necunoscut al serverului: %1").arg(outcome);
    return Outcome::failed;
}

SigningPasswords::Outcome SigningPasswords::readState(const QString& login, QString* hash) {
    m_lockedUntil = QDateTime();
    hash->clear();
    const int exists = tableExists(m_database, QStringLiteral("SIGNATORY_PASSWORDS"), &m_error);
    if (exists <= 0) {
        if (exists == 0)
            m_error = QString::fromLatin1(kMsgMissing);
        return Outcome::failed;
    }
    Recordset read;
    if (!read.open(QString::fromLatin1(kSelectActive), m_database, {login})) {
        m_error = read.errorText();
        return Outcome::failed;
    }
    const bool active = !read.isEOF();
    if (!active && read.readFailed()) {
        m_error = read.errorText();
        return Outcome::failed;
    }
    read.close();
    if (!active)
        return Outcome::notSignatory;

    // Locked while the last kLockAttempts were all wrong and the last is recent.
    if (!read.open(QString::fromLatin1(kSelectLastAttempts), m_database, {login})) {
        m_error = read.errorText();
        return Outcome::failed;
    }
    int wrong = 0;
    QDateTime last;
    QVariant accepted, at;
    while (!read.isEOF()) {
        if (!read.getFieldValueAt(0, &accepted) || !read.getFieldValueAt(1, &at)) {
            m_error = read.errorText();
            return Outcome::failed;
        }
        if (accepted.toInt() != 0)
            break;
        if (!last.isValid())
            last = CorrectionJournal::timeFromValue(at);
        ++wrong;
        read.moveNext();
    }
    if (read.readFailed()) {
        m_error = read.errorText();
        return Outcome::failed;
    }
    read.close();
    if (wrong >= kLockAttempts && last.isValid()) {
        const QDateTime until = last.addSecs(60 * kLockMinutes);
        if (until > CorrectionJournal::now()) {
            m_lockedUntil = until;
            return Outcome::locked;
        }
    }

    if (!read.open(QString::fromLatin1(kSelectHash), m_database, {login})) {
        m_error = read.errorText();
        return Outcome::failed;
    }
    QVariant stored;
    if (!read.isEOF() && !read.getFieldValueAt(0, &stored)) {
        m_error = read.errorText();
        return Outcome::failed;
    }
    if (read.isEOF() && read.readFailed()) {
        m_error = read.errorText();
        return Outcome::failed;
    }
    read.close();
    *hash = stored.toString();
    return hash->isEmpty() ? Outcome::noPassword : Outcome::accepted;
}

SigningPasswords::Outcome SigningPasswords::verify(const QString& login, const QString& password) {
    m_error.clear();
    QString hash;
    const Outcome state = readState(login, &hash);
    if (state != Outcome::accepted)
        return state;
    if (!sodiumReady()) {
        m_error = QStringLiteral("Biblioteca libsodium nu a putut fi pornita.");
        return Outcome::failed;
    }
    const QByteArray stored = hash.toLatin1();
    const QByteArray typed = password.toUtf8();
    return crypto_pwhash_str_verify(stored.constData(), typed.constData(), std::size_t(typed.size())) == 0
               ? Outcome::accepted
               : Outcome::wrong;
}

bool SigningPasswords::recordAttempt(const QString& login, bool accepted) {
    if (m_database->execute(QString::fromLatin1(kInsertAttempt).arg(m_database->dialect().dateParameter()),
                            {login, CorrectionJournal::timeText(CorrectionJournal::now()).left(19), accepted ? 1 : 0,
                             CorrectionJournal::workstation()}))
        return true;
    m_error = m_database->errorText();
    return false;
}

SigningPasswords::Outcome SigningPasswords::check(const QString& login, const QString& password) {
    m_error.clear();
    m_lockedUntil = QDateTime();
    if (onServer())
        return serverCall(QString::fromLatin1(kServerCheck), {login, password, CorrectionJournal::workstation()});
    if (!m_database->beginTransaction()) {
        m_error = m_database->errorText();
        return Outcome::failed;
    }
    Outcome outcome = verify(login, password);
    if (outcome == Outcome::accepted || outcome == Outcome::wrong) {
        if (!recordAttempt(login, outcome == Outcome::accepted))
            outcome = Outcome::failed;
        else if (outcome == Outcome::wrong) {
            // This one may be the attempt that locks the signatory: the message says so.
            QString hash;
            if (readState(login, &hash) == Outcome::failed)
                outcome = Outcome::failed;
        }
    }
    return finish(outcome, outcome != Outcome::failed);
}

SigningPasswords::Outcome SigningPasswords::finish(Outcome outcome, bool keep) {
    if (!keep) {
        m_database->rollbackTransaction();
        return outcome;
    }
    if (!m_database->commitTransaction()) {
        m_error = m_database->errorText();
        return Outcome::failed;
    }
    return outcome;
}

SigningPasswords::Outcome SigningPasswords::storeHash(const QString& login, const QString& newPassword) {
    if (!sodiumReady()) {
        m_error = QStringLiteral("Biblioteca libsodium nu a putut fi pornita.");
        return Outcome::failed;
    }
    char hash[crypto_pwhash_STRBYTES];
    const QByteArray typed = newPassword.toUtf8();
    if (crypto_pwhash_str(hash, typed.constData(), std::size_t(typed.size()), crypto_pwhash_OPSLIMIT_INTERACTIVE,
                          crypto_pwhash_MEMLIMIT_INTERACTIVE) != 0) {
        m_error = QStringLiteral("Parola nu a putut fi transformata (memorie insuficienta).");
        return Outcome::failed;
    }
    // DELETE then INSERT: both dialects, one row per signatory.
    if (!m_database->execute(QString::fromLatin1(kDeleteHash), {login}) ||
        !m_database->execute(
            QString::fromLatin1(kInsertHash).arg(m_database->dialect().dateParameter()),
            {login, QString::fromLatin1(hash), CorrectionJournal::timeText(CorrectionJournal::now()).left(19)})) {
        m_error = m_database->errorText();
        return Outcome::failed;
    }
    return Outcome::accepted;
}

SigningPasswords::Outcome SigningPasswords::change(const QString& login, const QString& current,
                                                   const QString& newPassword) {
    m_error.clear();
    m_lockedUntil = QDateTime();
    if (!acceptableNew(newPassword)) {
        m_error = QStringLiteral("Parola noua trebuie sa aiba cel putin %1 caractere.").arg(kMinLength);
        return Outcome::failed;
    }
    if (onServer())
        return serverCall(QString::fromLatin1(kServerChange),
                          {login, current, newPassword, CorrectionJournal::workstation()});
    if (!m_database->beginTransaction()) {
        m_error = m_database->errorText();
        return Outcome::failed;
    }
    Outcome outcome = verify(login, current);
    if (outcome == Outcome::accepted || outcome == Outcome::wrong) {
        if (!recordAttempt(login, outcome == Outcome::accepted)) {
            outcome = Outcome::failed;
        } else if (outcome == Outcome::wrong) {
            QString hash;
            if (readState(login, &hash) == Outcome::failed)
                outcome = Outcome::failed;
        }
    }
    // The first password needs no current one.
    if (outcome == Outcome::accepted || outcome == Outcome::noPassword)
        outcome = storeHash(login, newPassword);
    return finish(outcome, outcome != Outcome::failed);
}

SigningPasswords::Outcome SigningPasswords::reset(const QString& login, const QString& newPassword) {
    m_error.clear();
    m_lockedUntil = QDateTime();
    if (!acceptableNew(newPassword)) {
        m_error = QStringLiteral("Parola noua trebuie sa aiba cel putin %1 caractere.").arg(kMinLength);
        return Outcome::failed;
    }
    if (onServer()) {
        QSqlQuery query(m_database->connection());
        query.prepare(QString::fromLatin1(kServerReset));
        query.bindValue(0, newPassword);
        query.bindValue(1, login);
        if (!query.exec()) {
            m_error = query.lastError().text();
            return Outcome::failed;
        }
        return query.numRowsAffected() == 1 ? Outcome::accepted : Outcome::notSignatory;
    }
    if (!m_database->beginTransaction()) {
        m_error = m_database->errorText();
        return Outcome::failed;
    }
    QString hash;
    Outcome outcome = readState(login, &hash);
    // A lock in force stays: it counts wrong passwords, whoever set the right one.
    if (outcome == Outcome::accepted || outcome == Outcome::noPassword || outcome == Outcome::locked)
        outcome = storeHash(login, newPassword);
    return finish(outcome, outcome == Outcome::accepted);
}

QString SigningPasswords::outcomeText(Outcome outcome, const QString& login) const {
    switch (outcome) {
    case Outcome::accepted:
        return QString();
    case Outcome::wrong:
        if (m_lockedUntil.isValid())
            return QStringLiteral("Parola de semnare a lui %1 este gresita. Dupa %2 parole gresite la rand, %1 nu "
                                  "mai poate semna pana la %3.")
                .arg(login)
                .arg(kLockAttempts)
                .arg(localText(m_lockedUntil));
        return QStringLiteral("Parola de semnare a lui %1 este gresita. Dupa %2 parole gresite la rand semnarea se "
                              "blocheaza %3 minute.")
            .arg(login)
            .arg(kLockAttempts)
            .arg(kLockMinutes);
    case Outcome::locked:
        return QStringLiteral("%1 a dat %2 parole de semnare gresite la rand si nu poate semna pana la %3.")
            .arg(login)
            .arg(kLockAttempts)
            .arg(localText(m_lockedUntil));
    case Outcome::noPassword:
        return QStringLiteral("%1 nu are inca o parola de semnare, asa ca nu poate valida. Si-o pune din meniul "
                              "Laborator, Semnatari, butonul Parola de semnare... (sau administratorul, cu "
                              "labrosa-dbtool --signatory password %1).")
            .arg(login);
    case Outcome::notSignatory:
        return QStringLiteral("%1 nu este semnatar activ al laboratorului.").arg(login);
    case Outcome::failed:
        break;
    }
    return m_error;
}
