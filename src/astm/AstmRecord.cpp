#include "AstmRecord.h"

AstmRecord::AstmRecord(const QString& text, const AstmDelimiters& delimiters)
    : m_fields(text.split(delimiters.field)), m_delimiters(delimiters) {}

QString AstmRecord::rawField(int number) const {
    return number >= 1 && number <= m_fields.size() ? m_fields.at(number - 1) : QString();
}

int AstmRecord::repeatCount(int field) const {
    const QString raw = rawField(field);
    return raw.isEmpty() ? 0 : int(raw.count(m_delimiters.repeat)) + 1;
}

QString AstmRecord::component(int field, int component, int repeat) const {
    // The H record's field 2 holds the delimiters themselves.
    if (field == 2 && type() == QLatin1Char('H'))
        return rawField(2);
    const QStringList repeats = rawField(field).split(m_delimiters.repeat);
    if (repeat < 1 || repeat > repeats.size())
        return QString();
    const QStringList components = repeats.at(repeat - 1).split(m_delimiters.component);
    if (component < 1 || component > components.size())
        return QString();
    return unescape(components.at(component - 1));
}

QString AstmRecord::unescape(const QString& text) const {
    const QChar e = m_delimiters.escape;
    if (!text.contains(e))
        return text;
    QString out;
    out.reserve(text.size());
    for (int i = 0; i < text.size(); ++i) {
        if (text.at(i) != e) {
            out += text.at(i);
            continue;
        }
        const int end = int(text.indexOf(e, i + 1));
        if (end < 0) { // a lone escape character stands for itself
            out += text.mid(i);
            break;
        }
        const QString code = text.mid(i + 1, end - i - 1);
        if (code == QLatin1String("F"))
            out += m_delimiters.field;
        else if (code == QLatin1String("S"))
            out += m_delimiters.component;
        else if (code == QLatin1String("R"))
            out += m_delimiters.repeat;
        else if (code == QLatin1String("E"))
            out += e;
        else if (code.startsWith(QLatin1Char('X')) && code.size() >= 3 && code.size() % 2 == 1) {
            for (int k = 1; k + 1 < code.size(); k += 2) {
                bool ok = false;
                const int value = code.mid(k, 2).toInt(&ok, 16);
                if (ok)
                    out += QChar(value);
            }
        }
        i = end;
    }
    return out;
}
