#include "WidestTextTracker.h"

#include <algorithm>

namespace {

// Latin letters with their accents (Romanian ones included) lie below this code point.
constexpr int kCachedCodeUnits = 0x0250;
constexpr int kMaxCandidates = 32;

// How far below the widest estimate a text may lie and still be measured: kerning and
// ligatures change a width by a few per cent at most.
int Slack(int estimate) {
    return estimate / 10 + 4;
}

} // namespace

WidestTextTracker::WidestTextTracker(const QFontMetrics& metrics)
    : m_metrics(metrics), m_charWidths(kCachedCodeUnits, -1) {}

int WidestTextTracker::estimate(const QString& text) {
    int width = 0;
    for (const QChar c : text) {
        const char16_t unit = c.unicode();
        if (unit < kCachedCodeUnits) {
            int& cached = m_charWidths[unit];
            if (cached < 0)
                cached = m_metrics.horizontalAdvance(c);
            width += cached;
        } else if (c.isLowSurrogate()) {
            // Counted with its high half.
        } else {
            width += c.isHighSurrogate() ? m_metrics.maxWidth() : m_metrics.horizontalAdvance(c);
        }
    }
    return width;
}

void WidestTextTracker::note(const QString& text) {
    const int width = estimate(text);
    if (width + Slack(width) < m_bestEstimate)
        return;
    if (width > m_bestEstimate) {
        m_bestEstimate = width;
        const int floor = m_bestEstimate - Slack(m_bestEstimate);
        for (int i = int(m_candidates.size()) - 1; i >= 0; --i) {
            if (m_candidateEstimates[i] < floor) {
                m_candidates.removeAt(i);
                m_candidateEstimates.erase(m_candidateEstimates.begin() + i);
            }
        }
    }
    if (m_candidates.contains(text))
        return;
    if (m_candidates.size() < kMaxCandidates) {
        m_candidates.append(text);
        m_candidateEstimates.push_back(width);
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
