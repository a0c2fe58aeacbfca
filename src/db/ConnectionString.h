#pragma once

#include <QMap>
#include <QString>

// A connection string of the form "key=value;key=value". Keys are matched without regard
// to case and values are trimmed; a value may be quoted with " or ' (a doubled quote stands
// for itself) to hold a semicolon.
class ConnectionString {
public:
    static ConnectionString parse(const QString& text);

    QString value(const QString& key) const { return m_values.value(key.trimmed().toLower()); }
    bool contains(const QString& key) const { return m_values.contains(key.trimmed().toLower()); }
    QString provider() const { return value(QStringLiteral("provider")); }
    bool isSQLite() const;
    bool isPostgreSQL() const;

    // SQLite: the file named by "Data Source" (also accepted: "Database").
    QString sqliteFile() const;

private:
    QMap<QString, QString> m_values;
};
