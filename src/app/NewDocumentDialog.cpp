#include "NewDocumentDialog.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

NewDocumentDialog::NewDocumentDialog(const QStringList& names, QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("New"));
    setObjectName(QStringLiteral("newTypeDialog"));

    auto* label = new QLabel(QStringLiteral("&New"), this);
    m_list = new QListWidget(this);
    m_list->setObjectName(QStringLiteral("newTypeList"));
    m_list->addItems(names);
    m_list->setCurrentRow(0);
    label->setBuddy(m_list);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setDefault(true);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(m_list, &QListWidget::itemActivated, this, &QDialog::accept);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(label);
    layout->addWidget(m_list);
    layout->addWidget(buttons);
    m_list->setFocus();
}

int NewDocumentDialog::selectedIndex() const {
    return m_list->currentRow();
}
