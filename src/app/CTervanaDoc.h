#pragma once

#include <QList>
#include <QObject>
#include <QString>

class CChildFrame;
class CDocTemplate;
class QIODevice;

// The document of both window kinds. It holds no data: a bulletin lives in its HTML file
// and the results live in the database. It is never modified, so closing never asks to save.
class CTervanaDoc : public QObject {
    Q_OBJECT
public:
    explicit CTervanaDoc(CDocTemplate* docTemplate, QObject* parent = nullptr);
    ~CTervanaDoc() override;

    CDocTemplate* docTemplate() const { return m_pTemplate; }
    QString title() const { return m_title; }
    void setTitle(const QString& title);
    // The file the document was opened from or saved to; empty while untitled.
    QString pathName() const { return m_pathName; }
    void setPathName(const QString& path);
    bool isModified() const { return false; }

    // Stores nothing and loads nothing.
    void Serialize(QIODevice& device, bool storing);
    bool OnNewDocument();
    // Checks that the file can be read; nothing is taken from it.
    bool OnOpenDocument(const QString& path, QString* error);
    // Writes the (empty) document to path.
    bool OnSaveDocument(const QString& path, QString* error);

    // The child frames showing this document, in the order they were opened.
    const QList<CChildFrame*>& frames() const { return m_frames; }
    void addFrame(CChildFrame* frame);
    void removeFrame(CChildFrame* frame);

signals:
    void titleChanged();

private:
    void UpdateFrameTitles();

    CDocTemplate* m_pTemplate;
    QString m_title;
    QString m_pathName;
    QList<CChildFrame*> m_frames;
};
