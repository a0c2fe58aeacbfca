#include "RestoreDialog.h"

#include "BackupSet.h"

#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QHeaderView>
#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {
const char* const kTitle = "Restaureaza din copie";
const char* const kIntro =
    "Alegeti copia de siguranta care sa fie pusa in locul bazei de date \"%1\". Copia este verificata din nou "
    "inainte; baza de date de acum nu se sterge: ramane langa ea, redenumita. Ferestrele laboratorului se inchid "
    "si se deschid din nou.";
const char* const kWhere = "Copiile din \"%1\":";
const char* const kUnreadable = "Copiile nu pot fi citite: %1";
const char* const kGood = "buna";
const char* const kRestore = "Pune copia in locul bazei de date";
const char* const kOtherFolder = "Alt dosar...";
const QStringList kColumns{QStringLiteral("Facuta la"),        QStringLiteral("Seturi de rezultate"),
                           QStringLiteral("Ultimul transfer"), QStringLiteral("Facuta de"),
                           QStringLiteral("Marime (MB)"),      QStringLiteral("Verificare")};
} // namespace

RestoreDialog::RestoreDialog(const QString& folder, const QString& databaseFile, QWidget* parent)
    : QDialog(parent), m_folder(folder) {
    setWindowTitle(QLatin1String(kTitle));
    setObjectName(QStringLiteral("restoreDialog"));
    auto* layout = new QVBoxLayout(this);
    auto* intro = new QLabel(QString::fromLatin1(kIntro).arg(QDir::toNativeSeparators(databaseFile)), this);
    intro->setWordWrap(true);
    layout->addWidget(intro);
    m_where = new QLabel(this);
    m_where->setWordWrap(true);
    layout->addWidget(m_where);
    m_list = new QTreeWidget(this);
    m_list->setObjectName(QStringLiteral("backupCopies"));
    m_list->setRootIsDecorated(false);
    m_list->setHeaderLabels(kColumns);
    m_list->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    layout->addWidget(m_list, 1);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    m_restore = buttons->addButton(QLatin1String(kRestore), QDialogButtonBox::AcceptRole);
    m_restore->setObjectName(QStringLiteral("restoreButton"));
    QPushButton* other = buttons->addButton(QLatin1String(kOtherFolder), QDialogButtonBox::ActionRole);
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(m_restore, &QPushButton::clicked, this, [this] {
        const QTreeWidgetItem* item = m_list->currentItem();
        if (!item)
            return;
        m_chosen = item->data(0, Qt::UserRole).toString();
        accept();
    });
    connect(other, &QPushButton::clicked, this, &RestoreDialog::chooseFolder);
    connect(m_list, &QTreeWidget::currentItemChanged, this, &RestoreDialog::updateButton);
    resize(820, 360);
    load(folder);
}

void RestoreDialog::load(const QString& folder) {
    m_folder = folder;
    m_list->clear();
    BackupSet set;
    QString error;
    if (!set.scan(folder, &error)) {
        m_where->setText(QString::fromLatin1(kUnreadable).arg(error));
        updateButton();
        return;
    }
    m_where->setText(QString::fromLatin1(kWhere).arg(QDir::toNativeSeparators(folder)));
    const QLocale c = QLocale::c();
    for (const BackupEntry& entry : set.entries()) {
        auto* item = new QTreeWidgetItem(m_list);
        item->setText(0, c.toString(entry.madeAt, QStringLiteral("yyyy-MM-dd HH:mm:ss")));
        item->setData(0, Qt::UserRole, entry.folder);
        if (entry.good) {
            item->setText(1, QString::number(entry.manifest.resultSets));
            item->setText(2, entry.manifest.newestTransfer);
            item->setText(3, entry.manifest.madeBy);
            item->setText(4, c.toString(double(entry.manifest.size) / (1024 * 1024), 'f', 1));
            item->setText(5, QLatin1String(kGood));
        } else {
            // Listed with its reason, never offered.
            item->setText(5, entry.problem);
            item->setFlags(item->flags() & ~Qt::ItemIsEnabled & ~Qt::ItemIsSelectable);
        }
    }
    for (int i = 0; i < m_list->topLevelItemCount(); ++i) {
        if (m_list->topLevelItem(i)->flags() & Qt::ItemIsEnabled) {
            m_list->setCurrentItem(m_list->topLevelItem(i));
            break;
        }
    }
    updateButton();
}

void RestoreDialog::chooseFolder() {
    const QString folder = QFileDialog::getExistingDirectory(this, QLatin1String(kTitle), m_folder);
    if (!folder.isEmpty())
        load(folder);
}

void RestoreDialog::updateButton() {
    const QTreeWidgetItem* item = m_list->currentItem();
    m_restore->setEnabled(item && (item->flags() & Qt::ItemIsEnabled));
}
