#include "Hl7Message.h"

#include "EscapeSequences.h"

bool Hl7Message::parse(const QString& text, Hl7Message* message, QString* error) {
    QString body = text;
    body.replace(QLatin1String("\r\n"), QLatin1String("\r"));
    body.replace(QLatin1Char('\n'), QLatin1Char('\r'));
    const QStringList lines = body.split(QLatin1Char('\r'), Qt::SkipEmptyParts);
    if (lines.isEmpty() || !lines.first().startsWith(QLatin1String("MSH")) || lines.first().size() < 8) {
        *error = QStringLiteral("mesajul nu incepe cu segmentul MSH");
        return false;
    }
    Hl7Message m;
    const QString& msh = lines.first();
    m.m_field = msh.at(3);
    const int encodingEnd = int(msh.indexOf(m.m_field, 4));
    const QString encoding = msh.mid(4, encodingEnd < 0 ? -1 : encodingEnd - 4);
    if (encoding.size() < 3) {
        *error = QStringLiteral("MSH-2 nu are caracterele de codare");
        return false;
    }
    m.m_component = encoding.at(0);
    m.m_repetition = encoding.at(1);
    m.m_escape = encoding.at(2);
    m.m_subcomponent = encoding.size() > 3 ? encoding.at(3) : QLatin1Char('&');
    const QString all = QString(m.m_field) + encoding.left(4);
    for (int i = 0; i < all.size(); ++i) {
        if (all.at(i).isLetterOrNumber() || all.at(i).isSpace() || all.indexOf(all.at(i)) != i) {
            *error = QStringLiteral("separatorii din MSH nu sunt valizi");
            return false;
        }
    }
    for (const QString& line : lines) {
        QStringList fields = line.split(m.m_field);
        if (fields.first().size() != 3 || !fields.first().at(0).isLetter()) {
            *error = QStringLiteral("segment fara nume: %1").arg(line.left(20));
            return false;
        }
        m.m_segments << fields;
    }
    // MSH-1 is the separator itself: MSH fields are one place further than the split gives.
    m.m_segments.first().insert(1, QString(m.m_field));
    *message = m;
    return true;
}

QString Hl7Message::segmentName(int index) const {
    return index >= 0 && index < m_segments.size() ? m_segments.at(index).first() : QString();
}

int Hl7Message::findSegment(const QString& name, int from) const {
    for (int i = qMax(0, from); i < m_segments.size(); ++i)
        if (m_segments.at(i).first() == name)
            return i;
    return -1;
}

QString Hl7Message::rawField(int segment, int field) const {
    if (segment < 0 || segment >= m_segments.size())
        return QString();
    const QStringList& fields = m_segments.at(segment);
    return field >= 1 && field < fields.size() ? fields.at(field) : QString();
}

QString Hl7Message::field(int segment, int field) const {
    // MSH-2 holds the encoding characters themselves.
    if (segment == 0 && (field == 1 || field == 2))
        return rawField(segment, field);
    return unescape(rawField(segment, field));
}

int Hl7Message::repetitionCount(int segment, int field) const {
    const QString raw = rawField(segment, field);
    return raw.isEmpty() ? 0 : int(raw.count(m_repetition)) + 1;
}

QString Hl7Message::component(int segment, int field, int component, int repetition) const {
    if (segment == 0 && (field == 1 || field == 2))
        return rawField(segment, field);
    const QStringList repetitions = rawField(segment, field).split(m_repetition);
    if (repetition < 1 || repetition > repetitions.size())
        return QString();
    const QStringList components = repetitions.at(repetition - 1).split(m_component);
    if (component < 1 || component > components.size())
        return QString();
    return unescape(components.at(component - 1));
}

QString Hl7Message::messageType() const {
    const QString event = component(0, 9, 2);
    return event.isEmpty() ? component(0, 9, 1) : component(0, 9, 1) + QLatin1Char('^') + event;
}

QString Hl7Message::controlId() const {
    return field(0, 10);
}

QString Hl7Message::processingId() const {
    return component(0, 11, 1);
}

QString Hl7Message::version() const {
    return component(0, 12, 1);
}

QString Hl7Message::unescape(const QString& text) const {
    const QChar e = m_escape;
    return unescapeSequences(text, e,
                             {{QStringLiteral("F"), m_field},
                              {QStringLiteral("S"), m_component},
                              {QStringLiteral("T"), m_subcomponent},
                              {QStringLiteral("R"), m_repetition},
                              {QStringLiteral("E"), e},
                              {QStringLiteral(".br"), QStringLiteral("\n")}});
}

QString Hl7Message::escape(const QString& text) const {
    QString out;
    out.reserve(text.size());
    for (QChar c : text) {
        if (c == m_escape)
            out += QString(m_escape) + QLatin1Char('E') + m_escape;
        else if (c == m_field)
            out += QString(m_escape) + QLatin1Char('F') + m_escape;
        else if (c == m_component)
            out += QString(m_escape) + QLatin1Char('S') + m_escape;
        else if (c == m_subcomponent)
            out += QString(m_escape) + QLatin1Char('T') + m_escape;
        else if (c == m_repetition)
            out += QString(m_escape) + QLatin1Char('R') + m_escape;
        else if (c == QLatin1Char('\r') || c == QLatin1Char('\n'))
            out += QString(m_escape) + QLatin1String(".br") + m_escape;
        else
            out += c;
    }
    return out;
}
