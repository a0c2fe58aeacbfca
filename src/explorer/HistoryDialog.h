#pragma once

#include <QDialog>
#include <QString>
#include <QVariant>

#include <functional>

class CAdoDatabase;
class CDocTemplate;
class QLabel;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;

// "Istoric": the corrections and the archived bulletins of one request, newest first, in a
// modal dialog. A record whose identifier names no request shows its own history only. An
// archived bulletin opens read-only in a bulletin window, and the dialog closes.
// Child widgets: "labelSubject", "listCorrections", "listBulletins", "buttonOpenBulletin", "buttonClose".
class HistoryDialog : public QDialog {
    Q_OBJECT
public:
    // valueText: a stored value of a RESULTS column as the result list shows it.
    using ValueText = std::function<QString(const QString& field, const QVariant& value)>;

    HistoryDialog(CAdoDatabase* database, CDocTemplate* bulletinTemplate, ValueText valueText,
                  QWidget* parent = nullptr);
    ~HistoryDialog() override;

    // Reads the history of the request of this record; false when it could not be read whole
    // (the reason in ErrorText()), and then the dialog is not to be shown.
    bool Load(const QString& requestId, qint64 recordId);
    QString ErrorText() const { return m_error; }

    // A RESULTS column as the result list names it.
    static QString FieldCaption(const QString& field);

public slots:
    // Opens the bulletin of the current row of the bulletin list.
    void OnOpenBulletin();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    CAdoDatabase* m_pDatabase;
    CDocTemplate* m_pBulletinTemplate;
    ValueText m_valueText;
    QLabel* m_pSubject = nullptr;
    QTreeWidget* m_pCorrections = nullptr;
    QTreeWidget* m_pBulletins = nullptr;
    QPushButton* m_pOpen = nullptr;
    QString m_error;
};
