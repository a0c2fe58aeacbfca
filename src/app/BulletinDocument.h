#pragma once

#include <QList>
#include <QObject>
#include <QString>

class ChildWindow;
class DocumentTemplate;
class QIODevice;

// The document of both window kinds. It holds no data: a bulletin lives in its HTML file
// and the results live in the database. It is never modified, so closing never asks to save.
class BulletinDocument : public QObject {
    Q_OBJECT
public:
    explicit BulletinDocument(DocumentTemplate* docTemplate, QObject* parent = nullptr);
    ~BulletinDocument() override;

    DocumentTemplate* docTemplate() const { return m_template; }
    QString title() const { return m_title; }
    void setTitle(const QString& title);
    // The file the document was opened from or saved to; empty while untitled.
    QString pathName() const { return m_pathName; }
    // savedHere: the window's bulletin was written to path, so Save writes there again. A file
    // that was only opened is never written over: the window does not show what it holds.
    void setPathName(const QString& path, bool savedHere = false);
    bool isSavedHere() const { return m_savedHere; }
    bool isModified() const { return false; }

    // Stores nothing and loads nothing.
    void serialize(QIODevice& device, bool storing);
    bool onNewDocument();
    // Checks that the file can be read; nothing is taken from it. Saving is the view's: it
    // writes what it shows (DocumentView::saveAs).
    bool onOpenDocument(const QString& path, QString* error);

    // The child frames showing this document, in the order they were opened.
    const QList<ChildWindow*>& frames() const { return m_frames; }
    void addFrame(ChildWindow* frame);
    void removeFrame(ChildWindow* frame);

signals:
    void titleChanged();

private:
    void updateFrameTitles();

    DocumentTemplate* m_template;
    QString m_title;
    QString m_pathName;
    bool m_savedHere = false;
    QList<ChildWindow*> m_frames;
};
