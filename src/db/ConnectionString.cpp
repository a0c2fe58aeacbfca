#include "ConnectionString.h"

ConnectionString ConnectionString::parse(const QString& text) {
    ConnectionString result;
    int pos = 0;
    const int n = text.size();
    while (pos < n) {
        int eq = text.indexOf(QLatin1Char('='), pos);
        int semi = text.indexOf(QLatin1Char(';'), pos);
        if (eq < 0 || (semi >= 0 && semi < eq)) {
            // A part without '=' carries nothing; skip it.
            if (semi < 0)
                break;
            pos = semi + 1;
            continue;
        }
        const QString key = text.mid(pos, eq - pos).trimmed().toLower();
        pos = eq + 1;
        while (pos < n && text.at(pos).isSpace())
            ++pos;
        QString value;
        if (pos < n && (text.at(pos) == QLatin1Char('"') || text.at(pos) == QLatin1Char('\''))) {
            const QChar quote = text.at(pos++);
            while (pos < n) {
                if (text.at(pos) == quote) {
                    if (pos + 1 < n && text.at(pos + 1) == quote) {
                        value += quote;
                        pos += 2;
                        continue;
                    }
                    ++pos;
                    break;
                }
                value += text.at(pos++);
            }
            semi = text.indexOf(QLatin1Char(';'), pos);
            pos = semi < 0 ? n : semi + 1;
        } else {
            semi = text.indexOf(QLatin1Char(';'), pos);
            const int end = semi < 0 ? n : semi;
            value = text.mid(pos, end - pos).trimmed();
            pos = end + 1;
        }
        if (!key.isEmpty())
            result.m_values.insert(key, value);
    }
    return result;
}

bool ConnectionString::isSQLite() const {
    const QString p = provider().toLower();
    return p == QLatin1String("sqlite") || p == QLatin1String("qsqlite");
}

bool ConnectionString::isPostgreSQL() const {
    const QString p = provider().toLower();
    return p == QLatin1String("postgresql") || p == QLatin1String("postgres") || p == QLatin1String("qpsql");
}

QString ConnectionString::sqliteFile() const {
    if (contains(QStringLiteral("data source")))
        return value(QStringLiteral("data source"));
    return value(QStringLiteral("database"));
}
