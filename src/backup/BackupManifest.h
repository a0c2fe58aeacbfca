#pragma once

#include <QByteArray>
#include <QString>

// What a copy holds, written beside it (manifest.json) once the copy has passed its check:
// the file and its SHA-256, the result sets and the newest transfer date found in the copy
// itself, who made it and when, and the check's result.
struct BackupManifest {
    QString format;         // "sqlite" or "pg_dump"
    QString file;           // the copy's file name, in the copy's folder
    qint64 size = 0;        // bytes
    QString sha256;         // hex
    qint64 resultSets = -1; // rows of RESULTS in the copy
    QString newestTransfer; // the latest TransDate in the copy, as stored; empty without rows
    QString madeBy;         // user@host
    QString madeAt;         // ISO 8601, UTC
    QString source;         // the database copied: its file, or database and server
    QString check;          // "ok" once the copy passed its check
    int labFiles = 0;       // files of the laboratory folder copied with it

    QByteArray toJson() const;
    // False with the reason when bytes are no manifest.
    static bool fromJson(const QByteArray& bytes, BackupManifest* manifest, QString* error);
    bool save(const QString& path, QString* error) const;
    static bool load(const QString& path, BackupManifest* manifest, QString* error);
};
