#include "WaitingBar.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>

namespace {

const char* const kGiveUp = "&Renunta";
const char* const kGivingUp = "Se renunta...";

} // namespace

WaitingBar::WaitingBar(QWidget* parent) : QFrame(parent) {
    setObjectName(QStringLiteral("waitingBar"));
    setFrameShape(QFrame::StyledPanel);
    m_label = new QLabel(this);
    m_label->setObjectName(QStringLiteral("labelWaiting"));
    m_label->setWordWrap(true);
    m_giveUp = new QPushButton(QString::fromLatin1(kGiveUp), this);
    m_giveUp->setObjectName(QStringLiteral("buttonGiveUp"));
    auto* layout = new QHBoxLayout(this);
    layout->addWidget(m_label, 1);
    layout->addWidget(m_giveUp);
    connect(m_giveUp, &QPushButton::clicked, this, [this] {
        // The action ends once the database has stopped it, which may take a moment more.
        m_giveUp->setEnabled(false);
        m_label->setText(QString::fromLatin1(kGivingUp));
        emit givenUp();
    });
    hide();
}

void WaitingBar::showWaiting(const QString& text) {
    m_label->setText(text);
    m_giveUp->setText(QString::fromLatin1(kGiveUp));
    m_giveUp->setEnabled(true);
    show();
}

void WaitingBar::hideWaiting() {
    hide();
}
