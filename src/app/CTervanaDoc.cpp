#include "CTervanaDoc.h"

#include "CChildFrame.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

CTervanaDoc::CTervanaDoc(CDocTemplate* docTemplate, QObject* parent) : QObject(parent), m_pTemplate(docTemplate) {}

CTervanaDoc::~CTervanaDoc() = default;

void CTervanaDoc::setTitle(const QString& title) {
    m_title = title;
    UpdateFrameTitles();
    emit titleChanged();
}

void CTervanaDoc::setPathName(const QString& path, bool savedHere) {
    m_pathName = QFileInfo(path).absoluteFilePath();
    m_savedHere = savedHere;
    setTitle(QFileInfo(path).fileName());
}

void CTervanaDoc::Serialize(QIODevice& device, bool storing) {
    Q_UNUSED(device);
    Q_UNUSED(storing);
}

bool CTervanaDoc::OnNewDocument() {
    return true;
}

bool CTervanaDoc::OnOpenDocument(const QString& path, QString* error) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        if (error)
            *error =
                QStringLiteral("Cannot open the file %1:\n%2").arg(QDir::toNativeSeparators(path), file.errorString());
        return false;
    }
    Serialize(file, false);
    return true;
}

void CTervanaDoc::addFrame(CChildFrame* frame) {
    m_frames.append(frame);
    UpdateFrameTitles();
}

void CTervanaDoc::removeFrame(CChildFrame* frame) {
    m_frames.removeAll(frame);
    UpdateFrameTitles();
}

// A document shown in several windows numbers them: Tervan1:1, Tervan1:2.
void CTervanaDoc::UpdateFrameTitles() {
    for (int i = 0; i < m_frames.size(); ++i) {
        const QString title = m_frames.size() > 1 ? QStringLiteral("%1:%2").arg(m_title).arg(i + 1) : m_title;
        m_frames[i]->setWindowTitle(title);
    }
}
