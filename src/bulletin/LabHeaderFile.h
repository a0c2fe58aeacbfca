#pragma once

#include <QString>

#include <string>

// One key=value line of the laboratory's settings file.
struct LabHeaderEntry {
    // In UTF-8; the limits count the file's own characters (bytes), so a value from a
    // Windows-1252 file may take up to three times as many bytes here.
    std::string key;   // at most 254 characters of the file
    std::string value; // at most 1023 characters of the file
    LabHeaderEntry* next = nullptr;
};

// Reads a small key=value settings file (Labrosa.ini) whole and answers look-ups by key,
// ignoring the case of ASCII letters; the first occurrence of a key wins. The file is
// read as UTF-8, or as Windows-1252 when it is not valid UTF-8; texts are kept in UTF-8,
// and the line limit of 1023 characters counts the bytes of the file itself.
class LabHeaderFile {
public:
    LabHeaderFile() = default;
    virtual ~LabHeaderFile();
    LabHeaderFile(const LabHeaderFile&) = delete;
    LabHeaderFile& operator=(const LabHeaderFile&) = delete;

    // True when the file exists and could be opened, whatever it holds.
    bool load(const QString& fileName);
    // True when the key exists; out then holds its value, else out is empty.
    bool getValue(std::string& out, const std::string& name) const;
    bool getValue(QString& out, const QString& name) const;

    LabHeaderEntry* m_head = nullptr;
};

// The settings file's bytes as UTF-8: kept when valid UTF-8 (a leading byte-order mark
// dropped), otherwise converted from Windows-1252.
std::string settingsTextToUtf8(const std::string& bytes);

// Bytes of a Windows-1252 file as UTF-8.
std::string windows1252BytesToUtf8(const std::string& bytes);
// text in Windows-1252, the settings file's own encoding; false when a character of text has
// no place in it (*bad is then that character).
bool textToWindows1252(const QString& text, std::string* bytes, QChar* bad);
