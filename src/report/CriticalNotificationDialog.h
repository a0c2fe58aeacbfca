#pragma once

#include <QDateTime>
#include <QDialog>
#include <QList>
#include <QString>
#include <QStringList>

#include <functional>
#include <vector>

#include "CriticalLimits.h"

class DatabaseConnection;
class QDateTimeEdit;
class QLineEdit;
class QPushButton;

// Asks who was told of a request's critical values and when: "Anuntat: nume, telefon/e-mail,
// ora", the time prefilled with now and editable. OK stays disabled until a name and a
// contact are typed. Object names: "editToldName", "editToldContact", "editToldAt".
class CriticalNotificationDialog : public QDialog {
    Q_OBJECT
public:
    CriticalNotificationDialog(const QString& requestId, const std::vector<CriticalValue>& critical,
                               QWidget* parent = nullptr);

    QString name() const;
    QString contact() const;
    QDateTime toldAt() const; // UTC

    QLineEdit* nameEdit() const { return m_name; }
    QLineEdit* contactEdit() const { return m_contact; }
    QDateTimeEdit* timeEdit() const { return m_time; }

    // Tests answer in place of the user: the hook gets the dialog (not shown), may fill it, and
    // returns true for OK, false for Cancel. An empty function restores the modal dialog.
    static void setAnswerHook(std::function<bool(CriticalNotificationDialog&)> hook);

    // Asks, and records the answer naming each value; the messages to show come back (none when
    // it was recorded).
    static QStringList askAndRecord(DatabaseConnection* database, const QString& requestId,
                                    const QList<qint64>& resultIds, const std::vector<CriticalValue>& critical,
                                    QWidget* parent);

    static constexpr int kMaxTextLength = 200;

private:
    QLineEdit* m_name = nullptr;
    QLineEdit* m_contact = nullptr;
    QDateTimeEdit* m_time = nullptr;
    QPushButton* m_ok = nullptr;
};
