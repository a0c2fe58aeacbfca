#include "PdfPageFooter.h"

#include <QBuffer>
#include <QFont>
#include <QFontMetricsF>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QRegularExpression>

#include <qpdf/Buffer.hh>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFObjectHandle.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFPageObjectHelper.hh>
#include <qpdf/QPDFWriter.hh>

#include <exception>
#include <vector>

namespace {
// Room under the page's content for the end line, the rule and the footer line (millimetres).
constexpr qreal kFooterRoomMm = 16.0;
// Heights above the bottom edge of the page, in points; the footer line stays clear of the
// margin most printers cannot print on.
constexpr qreal kFooterBaseline = 16.0;
constexpr qreal kRuleHeight = 25.0;
constexpr qreal kEndLineBaseline = 33.0;
constexpr qreal kFooterPointSize = 8.0;
constexpr qreal kEndLinePointSize = 9.0;
constexpr qreal kMinSideMargin = 28.35; // 10 mm
const char* const kPageLabel = "Pagina %1 din %2";
const char* const kEndLine = "Sfarsitul buletinului";
const char* const kRequestLabel = "Cod cerere: %1";
const char* const kPatientLabel = "Nume: %1";
const char* const kMsgNoPages = "PDF-ul nu are nicio pagina.";
const char* const kMsgFooterNotDrawn = "Subsolul paginilor nu a putut fi desenat.";

QFont footerFont(qreal pointSize, bool bold) {
    QFont font(QStringLiteral("Arial"));
    font.setStyleHint(QFont::SansSerif);
    font.setPointSizeF(pointSize);
    font.setBold(bold);
    return font;
}

QByteArray toByteArray(const std::shared_ptr<Buffer>& buffer) {
    return QByteArray(reinterpret_cast<const char*>(buffer->getBuffer()), qsizetype(buffer->getSize()));
}
} // namespace

PdfPageFooter::PdfPageFooter(const QString& request, const QString& patient)
    : m_request(request.simplified()), m_patient(patient.simplified()) {}

PdfPageFooter PdfPageFooter::fromBulletinText(const QString& pageText) {
    // The bulletin's head: "Cod cerere:<id>" and "Nume:<name>, Profil:<profile>"; a name may
    // hold a comma, so the one before "Profil:" ends it.
    static const QRegularExpression request(QStringLiteral("Cod\\s+cerere:\\s*(\\S+)"));
    static const QRegularExpression name(QStringLiteral("Nume:[ \\t]*([^\\n]*?),?[ \\t]*Profil:"));
    static const QRegularExpression nameAlone(QStringLiteral("Nume:[ \\t]*([^\\n,]*)"));
    QRegularExpressionMatch nameMatch = name.match(pageText);
    if (!nameMatch.hasMatch())
        nameMatch = nameAlone.match(pageText);
    return PdfPageFooter(request.match(pageText).captured(1), nameMatch.captured(1));
}

QPageLayout PdfPageFooter::withFooterRoom(QPageLayout layout) {
    layout.setUnits(QPageLayout::Millimeter);
    QMarginsF margins = layout.margins();
    if (margins.bottom() < kFooterRoomMm) {
        margins.setBottom(kFooterRoomMm);
        layout.setMargins(margins);
    }
    return layout;
}

QString PdfPageFooter::pageLabel(int page, int pageCount) {
    return QString::fromLatin1(kPageLabel).arg(page).arg(pageCount);
}

QString PdfPageFooter::endLine() {
    return QString::fromLatin1(kEndLine);
}

void PdfPageFooter::setSideMargins(qreal left, qreal right) {
    m_leftMargin = qMax(left, kMinSideMargin);
    m_rightMargin = qMax(right, kMinSideMargin);
}

