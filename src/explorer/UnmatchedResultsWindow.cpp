#include "UnmatchedResultsWindow.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateTime>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "MessageBox.h"

namespace {

const char kCaption[] = "Rezultate nepotrivite";
const char kMsgNoTables[] = "Baza de date nu are inca tabelele receptorului de la analizoare. Aduceti-o la zi cu "
                            "labrosa-dbtool --upgrade.";
const char kMsgNotRead[] = "Rezultatele nepotrivite nu au putut fi citite din baza de date:\n%1";
const char kMsgNotResolved[] = "Rezultatul nu a fost pus in set; nimic nu s-a schimbat.\n%1";

QString shownTime(const QString& stored) {
    const QDateTime t = QDateTime::fromString(stored, QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    return t.isValid() ? t.toString(QStringLiteral("dd/MM/yyyy HH:mm:ss")) : QString();
}

QTreeWidget* makeList(const QStringList& headers, const char* name, QWidget* parent) {
    auto* list = new QTreeWidget(parent);
    list->setObjectName(QLatin1String(name));
    list->setRootIsDecorated(false);
    list->setAllColumnsShowFocus(true);
    list->setSelectionMode(QAbstractItemView::SingleSelection);
    list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    list->setUniformRowHeights(true);
    list->setHeaderLabels(headers);
    list->header()->setStretchLastSection(true);
    return list;
}

QString analyserText(const QString& name, int machineId) {
    return name.isEmpty() ? QString::number(machineId) : QStringLiteral("%1 (%2)").arg(name).arg(machineId);
}

} // namespace

UnmatchedResultsWindow::UnmatchedResultsWindow(DatabaseConnection* database, QWidget* parent)
    : QDialog(parent), m_queue(database) {
    setObjectName(QStringLiteral("UnmatchedResultsWindow"));
    setWindowTitle(QString::fromLatin1(kCaption));
    m_analysers = makeList({QStringLiteral("Analizor"), QStringLiteral("Legatura"), QStringLiteral("Ultimul mesaj"),
                            QStringLiteral("Mesaje"), QStringLiteral("Ultima eroare")},
                           "listAnalysers", this);
    auto* analysersLabel = new QLabel(QStringLiteral("&Analizoare"), this);
    analysersLabel->setBuddy(m_analysers);
    m_unmatched = makeList({QStringLiteral("Primit la"), QStringLiteral("Analizor"), QStringLiteral("Cerere"),
                            QStringLiteral("Pacient"), QStringLiteral("Cod"), QStringLiteral("Valoare"),
                            QStringLiteral("De ce asteapta")},
                           "listUnmatched", this);
    auto* unmatchedLabel = new QLabel(QStringLiteral("&Rezultate care asteapta"), this);
    unmatchedLabel->setBuddy(m_unmatched);

    m_requestId = new QLineEdit(this);
    m_requestId->setObjectName(QStringLiteral("editRequestId"));
    m_requestId->setMaxLength(50);
    m_parameter = new QComboBox(this);
    m_parameter->setObjectName(QStringLiteral("comboParameter"));
    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("&Cererea:"), m_requestId);
    form->addRow(QStringLiteral("&Parametrul:"), m_parameter);
    m_remember = new QCheckBox(QStringLiteral("&Tine minte: codul analizorului inseamna acest parametru"), this);
    m_remember->setObjectName(QStringLiteral("checkRemember"));
    m_remember->setChecked(true);
    form->addRow(QString(), m_remember);

    m_apply = new QPushButton(QStringLiteral("Pune in &set"), this);
    m_apply->setObjectName(QStringLiteral("buttonApply"));
    m_apply->setEnabled(false);
    auto* refresh = new QPushButton(QStringLiteral("&Reimprospateaza"), this);
    refresh->setObjectName(QStringLiteral("buttonRefresh"));
    auto* close = new QPushButton(QStringLiteral("&Inchide"), this);
    close->setObjectName(QStringLiteral("buttonClose"));
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(m_apply);
    buttons->addWidget(refresh);
    buttons->addStretch(1);
    buttons->addWidget(close);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(analysersLabel);
    layout->addWidget(m_analysers, 1);
    layout->addWidget(unmatchedLabel);
    layout->addWidget(m_unmatched, 3);
    layout->addLayout(form);
    layout->addLayout(buttons);
    resize(900, 560);

