#include "BulletinWriter.h"

#include "PatientHistory.h"
#include "StoredDateTime.h"
#include "TextUtils.h"

#include <QIODevice>

#include <charconv>
#include <cmath>
#include <initializer_list>

namespace {

// Minutes on a medical document: "12:01", never "12:1", which reads as 12:10.
std::string twoDigits(int number) {
    return number < 10 ? '0' + std::to_string(number) : std::to_string(number);
}

// The pieces of the page, in the order they are written; %s and %d take the values in
// order, %% is a plain per cent sign.
constexpr const char* kDocumentHead =
    "<!DOCTYPE HTML PUBLIC \"-//W3C//DTD HTML 4.0 Transitional//EN\"> \n"
    "\t\t<HTML><HEAD><TITLE>Buletin de investigatii paraclinice</TITLE> \n"
    "\t\t<META http-equiv=Content-Type content=\"text/html; charset=utf-8\"><LINK  \n"
    "\t\thref=\"buletin_files/print.css\" type=text/css rel=stylesheet></LINK> \n"
    "\t\t<STYLE> @media Print   \n"
    "\t\t\t{ .noprint \n"
    "\t\t\t\t{ DISPLAY: none \t}\n"
    " \t\t} </STYLE> \t\t\t<META content=\"MSHTML 6.00.2900.2963\" name=GENERATOR></HEAD> \n"
    "\t\t<BODY bgColor=#ffffff><!-- BEGIN PAGE ANTET --> \n"
    "\t\t";

constexpr const char* kLabHeader =
    " <TABLE id=Table1 width=\"100%%\" border=0>\n"
    "\t  <TBODY>\n"
    "\t  <TR>\n"
    "\t\t<TD vAlign=top align=left>\n"
    "\t\t  <TABLE width=\"100%%\">\n"
    "\t\t\t<TBODY>\n"
    "\t\t\t<TR>\n"
    "\t\t\t  <TD align=left colSpan=4><ST1:COUNTRY-REGION w:st=\"on\"><ST1:PLACE \n"
    "\t\t\t\tw:st=\"on\"><SPAN \n"
    "\t\t\t\tstyle=\"FONT-SIZE: 9pt; FONT-FAMILY: 'Times New Roman'; mso-fareast-font-family: 'Times New Roman'; "
    "mso-ansi-language: EN-US; mso-fareast-language: EN-US; mso-bidi-language: AR-SA\">\n"
    "\t\t\t\t<B>%s\n"
    "\t\t\t\t</B><BR><SPAN \n"
    "\t\t\t\tstyle=\"FONT-SIZE: 9pt; FONT-FAMILY: 'Times New Roman'; mso-fareast-font-family: 'Times New Roman'; "
    "mso-ansi-language: EN-US; mso-fareast-language: EN-US; mso-bidi-language: AR-SA\">\n"
    "\t\t\t\t%s<br>%s\n"
    "\t\t\t\t</SPAN><BR><SPAN>%s \n"
    "\t\t\t\t</SPAN></TD></TR></TBODY></TABLE></TD>\n"
    "\t\t<TD vAlign=top align=right></TD></TR></TBODY></TABLE><!-- END PAGE ANTET --><BR><!-- BEGIN PAGE BODY -->\n"
    "\t<TABLE width=\"100%%\">\n"
    "\t";

constexpr const char* kBulletinHead =
    " <THEAD style=\"\"DISPLAY: table-header-group\"\"> \n"
    "\t\t  <TR> \n"
    "\t\t\t<TD align=middle width=\"100%%\" colSpan=10> \n"
    "\t\t\t  <P class=MsoNormal style=\"TEXT-ALIGN: center\" align=center><B \n"
    "\t\t\t  style=\"mso-bidi-font-weight: normal\"><SPAN style=\"FONT-SIZE: 18pt\">Buletin \n"
    "\t\t\t  de analize medicale<O:P></O:P></SPAN></B></P> \n"
    "\t\t\t  <P class=MsoNormal style=\"TEXT-ALIGN: center\" align=center><SPAN \n"
    "\t\t\t  style=\"FONT-SIZE: 10pt; FONT-FAMILY: Arial\">Data setului de analize %s \n"
    "\t\t\t  <BR>Inregistrat de: <O:P></O:P></SPAN></P></TD></TR> \n"
    "\t\t  <TR> \n"
    "\t\t\t<TD colspan=2> \n"
    "\t\t\t</TD> \n"
    "\t\t\t<TD noWrap align=right colSpan=2>Cod \n"
    "\t\t\t  cerere:<B>%s</B>&nbsp;&nbsp;&nbsp;&nbsp; <Z class=MsoNormal \n"
    "\t\t\t  style=\"TEXT-ALIGN: center\" align=\"center\">\n"
    "\t\t\t</TD></TR> \n"
    "\t\t  <TR><!--Se deseneaza o celula cu border linie neagra   --> \n"
    "\t\t\t<TD \n"
    "\t\t\tstyle=\"BORDER-RIGHT: windowtext 1pt solid; PADDING-RIGHT: 5.4pt; BORDER-TOP: windowtext 1pt solid; "
    "PADDING-LEFT: 5.4pt; PADDING-BOTTOM: 0in; BORDER-LEFT: windowtext 1pt solid; PADDING-TOP: 0in; BORDER-BOTTOM: "
    "windowtext 1pt solid; mso-border-alt: solid windowtext .5pt\" \n"
    "\t\t\twidth=\"100%%\" colSpan=3> \n"
    "\t\t\t  <TABLE width=\"100%%\"> \n"
    "\t\t\t\t<TBODY> \n"
    "\t\t\t\t<TR> \n"
    "\t\t\t\t<TD>Nume:<B>%s</B>, Profil:<b>%s</b></TD> \n"
    "\t\t\t\t  <TD colspan=2>Varsta:<B>%s</B></TD> \n"
    "\t\t\t\t  <TD>Sex:<B>%s</B></TD></TR> \n"
    "\t\t\t\t\t</table> \n"
    "\t\t\t</THEAD> \n"
    "\t";

// A bordered row of its own in the body of the page, where it is printed once, followed by
// a blank row; the changes are "label: old -&gt; new" joined by "; ".
constexpr const char* kCorrectionNotice =
    "\n"
    "\t\t<TR>\n"
    "          <TD \n"
    "          style=\"BORDER-RIGHT: windowtext 1pt solid; PADDING-RIGHT: 5.4pt; BORDER-TOP: windowtext 1pt solid; "
    "PADDING-LEFT: 5.4pt; FONT-SIZE: 9pt; PADDING-BOTTOM: 0in; BORDER-LEFT: windowtext 1pt solid; PADDING-TOP: 0in; "
    "BORDER-BOTTOM: windowtext 1pt solid; mso-border-alt: solid windowtext .5pt\" \n"
    "          colSpan=3><B>Buletin corectat la %s; inlocuieste buletinul din %s.</B> Modificari: %s</TD></TR>\n"
    "\t\t<tr><td>&nbsp;</td></tr>";

// The first rows of the body of a bulletin not yet validated by a signatory, and of one that
// replaces a validated bulletin.
constexpr const char* kPreliminaryNotice = "\n"
                                           "\t\t<TR>\n"
                                           "          <TD style=\"FONT-SIZE: 12pt; PADDING-LEFT: 5.4pt\" "
                                           "colSpan=3><B>BULETIN PRELIMINAR - nevalidat</B></TD></TR>";
constexpr const char* kReplacedValidation = "\n"
                                            "\t\t<TR>\n"
                                            "          <TD style=\"FONT-SIZE: 9pt; PADDING-LEFT: 5.4pt\" "
                                            "colSpan=3>Inlocuieste buletinul validat de %s, %s.%s</TD></TR>";

constexpr const char* kFirstGroupTitle =
    "\n"
    "\t\t<TR>\n"
    "          <TD \n"
    "          style=\"BORDER-RIGHT: windowtext 1pt solid; PADDING-RIGHT: 5.4pt; BORDER-TOP: windowtext 1pt solid; "
    "PADDING-LEFT: 5.4pt; FONT-SIZE: 10pt; PADDING-BOTTOM: 0in; BORDER-LEFT: windowtext 1pt solid; PADDING-TOP: 0in; "
    "BORDER-BOTTOM: windowtext 1pt solid; mso-border-alt: solid windowtext .5pt\" \n"
    "          colSpan=3><B>%s</B> </TD>\n"
    "        <TR> \n"
    "\t";

constexpr const char* kFirstColumnHeader =
    "<TR> \n"
    "          <TD \n"
    "          style=\"BORDER-RIGHT: windowtext 1pt solid; PADDING-RIGHT: 5.4pt; BORDER-TOP: windowtext 1pt solid; "
    "PADDING-LEFT: 5.4pt; PADDING-BOTTOM: 0in; BORDER-LEFT: windowtext 1pt solid; PADDING-TOP: 0in; BORDER-BOTTOM: "
    "windowtext 1pt solid; mso-border-alt: solid windowtext .5pt\" \n"
    "          align=middle> \n"
    "            <P class=MsoNormal><SPAN \n"
    "            style=\"FONT-SIZE: 8pt; COLOR: black\">ANALIZE</SPAN></P></TD> \n"
    "          <TD \n"
    "          style=\"BORDER-RIGHT: windowtext 1pt solid; PADDING-RIGHT: 5.4pt; BORDER-TOP: windowtext 1pt solid; "
    "PADDING-LEFT: 5.4pt; PADDING-BOTTOM: 0in; BORDER-LEFT: windowtext 1pt solid; PADDING-TOP: 0in; BORDER-BOTTOM: "
    "windowtext 1pt solid; mso-border-alt: solid windowtext .5pt\" \n"
    "          align=middle> \n"
    "            <P class=MsoNormal><SPAN \n"
    "            style=\"FONT-SIZE: 8pt; COLOR: black\">REZULTATE</SPAN></P></TD> \n"
    "          <TD  \n"
    "          style=\"BORDER-RIGHT: windowtext 1pt solid; PADDING-RIGHT: 5.4pt; BORDER-TOP: windowtext 1pt solid; "
    "PADDING-LEFT: 5.4pt; PADDING-BOTTOM: 0in; BORDER-LEFT: windowtext 1pt solid; PADDING-TOP: 0in; BORDER-BOTTOM: "
    "windowtext 1pt solid; mso-border-alt: solid windowtext .5pt\"  \n"
    "          align=middle> \n"
    "            <P class=MsoNormal><SPAN \n"
    "            style=\"FONT-SIZE: 8pt; COLOR: black\">Interval de \n"
    "          referinta</SPAN></P></TD></TR></TR> \n"
    "\t";

constexpr const char* kNextGroupTitle =
    "\n"
    "\t\t\t\t\t<tr><td>&nbsp;</td></tr><TR>\n"
    "\t\t\t\t\t  <TD \n"
    "\t\t\t\t\t  style=\"BORDER-RIGHT: windowtext 1pt solid; PADDING-RIGHT: 5.4pt; BORDER-TOP: windowtext 1pt solid; "
    "PADDING-LEFT: 5.4pt; FONT-SIZE: 10pt; PADDING-BOTTOM: 0in; BORDER-LEFT: windowtext 1pt solid; PADDING-TOP: 0in; "
    "BORDER-BOTTOM: windowtext 1pt solid; mso-border-alt: solid windowtext .5pt\" \n"
    "\t\t\t\t\t  colSpan=3><B>%s</B> </TD>\n"
    "\t\t\t\t\t<TR> \n"
    "\t\t\t\t";

constexpr const char* kNextColumnHeader =
    "<TR> \n"
    "\t\t\t\t\t  <TD \n"
    "\t\t\t\t\t  style=\"BORDER-RIGHT: windowtext 1pt solid; PADDING-RIGHT: 5.4pt; BORDER-TOP: windowtext 1pt solid; "
    "PADDING-LEFT: 5.4pt; PADDING-BOTTOM: 0in; BORDER-LEFT: windowtext 1pt solid; PADDING-TOP: 0in; BORDER-BOTTOM: "
    "windowtext 1pt solid; mso-border-alt: solid windowtext .5pt\" \n"
    "\t\t\t\t\t  align=middle> \n"
    "\t\t\t\t\t\t<P class=MsoNormal><SPAN \n"
    "\t\t\t\t\t\tstyle=\"FONT-SIZE: 8pt; COLOR: black\">ANALIZE</SPAN></P></TD> \n"
    "\t\t\t\t\t  <TD \n"
    "\t\t\t\t\t  style=\"BORDER-RIGHT: windowtext 1pt solid; PADDING-RIGHT: 5.4pt; BORDER-TOP: windowtext 1pt solid; "
    "PADDING-LEFT: 5.4pt; PADDING-BOTTOM: 0in; BORDER-LEFT: windowtext 1pt solid; PADDING-TOP: 0in; BORDER-BOTTOM: "
    "windowtext 1pt solid; mso-border-alt: solid windowtext .5pt\" \n"
    "\t\t\t\t\t  align=middle> \n"
    "\t\t\t\t\t\t<P class=MsoNormal><SPAN \n"
    "\t\t\t\t\t\tstyle=\"FONT-SIZE: 8pt; COLOR: black\">REZULTATE</SPAN></P></TD> \n"
    "\t\t\t\t\t  <TD  \n"
    "\t\t\t\t\t  style=\"BORDER-RIGHT: windowtext 1pt solid; PADDING-RIGHT: 5.4pt; BORDER-TOP: windowtext 1pt solid; "
    "PADDING-LEFT: 5.4pt; PADDING-BOTTOM: 0in; BORDER-LEFT: windowtext 1pt solid; PADDING-TOP: 0in; BORDER-BOTTOM: "
    "windowtext 1pt solid; mso-border-alt: solid windowtext .5pt\"  \n"
    "\t\t\t\t\t  align=middle> \n"
    "\t\t\t\t\t\t<P class=MsoNormal><SPAN \n"
    "\t\t\t\t\t\tstyle=\"FONT-SIZE: 8pt; COLOR: black\">Interval de \n"
    "\t\t\t\t\t  referinta</SPAN></P></TD></TR></TR> \n"
    "\t\t\t\t";

constexpr const char* kResultRow =
    "\t\t<TR>\n"
    "          <TD \n"
    "          style=\"FONT-SIZE: 8pt; COLOR: black; BORDER-BOTTOM: black 1px solid\"><B>%s</B></TD>\n"
    "          <TD \n"
    "          style=\"FONT-SIZE: 8pt; COLOR: black; BORDER-BOTTOM: black 1px solid\" \n"
    "          align=middle><B>%s</B>%s </TD>\n"
    "          <TD style=\"BORDER-BOTTOM: black 1px solid\" align=middle>\n"
    "            <P class=MsoNormal><SPAN style=\"FONT-SIZE: 8pt; COLOR: black\">%s - \n"
    "            %s  %s</SPAN></P></TD>\n"
    "\t\t</tr>\n"
    "\t\t";

// The column of the previous value, when the laboratory turns it on.
constexpr const char* kPreviousHeaderCell =
    "<TD style=\"BORDER-RIGHT: windowtext 1pt solid; PADDING-RIGHT: 5.4pt; BORDER-TOP: windowtext 1pt solid; "
    "PADDING-LEFT: 5.4pt; PADDING-BOTTOM: 0in; BORDER-LEFT: windowtext 1pt solid; PADDING-TOP: 0in; BORDER-BOTTOM: "
    "windowtext 1pt solid\" align=middle><P class=MsoNormal><SPAN style=\"FONT-SIZE: 8pt; COLOR: "
    "black\">Anterior</SPAN></P></TD>";
constexpr const char* kPreviousCell =
    "          <TD style=\"BORDER-BOTTOM: black 1px solid\" align=middle><SPAN style=\"FONT-SIZE: 8pt; COLOR: "
    "black\">%s%s</SPAN></TD>\n";

constexpr const char* kPreviousColumnNote =
    "<tr><td style=\"FONT-SIZE: 8pt; COLOR: black; \" colSpan=4>Anterior: valoarea precedenta a pacientului (%s) "
    "si data ei.</td></tr>\n\t\t";

constexpr const char* kSignature =
    "<tr><td>&nbsp;</td></tr><tr><td>&nbsp;</td></tr><tr><td>&nbsp;</td></tr> \n"
    "\t\t<tr><td>&nbsp;</td></tr>\n"
    "\t<tr><td style=\"FONT-SIZE: 8pt; COLOR: black; \">EXECUTANT</td><td style=\"FONT-SIZE: 8pt; COLOR: black; \">SEF "
    "COMPARTIMENT</td><td style=\"FONT-SIZE: 8pt; COLOR: black; \">SEF "
    "LABORATOR</td></tr><tr><tr><td>&nbsp;</td></tr><tr><td>&nbsp;</td></tr>";

// After the bulletin head: who was told of the request's critical values, and when.
constexpr const char* kCriticalNotice = "\n"
                                        "\t\t<TR>\n"
                                        "          <TD style=\"FONT-SIZE: 9pt; PADDING-LEFT: 5.4pt\" "
                                        "colSpan=3>Valori critice (!!) anuntate: %s</TD></TR>";
// Under the signature block: who released the bulletin, and when.
constexpr const char* kValidatedBy =
    "\n"
    "\t<tr><td style=\"FONT-SIZE: 8pt; COLOR: black; \" colSpan=3>Validat de: %s, %s</td></tr>";

constexpr const char* kFooter = " <TFOOT style=\"DISPLAY: table-footer-group\"> \n"
                                "  <TR>\n"
                                "    <TD colSpan=4>\n"
                                "      <HR>\n"
                                "    </TD></TR>\n"
                                "  <TR> \n"
                                "    <TD style=\"FONT-SIZE: 8pt; COLOR: black\">&nbsp</TD> \n"
                                "    <TD style=\"FONT-SIZE: 8pt; COLOR: black\" noWrap>Data tiparirii: </TD> \n"
                                "    <TD style=\"FONT-SIZE: 8pt; COLOR: black\" noWrap>%d/%d/%d %d:%d</TD></TR> \n"
                                "</TFOOT> \n"
                                "\t";

constexpr const char* kClosing = "</TABLE></BODY></HTML>";

// printf-like filling of a piece: each %s or %d takes the next value as it stands (a value
// holding a per cent sign is not read again), %% gives %.
std::string formatPiece(const char* piece, std::initializer_list<std::string> values) {
    std::string out;
    auto next = values.begin();
    for (const char* p = piece; *p; ++p) {
        if (p[0] == '%' && (p[1] == 's' || p[1] == 'd')) {
            if (next != values.end())
                out += *next++;
            ++p;
        } else if (p[0] == '%' && p[1] == '%') {
            out += '%';
            ++p;
        } else {
            out += *p;
        }
    }
    return out;
}

std::function<QDateTime()>& Clock() {
    static std::function<QDateTime()> clock;
    return clock;
}

bool hasAsciiLetter(const std::string& text) {
    for (const char c : text) {
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'))
            return true;
    }
    return false;
}

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

} // namespace

