#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

// The most recently opened files, newest first, kept in the program's settings under
// "Recent File List" (File1, File2, ...). Saved on every change, so nothing is lost on a crash.
class RecentFileList : public QObject {
    Q_OBJECT
public:
    explicit RecentFileList(int maxSize = 4, QObject* parent = nullptr);

    int maxSize() const { return m_maxSize; }
    const QStringList& files() const { return m_files; }

    void load();
    void save() const;
    void add(const QString& path);
    void remove(const QString& path);

signals:
    void changed();

private:
    int m_maxSize;
    QStringList m_files;
};
