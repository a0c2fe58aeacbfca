#include "SignatoryList.h"

#include "DatabaseConnection.h"
#include "LabSchemaCheck.h"
#include "Recordset.h"

namespace {
const char* const kSelectAll = "SELECT userName, fullName, title, active FROM SIGNATORIES ORDER BY fullName, userName";
} // namespace

SignatoryList::SignatoryList(DatabaseConnection* database) : m_database(database) {}

bool SignatoryList::load() {
    m_signatories.clear();
    m_error.clear();
    if (!m_database)
        return true;
    const int exists = tableExists(m_database, QStringLiteral("SIGNATORIES"), &m_error);
    if (exists < 0)
        return false;
    if (exists == 0)
        return true;
    Recordset read;
    if (!read.open(QString::fromLatin1(kSelectAll), m_database)) {
        m_error = read.errorText();
        return false;
    }
    QVariant v;
    while (!read.isEOF()) {
        Signatory s;
        read.getFieldValue(QStringLiteral("userName"), &v);
        s.login = v.toString();
        read.getFieldValue(QStringLiteral("fullName"), &v);
        s.fullName = v.toString();
        read.getFieldValue(QStringLiteral("title"), &v);
        s.title = v.toString();
        read.getFieldValue(QStringLiteral("active"), &v);
        s.active = v.toInt() != 0;
        m_signatories.push_back(std::move(s));
        read.moveNext();
    }
    if (read.readFailed()) {
        // Part of the list could leave someone out, or make bulletins look unsigned.
        m_error = read.errorText();
        m_signatories.clear();
        read.close();
        return false;
    }
    read.close();
    return true;
}

const Signatory* SignatoryList::activeByLogin(const QString& login) const {
    for (const Signatory& s : m_signatories)
        if (s.active && s.login == login)
            return &s;
    return nullptr;
}

QStringList SignatoryList::activeNames() const {
    QStringList names;
    for (const Signatory& s : m_signatories)
        if (s.active)
            names << QStringLiteral("%1 %2 (%3)").arg(s.title, s.fullName, s.login).trimmed();
    return names;
}