void BulletinWriter::write(const std::string& bytes) {
    if (!m_ok)
        return;
    if (m_device->write(bytes.data(), static_cast<qint64>(bytes.size())) != static_cast<qint64>(bytes.size()))
        m_ok = false;
}

QString BulletinWriter::errorString() const {
    return m_device->errorString();
}

void BulletinWriter::writeDocumentHead() {
    write(kDocumentHead);
}

void BulletinWriter::writeLabHeader(const std::string& name, const std::string& address, const std::string& phone,
                                    const std::string& other) {
    write(formatPiece(kLabHeader, {name, address, phone, other}));
}

void BulletinWriter::writeBulletinHead(const std::string& setDate, const std::string& requestCode,
                                       const std::string& patientName, const std::string& profile,
                                       const std::string& age, const std::string& sex) {
    write(formatPiece(kBulletinHead, {htmlEscape(setDate), htmlEscape(requestCode), htmlEscape(patientName),
                                      htmlEscape(profile), htmlEscape(age), htmlEscape(sex)}));
}

void BulletinWriter::writeCorrectionNotice(const std::string& correctedAt, const std::string& replacedMadeAt,
                                           const std::vector<BulletinChange>& changes, const std::string& reason) {
    std::string list;
    for (const BulletinChange& change : changes) {
        if (!list.empty())
            list += "; ";
        list += htmlEscape(change.label) + ": " + htmlEscape(change.oldValue) + " -&gt; " + htmlEscape(change.newValue);
    }
    if (!reason.empty())
        list += ". Motiv: " + htmlEscape(reason);
    write(formatPiece(kCorrectionNotice, {htmlEscape(correctedAt), htmlEscape(replacedMadeAt), list}));
}

