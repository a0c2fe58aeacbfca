#include "BackupManifest.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>

namespace {
const char* const kMsgNotManifest = "fisierul %1 nu este o descriere a unei copii (%2)";
const char* const kMsgMissingField = "in descrierea copiei lipseste \"%1\"";
const char* const kMsgCannotRead = "descrierea copiei %1 nu poate fi citita: %2";
const char* const kMsgCannotWrite = "descrierea copiei %1 nu a putut fi scrisa: %2";
} // namespace

QByteArray BackupManifest::toJson() const {
    QJsonObject object;
    object.insert(QStringLiteral("format"), format);
    object.insert(QStringLiteral("file"), file);
    object.insert(QStringLiteral("size"), size);
    object.insert(QStringLiteral("sha256"), sha256);
    object.insert(QStringLiteral("resultSets"), resultSets);
    object.insert(QStringLiteral("newestTransfer"), newestTransfer);
    object.insert(QStringLiteral("madeBy"), madeBy);
    object.insert(QStringLiteral("madeAt"), madeAt);
    object.insert(QStringLiteral("source"), source);
    object.insert(QStringLiteral("check"), check);
    object.insert(QStringLiteral("labFiles"), labFiles);
    return QJsonDocument(object).toJson(QJsonDocument::Indented);
}

bool BackupManifest::fromJson(const QByteArray& bytes, BackupManifest* manifest, QString* error) {
    QJsonParseError parse;
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &parse);
    if (!document.isObject()) {
        *error = QString::fromLatin1(kMsgNotManifest).arg(QStringLiteral("manifest.json"), parse.errorString());
        return false;
    }
    const QJsonObject object = document.object();
    for (const char* key : {"format", "file", "size", "sha256", "check"}) {
        if (!object.contains(QLatin1String(key))) {
            *error = QString::fromLatin1(kMsgMissingField).arg(QLatin1String(key));
            return false;
        }
    }
    BackupManifest read;
    read.format = object.value(QStringLiteral("format")).toString();
    read.file = object.value(QStringLiteral("file")).toString();
    read.size = object.value(QStringLiteral("size")).toInteger(-1);
    read.sha256 = object.value(QStringLiteral("sha256")).toString();
    read.resultSets = object.value(QStringLiteral("resultSets")).toInteger(-1);
    read.newestTransfer = object.value(QStringLiteral("newestTransfer")).toString();
    read.madeBy = object.value(QStringLiteral("madeBy")).toString();
    read.madeAt = object.value(QStringLiteral("madeAt")).toString();
    read.source = object.value(QStringLiteral("source")).toString();
    read.check = object.value(QStringLiteral("check")).toString();
    read.labFiles = object.value(QStringLiteral("labFiles")).toInt();
    *manifest = read;
    return true;
}

bool BackupManifest::save(const QString& path, QString* error) const {
    const QByteArray bytes = toJson();
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.flush() || !file.commit()) {
        *error = QString::fromLatin1(kMsgCannotWrite).arg(path, file.errorString());
        return false;
    }
    return true;
}

bool BackupManifest::load(const QString& path, BackupManifest* manifest, QString* error) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QString::fromLatin1(kMsgCannotRead).arg(path, file.errorString());
        return false;
    }
    return fromJson(file.readAll(), manifest, error);
}
