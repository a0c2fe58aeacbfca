#include "ChildWindow.h"

#include "BulletinDocument.h"
#include "CommandIds.h"
#include "DocumentTemplate.h"
#include "DocumentView.h"

#include <QCloseEvent>
#include <QIcon>

ChildWindow::ChildWindow(DocumentTemplate* docTemplate, BulletinDocument* document, QWidget* view, QWidget* parent)
    : QMdiSubWindow(parent), m_template(docTemplate), m_document(document), m_view(view) {
    setAttribute(Qt::WA_DeleteOnClose);
    setObjectName(QStringLiteral("childFrame"));
    setWidget(view);
    setWindowIcon(QIcon(resourceId() == IDR_BULLETINTYPE ? QStringLiteral(":/icons/bulletin.svg")
                                                         : QStringLiteral(":/icons/labrosa.svg")));
    resize(kInitialWidth, kInitialHeight);
    m_document->addFrame(this);
}

ChildWindow::~ChildWindow() {
    if (!m_document)
        return;
    m_document->removeFrame(this);
    if (m_document->frames().isEmpty())
        delete m_document.data();
}

void ChildWindow::closeEvent(QCloseEvent* event) {
    QMdiSubWindow::closeEvent(event);
    // The window is only deleted later; its siblings renumber at once.
    if (event->isAccepted() && m_document)
        m_document->removeFrame(this);
}

int ChildWindow::resourceId() const {
    return m_template ? m_template->resourceId() : 0;
}

DocumentView* ChildWindow::viewBase() const {
    return dynamic_cast<DocumentView*>(m_view);
}