QByteArray PdfPageFooter::footerPages(const QList<QSizeF>& pageSizes, QString* reason) const {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QPdfWriter writer(&buffer);
    // One unit a point, as in the bulletin's own PDF.
    writer.setResolution(72);
    QPainter painter;
    QStringList identity;
    if (!m_request.isEmpty())
        identity << QString::fromLatin1(kRequestLabel).arg(m_request);
    if (!m_patient.isEmpty())
        identity << QString::fromLatin1(kPatientLabel).arg(m_patient);
    const QString identityText = identity.join(QStringLiteral("    "));
    const QFont font = footerFont(kFooterPointSize, false);
    const QFont endFont = footerFont(kEndLinePointSize, true);

    for (int i = 0; i < pageSizes.size(); ++i) {
        const QSizeF size = pageSizes.at(i);
        writer.setPageLayout(QPageLayout(QPageSize(size, QPageSize::Point, QString(), QPageSize::ExactMatch),
                                         QPageLayout::Portrait, QMarginsF()));
        if (i == 0 ? !painter.begin(&writer) : !writer.newPage()) {
            *reason = QString::fromLatin1(kMsgFooterNotDrawn);
            return QByteArray();
        }
        const qreal left = m_leftMargin;
        const qreal right = size.width() - m_rightMargin;
        painter.setPen(QPen(Qt::black, 0.5));
        painter.drawLine(QPointF(left, size.height() - kRuleHeight), QPointF(right, size.height() - kRuleHeight));

        painter.setFont(font);
        const QFontMetricsF metrics(font, &writer);
        const QString label = pageLabel(i + 1, int(pageSizes.size()));
        const qreal labelWidth = metrics.horizontalAdvance(label);
        const qreal baseline = size.height() - kFooterBaseline;
        painter.drawText(QPointF(right - labelWidth, baseline), label);
        // A very long name is cut rather than run into the page number.
        const QString shown =
            metrics.elidedText(identityText, Qt::ElideRight, qMax<qreal>(0, right - left - labelWidth - 12));
        painter.drawText(QPointF(left, baseline), shown);

        if (i == pageSizes.size() - 1) {
            painter.setFont(endFont);
            const QFontMetricsF endMetrics(endFont, &writer);
            const qreal width = endMetrics.horizontalAdvance(endLine());
            painter.drawText(QPointF((left + right - width) / 2, size.height() - kEndLineBaseline), endLine());
        }
    }
    if (!painter.end()) {
        *reason = QString::fromLatin1(kMsgFooterNotDrawn);
        return QByteArray();
    }
    return bytes;
}

QByteArray PdfPageFooter::stamp(const QByteArray& pdf, QString* reason) const {
    try {
        QPDF document;
        document.setSuppressWarnings(true);
        document.processMemoryFile("bulletin", pdf.constData(), size_t(pdf.size()));
        std::vector<QPDFPageObjectHelper> pages = QPDFPageDocumentHelper(document).getAllPages();
        if (pages.empty()) {
            *reason = QString::fromLatin1(kMsgNoPages);
            return QByteArray();
        }
        QList<QSizeF> sizes;
        std::vector<QPDFObjectHandle::Rectangle> boxes;
        for (QPDFPageObjectHelper& page : pages) {
            const QPDFObjectHandle::Rectangle box = page.getTrimBox().getArrayAsRectangle();
            boxes.push_back(box);
            sizes << QSizeF(box.urx - box.llx, box.ury - box.lly);
        }
        const QByteArray footerPdf = footerPages(sizes, reason);
        if (footerPdf.isEmpty())
            return QByteArray();

        // The footer document must outlive the write: its streams are copied only then.
        QPDF footers;
        footers.setSuppressWarnings(true);
        footers.processMemoryFile("footer", footerPdf.constData(), size_t(footerPdf.size()));
        std::vector<QPDFPageObjectHelper> footerPageList = QPDFPageDocumentHelper(footers).getAllPages();
        if (footerPageList.size() != pages.size()) {
            *reason = QString::fromLatin1(kMsgFooterNotDrawn);
            return QByteArray();
        }
        for (size_t i = 0; i < pages.size(); ++i) {
            QPDFPageObjectHelper& page = pages[i];
            QPDFObjectHandle form = document.copyForeignObject(footerPageList[i].getFormXObjectForPage());
            QPDFObjectHandle resources = page.getAttribute("/Resources", true);
            if (!resources.isDictionary()) {
                resources = QPDFObjectHandle::newDictionary();
                page.getObjectHandle().replaceKey("/Resources", resources);
            }
            if (!resources.getKey("/XObject").isDictionary())
                resources.replaceKey("/XObject", QPDFObjectHandle::newDictionary());
            int suffix = 1;
            const std::string name = resources.getUniqueResourceName("/LabrosaFooter", suffix);
            resources.getKey("/XObject").replaceKey(name, form);
            const std::string placement = page.placeFormXObject(form, name, boxes[i]);
            // The page's own drawing state is closed before the footer is drawn over it.
            page.addPageContents(QPDFObjectHandle::newStream(&document, "q\n"), true);
            page.addPageContents(QPDFObjectHandle::newStream(&document, "\nQ\n" + placement), false);
        }
        QPDFWriter writer(document);
        writer.setOutputMemory();
        writer.write();
        return toByteArray(writer.getBufferSharedPointer());
    } catch (const std::exception& error) {
        *reason = QString::fromLocal8Bit(error.what());
        return QByteArray();
    }
}
