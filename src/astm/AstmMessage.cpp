#include "AstmMessage.h"

bool AstmMessage::parse(const QString& text, AstmMessage* message, QString* error) {
    QString body = text;
    body.replace(QLatin1String("\r\n"), QLatin1String("\r"));
    body.replace(QLatin1Char('\n'), QLatin1Char('\r'));
    const QStringList lines = body.split(QLatin1Char('\r'), Qt::SkipEmptyParts);
    if (lines.isEmpty() || !lines.first().startsWith(QLatin1Char('H')) || lines.first().size() < 5) {
        *error = QStringLiteral("mesajul nu incepe cu inregistrarea H");
        return false;
    }
    const QString& h = lines.first();
    AstmDelimiters d;
    d.field = h.at(1);
    d.repeat = h.at(2);
    d.component = h.at(3);
    d.escape = h.at(4);
    const QString all = QString(d.field) + d.repeat + d.component + d.escape;
    for (int i = 0; i < all.size(); ++i) {
        if (all.at(i).isLetterOrNumber() || all.at(i).isSpace() || all.indexOf(all.at(i)) != i) {
            *error = QStringLiteral("separatorii din inregistrarea H nu sunt valizi");
            return false;
        }
    }
    AstmMessage m;
    m.m_delimiters = d;
    for (const QString& line : lines) {
        // Some analysers put a frame's sequence digit before the record type; the low level
        // already took it off, so a record here starts with its letter.
        if (line.size() < 1 || !line.at(0).isLetter()) {
            *error = QStringLiteral("inregistrare fara tip: %1").arg(line.left(20));
            return false;
        }
        m.m_records << AstmRecord(line, d);
    }
    *message = m;
    return true;
}
