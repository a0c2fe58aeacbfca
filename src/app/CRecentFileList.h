#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

// The most recently opened files, newest first, kept in the program's settings under
// "Recent File List" (File1, File2, ...). Saved on every change, so nothing is lost on a crash.
class CRecentFileList : public QObject {
    Q_OBJECT
public:
    explicit CRecentFileList(int maxSize = 4, QObject* parent = nullptr);

    int maxSize() const { return m_maxSize; }
    const QStringList& files() const { return m_files; }

    void Load();
    void Save() const;
    void Add(const QString& path);
    void Remove(const QString& path);

signals:
    void changed();

private:
    int m_maxSize;
    QStringList m_files;
};
