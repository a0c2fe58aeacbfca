#include "LabHeaderDialog.h"

#include "BulletinWriter.h"
#include "MessageBox.h"

#include <QBuffer>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileInfo>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTextBrowser>
#include <QVBoxLayout>

namespace {
const char* const kTitle = "Antetul buletinului";
const char* const kLabels[] = {"&Numele laboratorului:", "A&dresa:", "&Telefon:", "A&ltele:"};
const char* const kPreviousValuesKey = "ValoriAnterioare";
const char* const kPreviewLabel = "Asa arata antetul pe buletin:";
const char* const kNote = "Textele se scriu in Labrosa.ini si apar pe buletin asa cum sunt scrise (se poate folosi "
                          "HTML, de exemplu <br> pentru rand nou).";
} // namespace

LabHeaderDialog::LabHeaderDialog(const QString& settingsPath, QWidget* parent) : QDialog(parent), m_path(settingsPath) {
    setWindowTitle(QLatin1String(kTitle));
    setObjectName(QStringLiteral("labHeaderDialog"));
    QString error;
    if (!m_file.load(m_path, &error))
        labrosaMessageBox(error, parent);

    auto* form = new QFormLayout;
    const QStringList keys = LabSettingsFile::headerKeys();
    for (int i = 0; i < keys.size(); ++i) {
        auto* edit = new QLineEdit(m_file.value(keys.at(i)), this);
        edit->setObjectName(QStringLiteral("edit") + keys.at(i));
        edit->setMinimumWidth(480);
        // addRow with a text makes the label the buddy of its field, so Alt+letter reaches it.
        form->addRow(QLatin1String(kLabels[i]), edit);
        connect(edit, &QLineEdit::textChanged, this, &LabHeaderDialog::updatePreview);
        m_edits << edit;
    }
    m_previousValues =
        new QCheckBox(QStringLiteral("&Valoarea anterioara a pacientului pe buletin (coloana Anterior)"), this);
    m_previousValues->setObjectName(QStringLiteral("checkPreviousValues"));
    m_previousValues->setChecked(m_file.value(QLatin1String(kPreviousValuesKey)).trimmed() == QLatin1String("1"));
    form->addRow(m_previousValues);
    auto* note = new QLabel(QLatin1String(kNote), this);
    note->setWordWrap(true);
    note->setTextFormat(Qt::PlainText);

    auto* previewLabel = new QLabel(QLatin1String(kPreviewLabel), this);
    m_preview = new QTextBrowser(this);
    m_preview->setObjectName(QStringLiteral("preview"));
    m_preview->setOpenLinks(false);
    // The head's style sheet and pictures are in the laboratory's buletin_files.
    m_preview->setSearchPaths({QFileInfo(m_path).absolutePath()});
    previewLabel->setBuddy(m_preview);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Save | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Save)->setText(QStringLiteral("&Salveaza"));
    buttons->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("Renunta"));
    connect(buttons, &QDialogButtonBox::accepted, this, &LabHeaderDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &LabHeaderDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(note);
    layout->addWidget(previewLabel);
    layout->addWidget(m_preview, 1);
    layout->addWidget(buttons);

    for (int i = 0; i + 1 < m_edits.size(); ++i)
        setTabOrder(m_edits.at(i), m_edits.at(i + 1));
    setTabOrder(m_edits.last(), m_previousValues);
    setTabOrder(m_previousValues, m_preview);
    setTabOrder(m_preview, buttons);
    updatePreview();
    m_edits.first()->setFocus();
}

QByteArray LabHeaderDialog::headHtml(const QStringList& values) {
    QByteArray html;
    QBuffer buffer(&html);
    buffer.open(QIODevice::WriteOnly);
    BulletinWriter writer(&buffer);
    writer.writeDocumentHead();
    writer.writeLabHeader(values.value(0).toStdString(), values.value(1).toStdString(), values.value(2).toStdString(),
                          values.value(3).toStdString());
    return html;
}

QStringList LabHeaderDialog::values() const {
    QStringList values;
    // The bulletin's reader drops leading blanks; trailing ones are never meant.
    for (const QLineEdit* edit : m_edits)
        values << edit->text().trimmed();
    return values;
}

void LabHeaderDialog::updatePreview() {
    m_preview->setHtml(QString::fromUtf8(headHtml(values()) + "</BODY></HTML>"));
}

void LabHeaderDialog::accept() {
    const QStringList keys = LabSettingsFile::headerKeys();
    const QStringList values = this->values();
    for (int i = 0; i < keys.size(); ++i) {
        QString error;
        if (!m_file.setValue(keys.at(i), values.at(i), &error)) {
            labrosaMessageBox(error + QStringLiteral(" Fisierul Labrosa.ini nu a fost schimbat."), this);
            m_edits.at(i)->setFocus();
            return;
        }
    }
    // The key is written only when the choice changed, so a file without it stays as it was.
    const QString previousKey = QLatin1String(kPreviousValuesKey);
    const bool wasOn = m_file.value(previousKey).trimmed() == QLatin1String("1");
    QString error;
    if (m_previousValues->isChecked() != wasOn &&
        !m_file.setValue(previousKey, m_previousValues->isChecked() ? QStringLiteral("1") : QStringLiteral("0"),
                         &error)) {
        labrosaMessageBox(error + QStringLiteral(" Fisierul Labrosa.ini nu a fost schimbat."), this);
        return;
    }
    if (!m_file.save(m_path, &error)) {
        labrosaMessageBox(error, this);
        return;
    }
    QDialog::accept();
}
