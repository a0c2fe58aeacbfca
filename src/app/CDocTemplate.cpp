#include "CDocTemplate.h"

#include "CChildFrame.h"
#include "CMainFrame.h"
#include "CTervanaDoc.h"
#include "CViewBase.h"
#include "MessageBox.h"

#include <QFileInfo>
#include <QMdiArea>

CDocTemplate::CDocTemplate(int resourceId, const QString& docString, ViewFactory viewFactory)
    : m_resourceId(resourceId), m_docString(docString), m_viewFactory(std::move(viewFactory)) {}

QString CDocTemplate::docName() const {
    return docStringField(1);
}

QString CDocTemplate::newFileName() const {
    return docStringField(2);
}

QString CDocTemplate::docStringField(int index) const {
    const QStringList fields = m_docString.split(QLatin1Char('\n'));
    return index >= 0 && index < fields.size() ? fields.at(index) : QString();
}

CChildFrame* CDocTemplate::OpenDocumentFile(const QString& path, bool makeVisible) {
    if (!m_pFrame)
        return nullptr;
    auto* document = new CTervanaDoc(this);
    if (path.isEmpty()) {
        // The number is taken only when the window really opens, so a failure leaves no gap.
        document->setTitle(docName() + QString::number(m_nUntitledCount + 1));
        if (!document->OnNewDocument()) {
            delete document;
            return nullptr;
        }
    } else {
        QString error;
        if (!document->OnOpenDocument(path, &error)) {
            delete document;
            LabrosaMessageBox(error, m_pFrame);
            return nullptr;
        }
        document->setPathName(path);
    }
    CChildFrame* frame = CreateNewFrame(document);
    if (!frame) {
        delete document;
        return nullptr;
    }
    if (path.isEmpty())
        ++m_nUntitledCount;
    InitialUpdateFrame(frame, makeVisible);
    return frame;
}

CChildFrame* CDocTemplate::CreateNewFrame(CTervanaDoc* document) {
    if (!m_pFrame || !m_viewFactory)
        return nullptr;
    QWidget* view = m_viewFactory(document);
    if (!view)
        return nullptr;
    auto* frame = new CChildFrame(this, document, view);
    m_pFrame->mdiArea()->addSubWindow(frame);
    frame->resize(CChildFrame::kInitialWidth, CChildFrame::kInitialHeight);
    return frame;
}

void CDocTemplate::InitialUpdateFrame(CChildFrame* frame, bool makeVisible) {
    // The view may change its frame here (the results view maximises it), so it runs
    // before the frame is shown.
    if (CViewBase* view = frame->viewBase())
        view->OnInitialUpdate();
    if (!makeVisible)
        return;
    if (!frame->isVisible())
        frame->show();
    m_pFrame->mdiArea()->setActiveSubWindow(frame);
    if (frame->view())
        frame->view()->setFocus();
}