void BulletinWriter::writePreliminaryNotice() {
    write(kPreliminaryNotice);
}

void BulletinWriter::writeReplacedValidation(const std::string& signatory, const std::string& validatedAt,
                                             const std::string& changes) {
    const std::string changed = changes.empty() ? std::string() : " Schimbari de atunci: " + htmlEscape(changes) + ".";
    write(formatPiece(kReplacedValidation, {htmlEscape(signatory), htmlEscape(validatedAt), changed}));
}

void BulletinWriter::writeValidatedBy(const std::string& signatory, const std::string& validatedAt) {
    write(formatPiece(kValidatedBy, {htmlEscape(signatory), htmlEscape(validatedAt)}));
}

void BulletinWriter::writeCriticalNotice(const std::string& told) {
    write(formatPiece(kCriticalNotice, {htmlEscape(told)}));
}

void BulletinWriter::writeFirstGroupTitle(const std::string& title) {
    write(withPreviousColumn(formatPiece(kFirstGroupTitle, {htmlEscape(title)})));
}

void BulletinWriter::writeFirstColumnHeader() {
    write(withPreviousColumn(kFirstColumnHeader));
}

void BulletinWriter::writeNextGroupTitle(const std::string& title) {
    write(withPreviousColumn(formatPiece(kNextGroupTitle, {htmlEscape(title)})));
}

