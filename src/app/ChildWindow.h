#pragma once

#include <QMdiSubWindow>
#include <QPointer>

#include "BulletinDocument.h"

class DocumentTemplate;
class DocumentView;

// A child window of the main frame: one view of one document, made by a document template.
class ChildWindow : public QMdiSubWindow {
    Q_OBJECT
public:
    static constexpr int kInitialWidth = 640;
    static constexpr int kInitialHeight = 480;

    // The frame takes ownership of view; the document is deleted with its last frame.
    ChildWindow(DocumentTemplate* docTemplate, BulletinDocument* document, QWidget* view, QWidget* parent = nullptr);
    ~ChildWindow() override;

    DocumentTemplate* docTemplate() const { return m_template; }
    int resourceId() const;
    BulletinDocument* document() const { return m_document.data(); }
    QWidget* view() const { return m_view; }
    // The view's frame-facing operations, or null for a view without them.
    DocumentView* viewBase() const;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    DocumentTemplate* m_template;
    QPointer<BulletinDocument> m_document;
    QWidget* m_view;
};
