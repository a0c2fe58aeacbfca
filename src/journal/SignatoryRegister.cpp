#include "SignatoryRegister.h"

#include "DatabaseConnection.h"
#include "Recordset.h"

namespace {
const char* const kSelectOne = "SELECT active FROM SIGNATORIES WHERE userName = ?";
const char* const kInsert = "INSERT INTO SIGNATORIES (userName, fullName, title, active) VALUES (?, ?, ?, 1)";
const char* const kReactivateNamed = "UPDATE SIGNATORIES SET fullName = ?, title = ?, active = 1 WHERE userName = ?";
const char* const kSetActive = "UPDATE SIGNATORIES SET active = ? WHERE userName = ?";
} // namespace

SignatoryRegister::SignatoryRegister(DatabaseConnection* database) : m_database(database) {}

bool SignatoryRegister::acceptable(const QString& login, const QString& fullName, const QString& title) {
    const QString l = login.trimmed(), n = fullName.trimmed(), t = title.trimmed();
    return !l.isEmpty() && l.size() <= kMaxLogin && !n.isEmpty() && n.size() <= kMaxFullName && t.size() <= kMaxTitle;
}

int SignatoryRegister::activeFlag(const QString& login) {
    Recordset read;
    if (!read.open(QString::fromLatin1(kSelectOne), m_database, {login})) {
        m_error = read.errorText();
        return -2;
    }
    int flag = -1;
    QVariant value;
    if (!read.isEOF()) {
        if (!read.getFieldValue(QStringLiteral("active"), &value)) {
            m_error = read.errorText();
            return -2;
        }
        flag = value.toInt() != 0 ? 1 : 0;
    } else if (read.readFailed()) {
        m_error = read.errorText();
        return -2;
    }
    read.close();
    return flag;
}

SignatoryRegister::Outcome SignatoryRegister::finish(bool written) {
    if (written && m_database->rowsAffected() == 1 && m_database->commitTransaction())
        return Outcome::done;
    if (m_error.isEmpty())
        m_error = m_database->errorText();
    if (m_database->inTransaction())
        m_database->rollbackTransaction();
    return Outcome::failed;
}

SignatoryRegister::Outcome SignatoryRegister::add(const QString& login, const QString& fullName, const QString& title) {
    m_error.clear();
    const QString l = login.trimmed(), n = fullName.trimmed(), t = title.trimmed();
    if (!acceptable(l, n, t)) {
        m_error = QStringLiteral("numele de utilizator si numele complet sunt obligatorii, in lungimile tabelei");
        return Outcome::failed;
    }
    if (!m_database->beginTransaction()) {
        m_error = m_database->errorText();
        return Outcome::failed;
    }
    const int flag = activeFlag(l);
    if (flag == -2)
        return finish(false);
    if (flag == 1) {
        m_database->rollbackTransaction();
        return Outcome::alreadyActive;
    }
    const bool written = flag == 0 ? m_database->execute(QString::fromLatin1(kReactivateNamed), {n, t, l})
                                   : m_database->execute(QString::fromLatin1(kInsert), {l, n, t});
    return finish(written);
}

SignatoryRegister::Outcome SignatoryRegister::setActive(const QString& login, bool active) {
    m_error.clear();
    if (!m_database->beginTransaction()) {
        m_error = m_database->errorText();
        return Outcome::failed;
    }
    const int flag = activeFlag(login);
    if (flag == -2)
        return finish(false);
    // Only a change of state is written: the active one made active again is refused, and so on.
    if (flag != (active ? 0 : 1)) {
        m_database->rollbackTransaction();
        return active ? Outcome::notInactive : Outcome::notActive;
    }
    return finish(m_database->execute(QString::fromLatin1(kSetActive), {active ? 1 : 0, login}));
}
