#include "StoredDateTime.h"

namespace {

// Reads between minDigits and maxDigits decimal digits at position; -1 when there are fewer.
int readNumber(QStringView text, qsizetype& position, int minDigits, int maxDigits) {
    int value = 0;
    int count = 0;
    while (position < text.size() && count < maxDigits && text[position] >= QLatin1Char('0') &&
           text[position] <= QLatin1Char('9')) {
        value = value * 10 + (text[position].unicode() - u'0');
        ++position;
        ++count;
    }
    return count < minDigits ? -1 : value;
}

bool expect(QStringView text, qsizetype& position, QLatin1Char c) {
    if (position >= text.size() || text[position] != c)
        return false;
    ++position;
    return true;
}

} // namespace

bool parseStoredDateTime(QStringView text, QDate* date, QTime* time) {
    text = text.trimmed();
    qsizetype p = 0;
    const int year = readNumber(text, p, 4, 4);
    if (year < 0 || !expect(text, p, QLatin1Char('-')))
        return false;
    const int month = readNumber(text, p, 2, 2);
    if (month < 0 || !expect(text, p, QLatin1Char('-')))
        return false;
    const int day = readNumber(text, p, 2, 2);
    const QDate d(year, month, day);
    if (day < 0 || !d.isValid())
        return false;
    QTime t(0, 0);
    if (p < text.size()) {
        if (text[p] != QLatin1Char(' ') && text[p] != QLatin1Char('T'))
            return false;
        ++p;
        const int hour = readNumber(text, p, 1, 2);
        if (hour < 0 || !expect(text, p, QLatin1Char(':')))
            return false;
        const int minute = readNumber(text, p, 2, 2);
        if (minute < 0)
            return false;
        int second = 0;
        int millisecond = 0;
        if (expect(text, p, QLatin1Char(':'))) {
            second = readNumber(text, p, 2, 2);
            if (second < 0)
                return false;
            if (expect(text, p, QLatin1Char('.'))) {
                const qsizetype first = p;
                while (p < text.size() && text[p] >= QLatin1Char('0') && text[p] <= QLatin1Char('9'))
                    ++p;
                if (p == first)
                    return false;
                // Milliseconds from the first three digits; the rest are below what is shown.
                const QString digits =
                    (text.mid(first, std::min<qsizetype>(3, p - first)).toString() + QStringLiteral("00")).left(3);
                millisecond = digits.toInt();
            }
        }
        if (p != text.size())
            return false;
        t = QTime(hour, minute, second, millisecond);
        if (!t.isValid())
            return false;
    }
    *date = d;
    *time = t;
    return true;
}
