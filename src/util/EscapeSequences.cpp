#include "EscapeSequences.h"

QString unescapeSequences(const QString& text, QChar escape, const QHash<QString, QString>& codes) {
    if (!text.contains(escape))
        return text;
    QString out;
    out.reserve(text.size());
    for (int i = 0; i < text.size(); ++i) {
        if (text.at(i) != escape) {
            out += text.at(i);
            continue;
        }
        const int end = int(text.indexOf(escape, i + 1));
        if (end < 0) {
            out += text.mid(i);
            break;
        }
        const QString code = text.mid(i + 1, end - i - 1);
        const auto known = codes.constFind(code);
        if (known != codes.cend()) {
            out += *known;
        } else if (code.startsWith(QLatin1Char('X')) && code.size() >= 3 && code.size() % 2 == 1) {
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
