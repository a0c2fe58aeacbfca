#pragma once

#include <QMdiSubWindow>
#include <QPointer>

#include "CTervanaDoc.h"

class CDocTemplate;
class CViewBase;

// A child window of the main frame: one view of one document, made by a document template.
class CChildFrame : public QMdiSubWindow {
    Q_OBJECT
public:
    static constexpr int kInitialWidth = 640;
    static constexpr int kInitialHeight = 480;

    // The frame takes ownership of view; the document is deleted with its last frame.
    CChildFrame(CDocTemplate* docTemplate, CTervanaDoc* document, QWidget* view, QWidget* parent = nullptr);
    ~CChildFrame() override;

    CDocTemplate* docTemplate() const { return m_pTemplate; }
    int resourceId() const;
    CTervanaDoc* document() const { return m_pDocument.data(); }
    QWidget* view() const { return m_pView; }
    // The view's frame-facing operations, or null for a view without them.
    CViewBase* viewBase() const;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    CDocTemplate* m_pTemplate;
    QPointer<CTervanaDoc> m_pDocument;
    QWidget* m_pView;
};
