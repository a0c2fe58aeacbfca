#include "WidestTextTracker.h"

#include "TextUtils.h"

#include <QStringDecoder>
#include <QVarLengthArray>

#include <algorithm>
#include <type_traits>

namespace {

// Latin letters with their accents (Romanian ones included) lie below this code point.
constexpr int kCachedCodeUnits = 0x0250;
constexpr int kMaxCandidates = 32;

// How far below the widest estimate a text may lie and still be measured: kerning and
// ligatures change a width by a few per cent at most.
int slack(int estimate) {
    return estimate / 10 + 4;
}

} // namespace

WidestTextTracker::WidestTextTracker(const QFontMetrics& metrics)
    : m_metrics(metrics), m_charWidths(kCachedCodeUnits, -1) {}

int WidestTextTracker::estimate(QStringView text) {
    int width = 0;
    for (const QChar c : text) {
        const char16_t unit = c.unicode();
        if (unit < kCachedCodeUnits) {
            width += charWidth(unit);
        } else if (c.isLowSurrogate()) {
            // Counted with its high half.
        } else {
            width += c.isHighSurrogate() ? m_metrics.maxWidth() : m_metrics.horizontalAdvance(c);
        }
    }
    return width;
}

int WidestTextTracker::estimateAscii(const char* text, qsizetype size) {
    int width = 0;
    for (qsizetype i = 0; i < size; ++i)
        width += charWidth(static_cast<unsigned char>(text[i]));
    return width;
}

void WidestTextTracker::note(QAnyStringView text) {
    text.visit([this](auto view) {
        using View = decltype(view);
        if constexpr (std::is_same_v<View, QStringView>) {
            noteEstimated(view, estimate(view));
        } else if constexpr (std::is_same_v<View, QLatin1StringView>) {
            noteEstimated(view, estimateAscii(view.data(), view.size()));
        } else {
            const char* bytes = view.data();
            if (isAscii(bytes, size_t(view.size()))) {
                // ASCII is Latin-1 too, which compares quicker with the kept texts.
                const QLatin1StringView latin1(bytes, view.size());
                noteEstimated(latin1, estimateAscii(bytes, view.size()));
            } else {
                // Decoded on the stack for a usual text, not into a string.
                QStringDecoder decoder(QStringDecoder::Utf8);
                QVarLengthArray<QChar, 128> decoded(decoder.requiredSpace(view.size()));
                const QChar* end = decoder.appendToBuffer(decoded.data(), QByteArrayView(bytes, view.size()));
                const QStringView text(decoded.data(), end - decoded.data());
                noteEstimated(text, estimate(text));
            }
        }
    });
}

quint64 WidestTextTracker::fingerprint(QAnyStringView text) {
    // FNV-1a over the characters, alike for Latin-1 and UTF-16 (the forms texts come here in).
    quint64 hash = 14695981039346656037ULL;
    text.visit([&hash](auto view) {
        for (const auto c : view) {
            hash ^= quint64(QChar(c).unicode());
            hash *= 1099511628211ULL;
        }
    });
    return hash;
}

bool WidestTextTracker::isCandidate(QAnyStringView text, int width, quint64 print) const {
    // The same text has the same estimate and fingerprint: only those are compared.
    for (int i = 0; i < int(m_candidates.size()); ++i) {
        if (m_candidateEstimates[i] == width && m_candidatePrints[i] == print &&
            QAnyStringView::equal(m_candidates.at(i), text))
            return true;
    }
    return false;
}

void WidestTextTracker::noteEstimated(QAnyStringView text, int width) {
    if (width + slack(width) < m_bestEstimate)
        return;
    // With no room left, a text that raises no estimate changes nothing.
    if (m_candidates.size() >= kMaxCandidates && width <= m_bestEstimate) {
        if (!m_overflow && !isCandidate(text, width, fingerprint(text)))
            m_overflow = true;
        return;
    }
    if (width > m_bestEstimate) {
        m_bestEstimate = width;
        const int floor = m_bestEstimate - slack(m_bestEstimate);
        for (int i = int(m_candidates.size()) - 1; i >= 0; --i) {
            if (m_candidateEstimates[i] < floor) {
                m_candidates.removeAt(i);
                m_candidateEstimates.erase(m_candidateEstimates.begin() + i);
                m_candidatePrints.erase(m_candidatePrints.begin() + i);
            }
        }
    }
    const quint64 print = fingerprint(text);
    if (isCandidate(text, width, print))
        return;
    if (m_candidates.size() < kMaxCandidates) {
        m_candidates.append(text.toString());
        m_candidateEstimates.push_back(width);
        m_candidatePrints.push_back(print);
    } else {
        m_overflow = true;
    }
}

int WidestTextTracker::widest() const {
    // Every text near the top was measured, unless there were too many of them.
    int widest = m_overflow ? m_bestEstimate : 0;
    for (const QString& text : m_candidates)
        widest = std::max(widest, m_metrics.horizontalAdvance(text));
    return widest;
}
