#include "BulletinDocument.h"

#include "ChildWindow.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

BulletinDocument::BulletinDocument(DocumentTemplate* docTemplate, QObject* parent)
    : QObject(parent), m_template(docTemplate) {}

BulletinDocument::~BulletinDocument() = default;

void BulletinDocument::setTitle(const QString& title) {
    m_title = title;
    updateFrameTitles();
    emit titleChanged();
}

void BulletinDocument::setPathName(const QString& path, bool savedHere) {
    m_pathName = QFileInfo(path).absoluteFilePath();
    m_savedHere = savedHere;
    setTitle(QFileInfo(path).fileName());
}

void BulletinDocument::serialize(QIODevice& device, bool storing) {
    Q_UNUSED(device);
    Q_UNUSED(storing);
}

bool BulletinDocument::onNewDocument() {
    return true;
}

bool BulletinDocument::onOpenDocument(const QString& path, QString* error) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        if (error)
            *error =
                QStringLiteral("Cannot open the file %1:\n%2").arg(QDir::toNativeSeparators(path), file.errorString());
        return false;
    }
    serialize(file, false);
    return true;
}

void BulletinDocument::addFrame(ChildWindow* frame) {
    m_frames.append(frame);
    updateFrameTitles();
}

void BulletinDocument::removeFrame(ChildWindow* frame) {
    m_frames.removeAll(frame);
    updateFrameTitles();
}

// A document shown in several windows numbers them: Tervan1:1, Tervan1:2.
void BulletinDocument::updateFrameTitles() {
    for (int i = 0; i < m_frames.size(); ++i) {
        const QString title = m_frames.size() > 1 ? QStringLiteral("%1:%2").arg(m_title).arg(i + 1) : m_title;
        m_frames[i]->setWindowTitle(title);
    }
}
