#pragma once

#include <QDialog>
#include <QString>
#include <QVariant>

#include <functional>

class DatabaseConnection;
class DocumentTemplate;
class QLabel;
class QPlainTextEdit;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;

// "Istoric": the corrections and the archived bulletins of one request, newest first, in a
// modal dialog. A record whose identifier names no request shows its own history only. An
// archived bulletin opens read-only in a bulletin window, and the dialog closes.
// Child widgets: "labelSubject", "listCorrections", "listBulletins", "buttonOpenBulletin", "buttonClose",
// and, on a database that records who was told of critical values, "listNotifications"; on one
// that receives results from analysers, "listReceivedMessages" with the current message's text in
// "textReceivedMessage".
class HistoryDialog : public QDialog {
    Q_OBJECT
public:
    // valueText: a stored value of a RESULTS column as the result list shows it.
    using ValueText = std::function<QString(const QString& field, const QVariant& value)>;

    HistoryDialog(DatabaseConnection* database, DocumentTemplate* bulletinTemplate, ValueText valueText,
                  QWidget* parent = nullptr);
    ~HistoryDialog() override;

    // Reads the history of the request of this record; false when it could not be read whole
    // (the reason in errorText()), and then the dialog is not to be shown.
    bool load(const QString& requestId, qint64 recordId);
    QString errorText() const { return m_error; }

    // A RESULTS column as the result list names it.
    static QString fieldCaption(const QString& field);

public slots:
    // Opens the bulletin of the current row of the bulletin list.
    void onOpenBulletin();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    DatabaseConnection* m_database;
    DocumentTemplate* m_bulletinTemplate;
    ValueText m_valueText;
    QLabel* m_subject = nullptr;
    QTreeWidget* m_corrections = nullptr;
    QTreeWidget* m_bulletins = nullptr;
    QTreeWidget* m_notifications = nullptr; // who was told of critical values
    QLabel* m_notificationsLabel = nullptr;
    QTreeWidget* m_received = nullptr; // the analysers' messages the sets came from
    QLabel* m_receivedLabel = nullptr;
    QPlainTextEdit* m_receivedText = nullptr;
    QPushButton* m_open = nullptr;
    QString m_error;
};
