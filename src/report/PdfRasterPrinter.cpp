#include "PdfRasterPrinter.h"

#include <QImage>
#include <QPainter>
#include <QPdfDocument>
#include <QPrinter>
#include <QTemporaryFile>

namespace {
const char* const kMsgPdfUnreadable = "PDF-ul buletinului nu a putut fi citit pentru tiparire.";
const char* const kMsgPrinterFailed = "Imprimanta a refuzat tiparirea.";
const char* const kMsgPageNotRendered = "Pagina %1 nu a putut fi pregatita pentru imprimanta.";
} // namespace

bool PdfRasterPrinter::print(const QByteArray& pdf, QPrinter& printer, QString* reason) {
    // QPdfDocument reads a file at once; from a device it loads in the background.
    QTemporaryFile file;
    if (!file.open() || file.write(pdf) != pdf.size() || !file.flush()) {
        *reason = file.errorString();
        return false;
    }
    QPdfDocument document;
    if (document.load(file.fileName()) != QPdfDocument::Error::None || document.pageCount() < 1) {
        *reason = QString::fromLatin1(kMsgPdfUnreadable);
        return false;
    }
    int first = 1;
    int last = document.pageCount();
    if (printer.fromPage() > 0 || printer.toPage() > 0) {
        first = qMax(1, printer.fromPage());
        last = qMin(last, printer.toPage() > 0 ? printer.toPage() : last);
    }
    QPainter painter;
    if (!painter.begin(&printer)) {
        *reason = QString::fromLatin1(kMsgPrinterFailed);
        return false;
    }
    // The PDF's pages hold their margins already: each goes on the whole sheet.
    const QRectF paper = printer.paperRect(QPrinter::DevicePixel);
    const QRectF target = paper.translated(-printer.pageRect(QPrinter::DevicePixel).topLeft());
    for (int page = first; page <= last; ++page) {
        if (page > first && !printer.newPage()) {
            *reason = QString::fromLatin1(kMsgPrinterFailed);
            painter.end();
            return false;
        }
        const QSize pixels = (document.pagePointSize(page - 1) * printer.resolution() / 72.0).toSize();
        const QImage image = document.render(page - 1, pixels);
        if (image.isNull()) {
            *reason = QString::fromLatin1(kMsgPageNotRendered).arg(page);
            printer.abort();
            painter.end();
            return false;
        }
        painter.drawImage(target, image);
    }
    if (!painter.end() || printer.printerState() == QPrinter::Error) {
        *reason = QString::fromLatin1(kMsgPrinterFailed);
        return false;
    }
    return true;
}
