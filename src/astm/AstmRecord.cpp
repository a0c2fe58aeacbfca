#include "AstmRecord.h"

#include "EscapeSequences.h"

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
    return unescapeSequences(text, e,
                             {{QStringLiteral("F"), m_delimiters.field},
                              {QStringLiteral("S"), m_delimiters.component},
                              {QStringLiteral("R"), m_delimiters.repeat},
                              {QStringLiteral("E"), e}});
}
