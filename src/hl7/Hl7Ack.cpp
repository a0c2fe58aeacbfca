#include "Hl7Ack.h"

QString Hl7Ack::codeText(Code code) {
    switch (code) {
    case Code::Accept:
        return QStringLiteral("AA");
    case Code::Error:
        return QStringLiteral("AE");
    case Code::Reject:
        return QStringLiteral("AR");
    }
    return QString();
}

QByteArray Hl7Ack::build(const Hl7Message& message, Code code, const QString& text, const QString& ackControlId,
                         const QDateTime& now) {
    const QChar f = message.fieldSeparator();
    const QString version = message.version().isEmpty() ? QStringLiteral("2.5.1") : message.version();
    const QString processing = message.processingId().isEmpty() ? QStringLiteral("P") : message.processingId();
    QStringList msh = {QStringLiteral("MSH"),
                       message.encodingCharacters(),
                       message.rawField(0, 5),
                       message.rawField(0, 6),
                       message.rawField(0, 3),
                       message.rawField(0, 4),
                       now.toString(QStringLiteral("yyyyMMddHHmmss")),
                       QString(),
                       QString(QStringLiteral("ACK")) + message.encodingCharacters().at(0) + message.component(0, 9, 2),
                       message.escape(ackControlId),
                       processing,
                       version};
    if (message.component(0, 9, 2).isEmpty())
        msh[8] = QStringLiteral("ACK");
    QStringList msa = {QStringLiteral("MSA"), codeText(code), message.rawField(0, 10), message.escape(text)};
    const QString out = msh.join(f) + QLatin1Char('\r') + msa.join(f) + QLatin1Char('\r');
    return out.toUtf8();
}
