#pragma once

#include <QByteArray>
#include <QString>
#include <QWidget>

#include <functional>
#include <memory>

#include "BulletinArchive.h"
#include "DocumentView.h"

class DocumentTemplate;
class QLabel;
class QPageLayout;
class QPrinter;
struct BulletinWindowContext;
struct OpenedBulletin;
class QTemporaryFile;
class QWebEngineView;
class SharedState;

// The bulletin window's view: shows a bulletin through Qt WebEngine (JavaScript off) and prints
// it. It holds the bytes it was opened with (those of the page the bulletin builder made, else the
// bulletin file of the current directory as it was then), and shows, prints and saves those
// alone: a reload never shows a bulletin written since. A bulletin taken from the archive is
// shown from its stored bytes, read-only, under a line that says so. Before a bulletin the
// builder made leaves the program (printed, exported, saved), its critical values nobody was
// recorded as told of are asked about, and the copy is archived with what became of it.
class BulletinView : public QWidget, public DocumentView {
    Q_OBJECT
public:
    explicit BulletinView(QWidget* parent = nullptr);
    ~BulletinView() override;

    // A BulletinWindowContext: an archived copy, or the page the builder made with what goes with it.
    void setOpeningContext(const DocumentContext& context) override;
    void onInitialUpdate() override;
    bool canPrint() const override { return true; }
    // File > Print: the print dialog, then the page as the engine lays it out, every page with
    // its footer (PdfPageFooter). A printer set to write a PDF file gets the engine's PDF
    // output, which keeps the text as text, written whole or not at all.
    void onFilePrint() override;
    // Writes the page, with its page footer, to a PDF file in the current printer's layout,
    // replacing a file there only once written whole; false when another print job is still running.
    bool printToPdf(const QString& filePath);

    bool canExportPdf() const override { return true; }
    // File > Export PDF: a vector PDF on A4, no printer involved, under a name made from the
    // request, the patient and the date, in the folder the last export went to.
    void onFileExportPdf() override;
    // Writes the page as an A4 PDF to filePath, replacing a file there only once the PDF is
    // written whole; a failure is reported by a message. False when the file cannot be started
    // (another job running, the folder missing or not writable).
    bool exportPdf(const QString& filePath);

    bool canSave() const override { return true; }
    // File > Save As: the bulletin as shown, its HTML bytes as written, or as a PDF (ExportPdf)
    // when the name ends in .pdf. Written whole or not at all; a failure says why.
    SaveResult saveAs(const QString& path) override;
    // The file name proposed for the PDF of a bulletin whose page reads pageText: request
    // identifier, patient name and date, with the characters a file name cannot hold replaced.
    static QString proposedPdfName(const QString& pageText);
    // Replaces the modal save dialog (tests, unattended runs): it gets the proposed path and
    // answers the chosen one, or nothing to cancel.
    static void setPdfFileDialogHook(std::function<QString(const QString&)> hook);

    // True while one of the bulletin views is printing; only one job runs at a time.
    static bool isPrinting();
    // Replaces the modal print dialog (tests, unattended runs): it gets the printer to set
    // up and answers whether to print.
    static void setPrintDialogHook(std::function<bool(QPrinter&)> hook);

    // Opens a bulletin window through the bulletin template on the given bytes, without
    // touching the bulletin file; note is the line shown above the page. Null when no window
    // could be opened.
    static BulletinView* openArchived(DocumentTemplate* bulletinTemplate, const QByteArray& html, const QString& note);
    // Shows the bytes instead of the bulletin file; their links resolve in the current directory.
    void showArchived(const QByteArray& html, const QString& note);
    bool isArchived() const { return m_archived; }

    QWebEngineView* webView() const { return m_web; }
    QLabel* noteLine() const { return m_note; }
    // "Valideaza" (F9, the button above a preliminary page): a signatory validates the request.
    void onValidate();

signals:
    // A print or PDF job of this view has ended.
    void printFinished(bool success);

private:
    // True once the page has loaded; otherwise says why nothing is printed (a message for a page
    // that failed, a beep while it still loads).
    bool pageCanBePrinted();
    // Before the page leaves the program: asks who was told of its critical values that no
    // record names yet. False when some stay untold (cancelled, or the answer not recorded);
    // the message then ends with notSent.
    bool toldBeforeSendingOut(const char* notSent);
    // Archives the held bytes as the copy that leaves the window. True as well when there is
    // nothing to archive it as (a page the builder did not make, a database without the archive).
    bool recordSentOut(ArchivePurpose purpose, QString* error);
    bool beginPrintJob(ArchivePurpose purpose);
    // reason: why an export failed, for its message; message: the whole message, in place of
    // the usual one.
    void endPrintJob(bool success, const QString& reason = QString(), const QString& message = QString());
    // Prints the page to PDF with the page footer laid over it, then writes the PDF to the
    // running export's file, or sends it to printer when one is given.
    void printWithFooter(const QPageLayout& layout, QPrinter* printer);
    // Writes the engine's PDF of the running export to its file.
    void finishPdfExport(const QByteArray& pdf);
    // Takes the bytes of the bulletin file as the page this window holds.
    void readShownFile();
    // Loads the held bytes into the engine; their links resolve in the current directory.
    void showHeldPage();

    QWebEngineView* m_web = nullptr;
    QLabel* m_note = nullptr;
    std::unique_ptr<QPrinter> m_ownPrinter;
    // A page too large for the engine's in-memory load is shown from this file.
    std::unique_ptr<QTemporaryFile> m_pageFile;
    bool m_archived = false;
    enum class PageState { Loading, Shown, Failed };
    PageState m_page = PageState::Loading;
    // The PDF file the running export writes, for its message; empty for a print job.
    QString m_exportFile;
    QString m_exportTitle; // the running export's document title
    // What the running job's copy is archived as once its output is ready.
    ArchivePurpose m_jobPurpose = ArchivePurpose::Printed;
    // The bytes of the page shown, as written; unknown when the file could not be read.
    QByteArray m_shownHtml;
    bool m_shownHtmlKnown = false;
    // The request of a preliminary page, for "Valideaza"; no request for any other page.
    int m_validateRecordId = 0;
    QString m_validateRequestId;
    QString m_validateDay;
    SharedState* m_validateState = nullptr;
    // The bulletin the builder made, shared with further windows of its document; null
    // for any other page.
    std::shared_ptr<OpenedBulletin> m_opened;
    // What the window was opened with, until its first update takes it.
    std::unique_ptr<BulletinWindowContext> m_openedWith;
};