    connect(m_unmatched, &QTreeWidget::currentItemChanged, this, &UnmatchedResultsWindow::onCurrentChanged);
    connect(m_apply, &QPushButton::clicked, this, &UnmatchedResultsWindow::onApply);
    connect(refresh, &QPushButton::clicked, this, [this] {
        if (!reload())
            labrosaMessageBox(QString::fromLatin1(kMsgNotRead).arg(m_error), this);
    });
    connect(close, &QPushButton::clicked, this, &QDialog::reject);
}

bool UnmatchedResultsWindow::reload() {
    m_error.clear();
    std::vector<AnalyserStatus> status;
    std::vector<UnmatchedResult> waiting;
    // Nothing partial is shown: either both lists are read whole or neither changes.
    if (!m_queue.analysers(&status) || !m_queue.waiting(&waiting)) {
        m_error = m_queue.errorText();
        return false;
    }
    m_analysers->clear();
    for (const AnalyserStatus& s : status) {
        const QString error =
            s.lastError.isEmpty() ? QString() : QStringLiteral("%1: %2").arg(shownTime(s.lastErrorAt), s.lastError);
        m_analysers->addTopLevelItem(
            new QTreeWidgetItem(QStringList{analyserText(s.analyserName, s.machineId), s.state,
                                            shownTime(s.lastMessageAt), QString::number(s.messages), error}));
    }
    m_waiting = waiting;
    m_unmatched->clear();
    for (const UnmatchedResult& r : m_waiting)
        m_unmatched->addTopLevelItem(new QTreeWidgetItem(
            QStringList{shownTime(r.receivedAt), analyserText(r.analyserName, r.machineId), r.requestId, r.patientName,
                        r.code, r.value, UnmatchedResults::reasonLabel(r.reason)}));
    for (QTreeWidget* list : {m_analysers, m_unmatched})
        for (int column = 0; column < list->columnCount() - 1; ++column)
            list->resizeColumnToContents(column);
    if (m_unmatched->topLevelItemCount() > 0)
        m_unmatched->setCurrentItem(m_unmatched->topLevelItem(0));
    else
        onCurrentChanged();
    return true;
}

void UnmatchedResultsWindow::onCurrentChanged() {
    const int row = m_unmatched->currentItem() ? m_unmatched->indexOfTopLevelItem(m_unmatched->currentItem()) : -1;
    m_parameter->clear();
    m_requestId->clear();
    m_apply->setEnabled(row >= 0);
    if (row < 0)
        return;
    const UnmatchedResult& r = m_waiting.at(size_t(row));
    m_requestId->setText(r.requestId);
    QStringList codes;
    if (!m_queue.parameterCodes(r.machineId, &codes)) {
        m_apply->setEnabled(false);
        labrosaMessageBox(QString::fromLatin1(kMsgNotRead).arg(m_queue.errorText()), this);
        return;
    }
    m_parameter->addItems(codes);
    // The analyser's own code when the laboratory has it, else the technician chooses.
    m_parameter->setCurrentIndex(int(codes.indexOf(r.code)));
}

void UnmatchedResultsWindow::onApply() {
    const int row = m_unmatched->currentItem() ? m_unmatched->indexOfTopLevelItem(m_unmatched->currentItem()) : -1;
    if (row < 0)
        return;
    if (m_parameter->currentIndex() < 0 || m_requestId->text().trimmed().isEmpty()) {
        labrosaMessageBox(QStringLiteral("Alegeti cererea si parametrul rezultatului."), this);
        return;
    }
    if (!m_queue.resolve(m_waiting.at(size_t(row)), m_requestId->text(), m_parameter->currentText(),
                         m_remember->isChecked())) {
        labrosaMessageBox(QString::fromLatin1(kMsgNotResolved).arg(m_queue.errorText()), this);
        return;
    }
    if (!reload())
        labrosaMessageBox(QString::fromLatin1(kMsgNotRead).arg(m_error), this);
}

void UnmatchedResultsWindow::showFor(DatabaseConnection* database, QWidget* parent) {
    UnmatchedResults queue(database);
    if (!queue.available()) {
        labrosaMessageBox(queue.errorText().isEmpty() ? QString::fromLatin1(kMsgNoTables)
                                                      : QString::fromLatin1(kMsgNotRead).arg(queue.errorText()),
                          parent);
        return;
    }
    UnmatchedResultsWindow window(database, parent);
    if (!window.reload()) {
        labrosaMessageBox(QString::fromLatin1(kMsgNotRead).arg(window.errorText()), parent);
        return;
    }
    window.exec();
}
