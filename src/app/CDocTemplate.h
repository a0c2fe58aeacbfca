#pragma once

#include <QString>
#include <QWidget>

#include <functional>

class CMainFrame;
class CTervanaDoc;
class CChildFrame;

// A multiple-document template: a resource id, the document strings and a view factory.
// Opening a document makes a CTervanaDoc, a CChildFrame (640 x 480) in the main frame and
// a view from the factory, titles the window and runs the view's OnInitialUpdate.
class CDocTemplate {
public:
    using ViewFactory = std::function<QWidget*(CTervanaDoc*)>;

    // docString: "\nName\nNewName\nFilterName\nFilterExt\nFileTypeId\nFileTypeName"
    CDocTemplate(int resourceId, const QString& docString, ViewFactory viewFactory);

    int resourceId() const { return m_resourceId; }
    QString docName() const;     // the document name, e.g. "Tervan"
    QString newFileName() const; // the name offered by File > New
    QString docStringField(int index) const;

    void setMainFrame(CMainFrame* frame) { m_pFrame = frame; }
    CMainFrame* mainFrame() const { return m_pFrame; }

    // An empty path opens an untitled document titled docName() plus the next running
    // number; a path titles the window with the file's name. Returns the new child frame,
    // or null when it could not be created.
    CChildFrame* OpenDocumentFile(const QString& path, bool makeVisible = true);
    // A further window on an open document (Window > New Window), or null.
    CChildFrame* CreateNewFrame(CTervanaDoc* document);
    // Runs the view's OnInitialUpdate, then shows and activates the frame.
    void InitialUpdateFrame(CChildFrame* frame, bool makeVisible = true);
    // How many untitled documents have been opened, for the next running number.
    int untitledCount() const { return m_nUntitledCount; }

private:
    int m_resourceId;
    QString m_docString;
    ViewFactory m_viewFactory;
    CMainFrame* m_pFrame = nullptr;
    int m_nUntitledCount = 0;
};
