#pragma once

#include <QString>
#include <QWidget>

#include <functional>

class MainWindow;
class BulletinDocument;
class ChildWindow;
class DocumentContext;

// A multiple-document template: a resource id, the document strings and a view factory.
// Opening a document makes a BulletinDocument, a ChildWindow (640 x 480) in the main frame and
// a view from the factory, titles the window and runs the view's OnInitialUpdate.
class DocumentTemplate {
public:
    using ViewFactory = std::function<QWidget*(BulletinDocument*)>;

    // docString: "\nName\nNewName\nFilterName\nFilterExt\nFileTypeId\nFileTypeName"
    DocumentTemplate(int resourceId, const QString& docString, ViewFactory viewFactory);

    int resourceId() const { return m_resourceId; }
    QString docName() const;     // the document name, e.g. "Tervan"
    QString newFileName() const; // the name offered by File > New
    QString docStringField(int index) const;

    void setMainFrame(MainWindow* frame) { m_frame = frame; }
    MainWindow* mainFrame() const { return m_frame; }

    // An empty path opens an untitled document titled docName() plus the next running
    // number; a path titles the window with the file's name. Returns the new child frame,
    // or null when it could not be created. context, when given, goes to the new view before
    // its OnInitialUpdate.
    ChildWindow* openDocumentFile(const QString& path, bool makeVisible = true,
                                  const DocumentContext* context = nullptr);
    // A further window on an open document (Window > New Window), or null.
    ChildWindow* createNewFrame(BulletinDocument* document);
    // Runs the view's OnInitialUpdate, then shows and activates the frame.
    void initialUpdateFrame(ChildWindow* frame, bool makeVisible = true);
    // How many untitled documents have been opened, for the next running number.
    int untitledCount() const { return m_untitledCount; }

private:
    int m_resourceId;
    QString m_docString;
    ViewFactory m_viewFactory;
    MainWindow* m_frame = nullptr;
    int m_untitledCount = 0;
};
