#include "CChildFrame.h"

#include "CDocTemplate.h"
#include "CTervanaDoc.h"
#include "CViewBase.h"
#include "Resource.h"

#include <QCloseEvent>
#include <QIcon>

CChildFrame::CChildFrame(CDocTemplate* docTemplate, CTervanaDoc* document, QWidget* view, QWidget* parent)
    : QMdiSubWindow(parent), m_pTemplate(docTemplate), m_pDocument(document), m_pView(view) {
    setAttribute(Qt::WA_DeleteOnClose);
    setObjectName(QStringLiteral("childFrame"));
    setWidget(view);
    setWindowIcon(QIcon(resourceId() == IDR_TERVANTYPE ? QStringLiteral(":/icons/bulletin.svg")
                                                       : QStringLiteral(":/icons/labrosa.svg")));
    resize(kInitialWidth, kInitialHeight);
    m_pDocument->addFrame(this);
}

CChildFrame::~CChildFrame() {
    if (!m_pDocument)
        return;
    m_pDocument->removeFrame(this);
    if (m_pDocument->frames().isEmpty())
        delete m_pDocument.data();
}

void CChildFrame::closeEvent(QCloseEvent* event) {
    QMdiSubWindow::closeEvent(event);
    // The window is only deleted later; its siblings renumber at once.
    if (event->isAccepted() && m_pDocument)
        m_pDocument->removeFrame(this);
}

int CChildFrame::resourceId() const {
    return m_pTemplate ? m_pTemplate->resourceId() : 0;
}

CViewBase* CChildFrame::viewBase() const {
    return dynamic_cast<CViewBase*>(m_pView);
}
