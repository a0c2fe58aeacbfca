#include "CTervanaView.h"

#include "BulletinBuilder.h"
#include "MessageBox.h"
#include "PrintSetup.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QPageLayout>
#include <QPageSize>
#include <QPrintDialog>
#include <QPrinter>
#include <QVBoxLayout>
#include <QWebEnginePage>
#include <QWebEngineSettings>
#include <QWebEngineView>

namespace {
// Below this the engine's rasterised pages print visibly coarse.
constexpr int kMinPrintResolution = 300;

CTervanaView* g_printingView = nullptr;

std::function<bool(QPrinter&)>& printDialogHook() {
    static std::function<bool(QPrinter&)> hook;
    return hook;
}

// Scripts stay off for the bulletin, but the engine draws its own page for a file it cannot
// read with script, and without it that page is blank. Script is allowed only while the page
// goes to a local file that cannot be read, so a reload once the bulletin exists runs none.
class BulletinPage : public QWebEnginePage {
public:
    using QWebEnginePage::QWebEnginePage;

protected:
    bool acceptNavigationRequest(const QUrl& url, NavigationType type, bool isMainFrame) override {
        if (isMainFrame) {
            const bool unreadable = url.isLocalFile() && !QFileInfo(url.toLocalFile()).isReadable();
            settings()->setAttribute(QWebEngineSettings::JavascriptEnabled, unreadable);
        }
        return QWebEnginePage::acceptNavigationRequest(url, type, isMainFrame);
    }
};
} // namespace

CTervanaView::CTervanaView(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("bulletinView"));
    m_pWeb = new QWebEngineView(this);
    m_pWeb->setObjectName(QStringLiteral("bulletinWeb"));
    m_pWeb->setPage(new BulletinPage(m_pWeb));
    // The bulletin is a plain document; nothing in it needs to run.
    m_pWeb->settings()->setAttribute(QWebEngineSettings::JavascriptEnabled, false);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_pWeb);
    setFocusProxy(m_pWeb);

    connect(m_pWeb, &QWebEngineView::printFinished, this, [this](bool success) { EndPrintJob(success); });
    connect(m_pWeb->page(), &QWebEnginePage::pdfPrintingFinished, this,
            [this](const QString&, bool success) { EndPrintJob(success); });
}

CTervanaView::~CTervanaView() {
    if (g_printingView == this)
        g_printingView = nullptr;
}

void CTervanaView::OnInitialUpdate() {
    // Relative references in the page (style sheet, marker images) resolve next to the file.
    m_pWeb->load(QUrl::fromLocalFile(QDir::current().filePath(QLatin1String(kBulletinFileName))));
}

bool CTervanaView::IsPrinting() {
    return g_printingView != nullptr;
}

void CTervanaView::SetPrintDialogHook(std::function<bool(QPrinter&)> hook) {
    printDialogHook() = std::move(hook);
}

bool CTervanaView::BeginPrintJob() {
    if (g_printingView) {
        QApplication::beep();
        return false;
    }
    g_printingView = this;
    return true;
}

void CTervanaView::EndPrintJob(bool success) {
    if (g_printingView != this)
        return;
    g_printingView = nullptr;
    if (!success)
        LabrosaMessageBox(QStringLiteral("Buletinul nu a putut fi tipărit."), this);
    emit printFinished(success);
}

void CTervanaView::OnFilePrint() {
    if (IsPrinting()) {
        QApplication::beep();
        return;
    }
    QPrinter* printer = CurrentPrinter();
    if (!printer) {
        if (!m_pOwnPrinter)
            m_pOwnPrinter = std::make_unique<QPrinter>(QPrinter::HighResolution);
        printer = m_pOwnPrinter.get();
    }
    if (printer->resolution() < kMinPrintResolution)
        printer->setResolution(kMinPrintResolution);

    bool accepted = false;
    if (printDialogHook()) {
        accepted = printDialogHook()(*printer);
    } else {
        QPrintDialog dialog(printer, this);
        accepted = dialog.exec() == QDialog::Accepted;
    }
    if (!accepted || !BeginPrintJob())
        return;
    if (printer->resolution() < kMinPrintResolution)
        printer->setResolution(kMinPrintResolution);

    if (printer->outputFormat() == QPrinter::PdfFormat && !printer->outputFileName().isEmpty())
        m_pWeb->page()->printToPdf(printer->outputFileName(), printer->pageLayout());
    else
        m_pWeb->print(printer);
}

bool CTervanaView::PrintToPdf(const QString& filePath) {
    if (!BeginPrintJob())
        return false;
    const QPrinter* printer = CurrentPrinter();
    const QPageLayout layout =
        printer ? printer->pageLayout() : QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait, QMarginsF());
    m_pWeb->page()->printToPdf(filePath, layout);
    return true;
}
