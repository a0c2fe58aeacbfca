#pragma once

#include <QString>
#include <QWidget>

#include <functional>
#include <memory>

#include "CViewBase.h"

class QPrinter;
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
    // File > Print: the print dialog, then the page as the engine lays it out. A printer set
    // to write a PDF file gets the engine's PDF output, which keeps the text as text.
    void OnFilePrint() override;
    // Writes the page to a PDF file; false when another print job is still running.
    bool PrintToPdf(const QString& filePath);

    // True while one of the bulletin views is printing; only one job runs at a time.
    static bool IsPrinting();
    // Replaces the modal print dialog (tests, unattended runs): it gets the printer to set
    // up and answers whether to print.
    static void SetPrintDialogHook(std::function<bool(QPrinter&)> hook);

    QWebEngineView* webView() const { return m_pWeb; }

signals:
    // A print or PDF job of this view has ended.
    void printFinished(bool success);

private:
    bool BeginPrintJob();
    void EndPrintJob(bool success);

    QWebEngineView* m_pWeb = nullptr;
    std::unique_ptr<QPrinter> m_pOwnPrinter;
};
