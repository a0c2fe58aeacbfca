#pragma once

#include <QFrame>

class QLabel;
class QPushButton;

// A bar in the window that says the database is making an action wait, with "Renunta" to give it
// up; the rest of the window stays usable meanwhile. Object names: "waitingBar",
// "labelWaiting", "buttonGiveUp".
class WaitingBar : public QFrame {
    Q_OBJECT
public:
    explicit WaitingBar(QWidget* parent = nullptr);

    // Shows what waits, the button ready again.
    void showWaiting(const QString& text);
    void hideWaiting();

signals:
    void givenUp();

private:
    QLabel* m_label = nullptr;
    QPushButton* m_giveUp = nullptr;
};