void BulletinWriter::writeNextColumnHeader() {
    write(withPreviousColumn(kNextColumnHeader));
}

std::string BulletinWriter::withPreviousColumn(const std::string& piece) const {
    if (!m_previousColumn)
        return piece;
    std::string wide = piece;
    const std::string span = "colSpan=3>";
    const std::string headerEnd = "</TD></TR></TR>";
    if (const auto at = wide.find(span); at != std::string::npos)
        wide.replace(at, span.size(), "colSpan=4>");
    else if (const auto end = wide.rfind(headerEnd); end != std::string::npos)
        wide.insert(end + 5, kPreviousHeaderCell);
    return wide;
}

void BulletinWriter::writeResultRow(const std::string& name, const std::string& value, const std::string& marker,
                                    const std::string& lowerBound, const std::string& upperBound,
                                    const std::string& unit, const std::string& previousValue,
                                    const std::string& previousDate) {
    std::string row = formatPiece(kResultRow, {htmlEscape(name), htmlEscape(value), marker, htmlEscape(lowerBound),
                                               htmlEscape(upperBound), htmlEscape(unit)});
    const std::string cell =
        previousValue.empty()
            ? formatPiece(kPreviousCell, {"&nbsp;", ""})
            : formatPiece(kPreviousCell, {htmlEscape(previousValue), " (" + htmlEscape(previousDate) + ")"});
    row.insert(row.rfind("\t\t</tr>"), cell);
    write(row);
}

