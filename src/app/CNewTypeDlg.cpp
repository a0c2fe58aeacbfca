#include "CNewTypeDlg.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

CNewTypeDlg::CNewTypeDlg(const QStringList& names, QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("New"));
    setObjectName(QStringLiteral("newTypeDialog"));

    auto* label = new QLabel(QStringLiteral("&New"), this);
    m_pList = new QListWidget(this);
    m_pList->setObjectName(QStringLiteral("newTypeList"));
    m_pList->addItems(names);
    m_pList->setCurrentRow(0);
    label->setBuddy(m_pList);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setDefault(true);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(m_pList, &QListWidget::itemActivated, this, &QDialog::accept);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(label);
    layout->addWidget(m_pList);
    layout->addWidget(buttons);
    m_pList->setFocus();
}

int CNewTypeDlg::selectedIndex() const {
    return m_pList->currentRow();
}
