#pragma once

#include <QWidget>

#include "CViewBase.h"

class QWebEngineView;

// The bulletin window's view: shows the bulletin file of the current directory through
// Qt WebEngine (JavaScript off) and prints it.
class CTervanaView : public QWidget, public CViewBase {
    Q_OBJECT
public:
    explicit CTervanaView(QWidget* parent = nullptr);
    ~CTervanaView() override;

    void OnInitialUpdate() override;
    bool CanPrint() const override { return true; }
    void OnFilePrint() override;

    QWebEngineView* webView() const { return m_pWeb; }

private:
    QWebEngineView* m_pWeb = nullptr;
};