void BulletinWriter::writeResultRow(const std::string& name, const std::string& value, const std::string& marker,
                                    const std::string& lowerBound, const std::string& upperBound,
                                    const std::string& unit) {
    write(formatPiece(kResultRow, {htmlEscape(name), htmlEscape(value), marker, htmlEscape(lowerBound),
                                   htmlEscape(upperBound), htmlEscape(unit)}));
}

void BulletinWriter::writePreviousColumnNote() {
    write(formatPiece(kPreviousColumnNote, {kSamePatientRule}));
}

void BulletinWriter::writeSignature() {
    write(kSignature);
}

void BulletinWriter::writeFooter(const QDateTime& printed) {
    const QDate d = printed.date();
    const QTime t = printed.time();
    write(formatPiece(kFooter, {std::to_string(d.day()), std::to_string(d.month()), std::to_string(d.year()),
                                std::to_string(t.hour()), twoDigits(t.minute())}));
}

void BulletinWriter::writeClosing() {
    write(kClosing);
}

namespace {

bool isBlank(char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

std::size_t skipBlanks(const std::string& text, std::size_t i) {
    while (i < text.size() && isBlank(text[i]))
        ++i;
    return i;
}

// A decimal number starting at text[i]: an optional sign, digits with one decimal point and
// an optional exponent; reading stops at the first character that does not fit. With
// commaIsPoint a comma between two digits is the decimal point as well. False when no digit
// is there.
bool readNumber(const std::string& text, std::size_t i, bool commaIsPoint, double* number) {
    const std::size_t n = text.size();
    bool negative = false;
    if (i < n && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    // The digits as from_chars reads them: a comma taken as the point becomes a full stop.
    std::string digits;
    while (i < n && isDigit(text[i]))
        digits += text[i++];
    const bool comma = commaIsPoint && i + 1 < n && text[i] == ',' && !digits.empty() && isDigit(text[i + 1]);
    if (i < n && (text[i] == '.' || comma)) {
        digits += '.';
        ++i;
        while (i < n && isDigit(text[i]))
            digits += text[i++];
    }
    if (digits.find_first_of("0123456789") == std::string::npos)
        return false;
    // An exponent counts only when digits follow it.
    bool negativeExponent = false;
    if (i < n && (text[i] == 'e' || text[i] == 'E')) {
        std::size_t j = i + 1;
        std::string exponent = "e";
        if (j < n && (text[j] == '+' || text[j] == '-')) {
            negativeExponent = text[j] == '-';
            exponent += text[j++];
        }
        if (j < n && isDigit(text[j])) {
            while (j < n && isDigit(text[j]))
                exponent += text[j++];
            digits += exponent;
        } else {
            negativeExponent = false;
        }
    }
    double value = 0.0;
    const auto result = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (result.ec == std::errc::result_out_of_range) {
        // Too small or too large for a double.
        value = negativeExponent ? 0.0 : HUGE_VAL;
    }
    *number = negative ? -value : value;
    return true;
}

// How a value relates to its number: "<x", "<=x", ">x", ">=x" or the number itself.
enum class Relation { Exact, Below, AtMost, Above, AtLeast };

} // namespace

double leadingNumber(const std::string& text) {
    double value = 0.0;
    return readNumber(text, skipBlanks(text, 0), true, &value) ? value : 0.0;
}

std::string bulletinValueText(const QString& stored) {
    // The room a value had in the bulletin's fixed buffer, terminator included.
    constexpr int kValueSize = 1035;
    constexpr char kRecordSeparator = 30;
    std::string text = stored.toStdString();
    cutUtf8(text, kValueSize - 1);
    replaceChar(text, static_cast<int>(text.size()), kRecordSeparator, ' ');
    trimSpaces(text, 1);
    return text;
}

std::string bulletinMarker(const std::string& value, const std::string& lowerBound, const std::string& upperBound) {
    std::size_t i = skipBlanks(value, 0);
    Relation relation = Relation::Exact;
    if (i < value.size() && (value[i] == '<' || value[i] == '>')) {
        const bool below = value[i] == '<';
        const bool orEqual = i + 1 < value.size() && value[i + 1] == '=';
        relation =
            below ? (orEqual ? Relation::AtMost : Relation::Below) : (orEqual ? Relation::AtLeast : Relation::Above);
        i = skipBlanks(value, i + (orEqual ? 2 : 1));
    }
    // A value without a number of its own ("+++", a word) is never compared.
    double v = 0.0;
    if (!readNumber(value, i, true, &v))
        return std::string();
    if (hasAsciiLetter(value) && v == 0.0)
        return std::string();

    // A value written as a bound is flagged only when every value it allows lies outside:
    // "<x" is below the lower bound when x <= lower, "<=x" when x < lower; likewise above.
    std::string marker;
    if (!lowerBound.empty()) {
        const double lower = leadingNumber(lowerBound);
        if ((relation == Relation::Exact && v < lower) || (relation == Relation::Below && v <= lower) ||
            (relation == Relation::AtMost && v < lower))
            marker = kMarkerLow;
    }
    if (!upperBound.empty()) {
        const double upper = leadingNumber(upperBound);
        if ((relation == Relation::Exact && v > upper) || (relation == Relation::Above && v >= upper) ||
            (relation == Relation::AtLeast && v > upper))
            marker = kMarkerHigh;
    }
    return marker;
}

std::string htmlEscape(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        default:
            out += c;
        }
    }
    return out;
}

std::string formatBulletinDate(const QVariant& value) {
    if (value.isNull())
        return std::string();
    QDateTime when;
    if (value.metaType().id() == QMetaType::QDateTime) {
        when = value.toDateTime();
    } else if (value.metaType().id() == QMetaType::QDate) {
        when = QDateTime(value.toDate(), QTime(0, 0));
    } else {
        // Date and time are read apart and kept in UTC: a stored local time inside a
        // daylight-saving gap (03:30 on the spring-forward night) is still printed as stored.
        QDate date;
        QTime time;
        if (parseStoredDateTime(value.toString(), &date, &time))
            when = QDateTime(date, time, Qt::UTC);
    }
    if (!when.isValid())
        return std::string();
    const QDate d = when.date();
    const QTime t = when.time();
    return std::to_string(d.day()) + '/' + std::to_string(d.month()) + '/' + std::to_string(d.year()) + ' ' +
           std::to_string(t.hour()) + ':' + twoDigits(t.minute());
}

void setBulletinClock(std::function<QDateTime()> clock) {
    Clock() = std::move(clock);
}

QDateTime bulletinNow() {
    return Clock() ? Clock()() : QDateTime::currentDateTime();
}
