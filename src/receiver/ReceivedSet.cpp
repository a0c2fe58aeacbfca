#include "ReceivedSet.h"

#include <QCryptographicHash>

#include <algorithm>

QString ReceivedSet::fingerprint(int machineId) const {
    QStringList parts;
    for (const ReceivedValue& v : values)
        parts << v.code + QLatin1Char('\x1f') + v.value;
    std::sort(parts.begin(), parts.end());
    QCryptographicHash hash(QCryptographicHash::Sha256);
    hash.addData(QByteArray::number(machineId));
    hash.addData(QByteArrayView("\x1e", 1));
    hash.addData(specimenId.toUtf8());
    hash.addData(QByteArrayView("\x1e", 1));
    hash.addData(parts.join(QLatin1Char('\x1e')).toUtf8());
    return QString::fromLatin1(hash.result().toHex());
}
