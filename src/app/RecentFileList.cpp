#include "RecentFileList.h"

#include <QFileInfo>
#include <QSettings>

namespace {
const char* const kSection = "Recent File List";
}

RecentFileList::RecentFileList(int maxSize, QObject* parent) : QObject(parent), m_maxSize(maxSize) {}

void RecentFileList::load() {
    QSettings settings;
    settings.beginGroup(QLatin1String(kSection));
    m_files.clear();
    for (int i = 1; i <= m_maxSize; ++i) {
        const QString path = settings.value(QStringLiteral("File%1").arg(i)).toString();
        if (!path.isEmpty() && !m_files.contains(path))
            m_files.append(path);
    }
    emit changed();
}

void RecentFileList::save() const {
    QSettings settings;
    settings.remove(QLatin1String(kSection));
    settings.beginGroup(QLatin1String(kSection));
    for (int i = 0; i < m_files.size(); ++i)
        settings.setValue(QStringLiteral("File%1").arg(i + 1), m_files.at(i));
}

void RecentFileList::add(const QString& path) {
    const QString absolute = QFileInfo(path).absoluteFilePath();
    m_files.removeAll(absolute);
    m_files.prepend(absolute);
    while (m_files.size() > m_maxSize)
        m_files.removeLast();
    save();
    emit changed();
}

void RecentFileList::remove(const QString& path) {
    if (m_files.removeAll(QFileInfo(path).absoluteFilePath()) == 0)
        return;
    save();
    emit changed();
}
