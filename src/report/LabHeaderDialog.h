#pragma once

#include <QDialog>
#include <QList>

#include "LabSettingsFile.h"

class QCheckBox;
class QLineEdit;
class QTextBrowser;

// Edits the laboratory's header in Labrosa.ini (the file of the current directory) and shows
// the bulletin's head as it will print, written by the bulletin's own writer. Save writes the
// file only when every field can be read back unchanged by the bulletin; a field that cannot
// is named in a message and gets the focus. Child widgets carry object names: "editNumeLaborator",
// "editAdresa", "editTelefon", "editAltele", "preview",
// "checkPreviousValues" (the bulletin's column of previous values, key ValoriAnterioare).
class LabHeaderDialog : public QDialog {
    Q_OBJECT
public:
    explicit LabHeaderDialog(const QString& settingsPath, QWidget* parent = nullptr);

    void accept() override;
    // The head of the bulletin for these header values, as the bulletin file begins.
    static QByteArray headHtml(const QStringList& values);

private:
    void updatePreview();
    QStringList values() const;

    QString m_path;
    LabSettingsFile m_file;
    QList<QLineEdit*> m_edits;
    QTextBrowser* m_preview = nullptr;
    QCheckBox* m_previousValues = nullptr;
};
