#include "ImportMapping.h"

#include <QFile>
#include <QRegularExpression>

namespace {

// The line up to a '#' that stands outside a quoted constant.
QString withoutComment(const QString& line) {
    bool quoted = false;
    for (int i = 0; i < line.size(); ++i) {
        if (line.at(i) == QLatin1Char('\''))
            quoted = !quoted;
        else if (line.at(i) == QLatin1Char('#') && !quoted)
            return line.left(i);
    }
    return line;
}

QString unbracketed(const QString& name) {
    if (name.size() >= 2 && name.startsWith(QLatin1Char('[')) && name.endsWith(QLatin1Char(']')))
        return name.mid(1, name.size() - 2).trimmed();
    return name;
}

// A source side that is a constant: 'text', a number or NULL. False when it is a name.
bool readConstant(const QString& text, QVariant* value, QString* why) {
    if (text.startsWith(QLatin1Char('\''))) {
        QString out;
        int i = 1;
        for (; i < text.size(); ++i) {
            if (text.at(i) == QLatin1Char('\'')) {
                if (i + 1 < text.size() && text.at(i + 1) == QLatin1Char('\'')) {
                    out += QLatin1Char('\'');
                    ++i;
                    continue;
                }
                break;
            }
            out += text.at(i);
        }
        if (i >= text.size())
            *why = QStringLiteral("textul constant nu se incheie cu '");
        else if (i != text.size() - 1)
            *why = QStringLiteral("dupa textul constant mai urmeaza ceva");
        *value = out;
        return true;
    }
    if (text.compare(QLatin1String("NULL"), Qt::CaseInsensitive) == 0) {
        *value = QVariant();
        return true;
    }
    static const QRegularExpression integer(QStringLiteral("^[-+]?[0-9]+$"));
    static const QRegularExpression decimal(QStringLiteral("^[-+]?[0-9]*\\.[0-9]+$"));
    if (integer.match(text).hasMatch()) {
        bool ok = false;
        *value = text.toLongLong(&ok);
        if (!ok)
            *why = QStringLiteral("numarul %1 este prea mare").arg(text);
        return true;
    }
    if (decimal.match(text).hasMatch()) {
        *value = text; // kept as written, so nothing is rounded
        return true;
    }
    return false;
}

} // namespace

bool ImportMapping::parse(const QString& text, QString* error) {
    m_tables.clear();
    const QStringList lines = text.split(QLatin1Char('\n'));
    for (int n = 0; n < lines.size(); ++n) {
        const int lineNo = n + 1;
        const QString line = withoutComment(lines.at(n)).trimmed();
        if (line.isEmpty())
            continue;
        auto fail = [&](const QString& why) {
            *error = QStringLiteral("maparea, randul %1: %2 (\"%3\")").arg(lineNo).arg(why, lines.at(n).trimmed());
            m_tables.clear();
            return false;
        };
        const int arrow = line.indexOf(QLatin1String("<-"));
        if (arrow < 0)
            return fail(QStringLiteral("lipseste <- intre tinta si sursa"));
        QString left = line.left(arrow).trimmed();
        const QString right = line.mid(arrow + 2).trimmed();
        if (right.isEmpty())
            return fail(QStringLiteral("lipseste sursa dupa <-"));
        static const QRegularExpression tableWord(QStringLiteral("^table\\s+"),
                                                  QRegularExpression::CaseInsensitiveOption);
        const auto match = tableWord.match(left);
        if (match.hasMatch()) {
            TableRule rule;
            rule.target = left.mid(match.capturedLength()).trimmed();
            rule.source = unbracketed(right);
            rule.line = lineNo;
            if (rule.target.isEmpty() || rule.source.isEmpty())
                return fail(QStringLiteral("lipseste numele unei tabele"));
            for (const TableRule& other : m_tables)
                if (other.target.compare(rule.target, Qt::CaseInsensitive) == 0)
                    return fail(
                        QStringLiteral("tabela %1 are deja o regula, la randul %2").arg(rule.target).arg(other.line));
            m_tables << rule;
            continue;
        }
        if (m_tables.isEmpty())
            return fail(QStringLiteral("regula de coloana inainte de orice \"table ... <- ...\""));
        if (left.isEmpty() || left.contains(QLatin1Char(' ')))
            return fail(QStringLiteral("tinta trebuie sa fie numele unei coloane"));
        ColumnRule rule;
        rule.target = left;
        rule.line = lineNo;
        QString why;
        if (readConstant(right, &rule.value, &why)) {
            if (!why.isEmpty())
                return fail(why);
            rule.constant = true;
        } else {
            rule.source = unbracketed(right);
        }
        TableRule& table = m_tables.last();
        for (const ColumnRule& other : table.columns)
            if (other.target.compare(rule.target, Qt::CaseInsensitive) == 0)
                return fail(
                    QStringLiteral("coloana %1 are deja o regula, la randul %2").arg(rule.target).arg(other.line));
        table.columns << rule;
    }
    return true;
}

bool ImportMapping::load(const QString& path, QString* error) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("maparea %1 nu se poate citi: %2").arg(path, file.errorString());
        return false;
    }
    return parse(QString::fromUtf8(file.readAll()), error);
}
