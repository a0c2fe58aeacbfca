#include "DocumentTemplate.h"

#include "BulletinDocument.h"
#include "ChildWindow.h"
#include "DocumentView.h"
#include "MainWindow.h"
#include "MessageBox.h"

#include <QFileInfo>
#include <QMdiArea>

DocumentTemplate::DocumentTemplate(int resourceId, const QString& docString, ViewFactory viewFactory)
    : m_resourceId(resourceId), m_docString(docString), m_viewFactory(std::move(viewFactory)) {}

QString DocumentTemplate::docName() const {
    return docStringField(1);
}

QString DocumentTemplate::newFileName() const {
    return docStringField(2);
}

QString DocumentTemplate::docStringField(int index) const {
    const QStringList fields = m_docString.split(QLatin1Char('\n'));
    return index >= 0 && index < fields.size() ? fields.at(index) : QString();
}

ChildWindow* DocumentTemplate::openDocumentFile(const QString& path, bool makeVisible, const DocumentContext* context) {
    if (!m_frame)
        return nullptr;
    auto* document = new BulletinDocument(this);
    if (path.isEmpty()) {
        // The number is taken only when the window really opens, so a failure leaves no gap.
        document->setTitle(docName() + QString::number(m_untitledCount + 1));
        if (!document->onNewDocument()) {
            delete document;
            return nullptr;
        }
    } else {
        QString error;
        if (!document->onOpenDocument(path, &error)) {
            delete document;
            labrosaMessageBox(error, m_frame);
            return nullptr;
        }
        document->setPathName(path);
    }
    ChildWindow* frame = createNewFrame(document);
    if (!frame) {
        delete document;
        return nullptr;
    }
    if (path.isEmpty())
        ++m_untitledCount;
    if (DocumentView* view = frame->viewBase(); view && context)
        view->setOpeningContext(*context);
    initialUpdateFrame(frame, makeVisible);
    return frame;
}

ChildWindow* DocumentTemplate::createNewFrame(BulletinDocument* document) {
    if (!m_frame || !m_viewFactory)
        return nullptr;
    QWidget* view = m_viewFactory(document);
    if (!view)
        return nullptr;
    auto* frame = new ChildWindow(this, document, view);
    m_frame->mdiArea()->addSubWindow(frame);
    frame->resize(ChildWindow::kInitialWidth, ChildWindow::kInitialHeight);
    return frame;
}

void DocumentTemplate::initialUpdateFrame(ChildWindow* frame, bool makeVisible) {
    // The view may change its frame here (the results view maximises it), so it runs
    // before the frame is shown.
    if (DocumentView* view = frame->viewBase())
        view->onInitialUpdate();
    if (!makeVisible)
        return;
    if (!frame->isVisible())
        frame->show();
    m_frame->mdiArea()->setActiveSubWindow(frame);
    if (frame->view())
        frame->view()->setFocus();
}
