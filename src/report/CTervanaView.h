#pragma once

#include <QByteArray>
#include <QString>
#include <QWidget>

#include <functional>
#include <memory>

#include "CViewBase.h"

class CDocTemplate;
class QLabel;
class QPrinter;
class QTemporaryFile;
class QWebEngineView;

// The bulletin window's view: shows the bulletin file of the current directory through
// Qt WebEngine (JavaScript off) and prints it. A bulletin taken from the archive is shown
// from its stored bytes instead, read-only, under a line that says so.
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

    bool CanExportPdf() const override { return true; }
    // File > Export PDF: a vector PDF on A4, no printer involved, under a name made from the
    // request, the patient and the date, in the folder the last export went to.
    void OnFileExportPdf() override;
    // Writes the page as an A4 PDF to filePath, replacing a file there only once the PDF is
    // written whole; a failure is reported by a message. False when the file cannot be started
    // (another job running, the folder missing or not writable).
    bool ExportPdf(const QString& filePath);

    bool CanSave() const override { return true; }
    // File > Save As: the bulletin as shown, its HTML bytes as written, or as a PDF (ExportPdf)
    // when the name ends in .pdf. Written whole or not at all; a failure says why.
    SaveResult SaveAs(const QString& path) override;
    // The file name proposed for the PDF of a bulletin whose page reads pageText: request
    // identifier, patient name and date, with the characters a file name cannot hold replaced.
    static QString ProposedPdfName(const QString& pageText);
    // Replaces the modal save dialog (tests, unattended runs): it gets the proposed path and
    // answers the chosen one, or nothing to cancel.
    static void SetPdfFileDialogHook(std::function<QString(const QString&)> hook);

    // True while one of the bulletin views is printing; only one job runs at a time.
    static bool IsPrinting();
    // Replaces the modal print dialog (tests, unattended runs): it gets the printer to set
    // up and answers whether to print.
    static void SetPrintDialogHook(std::function<bool(QPrinter&)> hook);

    // Opens a bulletin window through the bulletin template on the given bytes, without
    // touching the bulletin file; note is the line shown above the page. Null when no window
    // could be opened.
    static CTervanaView* OpenArchived(CDocTemplate* bulletinTemplate, const QByteArray& html, const QString& note);
    // Shows the bytes instead of the bulletin file; their links resolve in the current directory.
    void ShowArchived(const QByteArray& html, const QString& note);
    bool IsArchived() const { return m_archived; }

    QWebEngineView* webView() const { return m_pWeb; }
    QLabel* noteLine() const { return m_pNote; }

signals:
    // A print or PDF job of this view has ended.
    void printFinished(bool success);

private:
    // True once the page has loaded; otherwise says why nothing is printed (a message for a page
    // that failed, a beep while it still loads).
    bool PageCanBePrinted();
    bool BeginPrintJob();
    // reason: why an export failed, for its message.
    void EndPrintJob(bool success, const QString& reason = QString());
    // Writes the engine's PDF of the running export to its file.
    void FinishPdfExport(const QByteArray& pdf);
    // Takes the bytes of the bulletin file as the page that is about to show them.
    void ReadShownFile();

    QWebEngineView* m_pWeb = nullptr;
    QLabel* m_pNote = nullptr;
    std::unique_ptr<QPrinter> m_pOwnPrinter;
    // A page too large for the engine's in-memory load is shown from this file.
    std::unique_ptr<QTemporaryFile> m_pArchivedFile;
    bool m_archived = false;
    enum class PageState { Loading, Shown, Failed };
    PageState m_page = PageState::Loading;
    // The PDF file the running export writes, for its message; empty for a print job.
    QString m_exportFile;
    // The bytes of the page shown, as written, for Save As; unknown when the file could not be read.
    QByteArray m_shownHtml;
    bool m_shownHtmlKnown = false;
};
