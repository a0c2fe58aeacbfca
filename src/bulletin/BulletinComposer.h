#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <string>

struct BulletinData;

// How one page of a bulletin is written beyond its data.
struct BulletinPageOptions {
    // The page shown to the signatory to confirm: never "preliminary", whatever the status.
    bool toValidate = false;
    // "title name" and the time of the validation printed under the signature; empty for none.
    std::string validatedBy;
    std::string validatedAt;
    // The critical marker is drawn with its image (the laboratory folder has it), else as text.
    bool criticalImage = false;
    QDateTime printedAt; // local time of the footer
};

// The page of a bulletin, whole, in UTF-8; the same data and options give the same bytes.
QByteArray composeBulletin(const BulletinData& data, const BulletinPageOptions& options);

// "title name" of a signatory as printed.
std::string bulletinSignatoryText(const QString& title, const QString& fullName);
// A UTC time as the bulletin prints it, in local time like the set date: "d/M/yyyy H:mm".
std::string bulletinLocalTime(const QDateTime& utc);
