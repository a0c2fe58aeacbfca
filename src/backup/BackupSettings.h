#pragma once

#include <QString>
#include <QStringList>

#include <functional>

// Where the laboratory's copies go, how old the last good one may be before the technician is
// told, and how many the rotation keeps. Read from Labrosa.ini; a key left out takes its default.
struct BackupSettings {
    QString folder; // empty: backup/ in the laboratory folder
    int maxAgeDays = 2;
    int keepDaily = 7;
    int keepWeekly = 4;
    int keepMonthly = 12;

    // The keys of Labrosa.ini, in the order of the fields above.
    static QStringList keys();
    // The settings from value (a key's text, empty when the file has none). A value that is not
    // a number in its range keeps the default and is named in problem.
    static BackupSettings fromValues(const std::function<QString(const QString&)>& value, QString* problem);
    // The destination, absolute, for the laboratory folder given.
    QString folderIn(const QString& labFolder) const;
    // The folder is the laboratory's own backup/ (made when missing); another is never made,
    // since a missing one may be a disk or a share that is not there.
    bool isDefaultFolder() const;
};
