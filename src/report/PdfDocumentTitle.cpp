#include "PdfDocumentTitle.h"

#include <QRegularExpression>

namespace {
// A PDF text string that holds any letter: UTF-16BE with its byte-order mark, in hex.
QByteArray textString(const QString& text) {
    QByteArray utf16("\xFE\xFF", 2);
    for (const QChar c : text) {
        utf16.append(static_cast<char>(c.unicode() >> 8));
        utf16.append(static_cast<char>(c.unicode() & 0xFF));
    }
    return '<' + utf16.toHex().toUpper() + '>';
}

// The whole number after key in a trailer, or -1.
qint64 numberAfter(const QByteArray& trailer, const char* key) {
    const QRegularExpression number(QStringLiteral("/%1\\s+(\\d+)").arg(QLatin1String(key)));
    const QRegularExpressionMatch match = number.match(QString::fromLatin1(trailer));
    return match.hasMatch() ? match.captured(1).toLongLong() : -1;
}
} // namespace

QByteArray PdfDocumentTitle::withTitle(const QByteArray& pdf, const QString& title) {
    if (title.isEmpty())
        return pdf;
    const qsizetype trailerAt = pdf.lastIndexOf("trailer");
    const qsizetype startAt = pdf.lastIndexOf("startxref");
    if (trailerAt < 0 || startAt < trailerAt)
        return pdf;
    const QByteArray trailer = pdf.mid(trailerAt, startAt - trailerAt);
    const qint64 size = numberAfter(trailer, "Size");
    const qint64 root = numberAfter(trailer, "Root");
    const qint64 info = numberAfter(trailer, "Info");
    bool ok = false;
    const qint64 previous = pdf.mid(startAt + 9, 24).trimmed().split('\n').value(0).trimmed().toLongLong(&ok);
    if (size <= 0 || root <= 0 || !ok || previous <= 0 || previous >= trailerAt)
        return pdf;

    // The old entries (producer, dates) carried over, any old title left out.
    QByteArray entries;
    if (info > 0) {
        const QRegularExpression object(QStringLiteral("(?:^|[\\r\\n])%1 0 obj\\s*<<(.*?)>>\\s*endobj").arg(info),
                                        QRegularExpression::DotMatchesEverythingOption);
        const QRegularExpressionMatch match = object.match(QString::fromLatin1(pdf));
        if (!match.hasMatch())
            return pdf;
        entries = match.captured(1).toLatin1();
        static const QRegularExpression oldTitle(QStringLiteral("/Title\\s*(\\([^)]*\\)|<[0-9A-Fa-f\\s]*>)"));
        entries = QString::fromLatin1(entries).remove(oldTitle).toLatin1().trimmed();
    }

    QByteArray update = pdf;
    if (!update.endsWith('\n'))
        update.append('\n');
    const qint64 objectAt = update.size();
    update += QByteArray::number(size) + " 0 obj\n<<" + entries + "\n/Title " + textString(title) + ">>\nendobj\n";
    const qint64 xrefAt = update.size();
    update += "xref\n" + QByteArray::number(size) + " 1\n" + QByteArray::number(objectAt).rightJustified(10, '0') +
              " 00000 n \n";
    update += "trailer\n<</Size " + QByteArray::number(size + 1) + "\n/Root " + QByteArray::number(root) +
              " 0 R\n/Info " + QByteArray::number(size) + " 0 R\n/Prev " + QByteArray::number(previous) +
              ">>\nstartxref\n" + QByteArray::number(xrefAt) + "\n%%EOF\n";
    return update;
}
