#pragma once

// A window holding an editable list of seven 80-pixel columns, with every grid signal
// written into one log so that tests can check which signals came and in which order.

#include "EditableListView.h"
#include "InPlaceComboBox.h"
#include "InPlaceLineEdit.h"

#include <QLineEdit>
#include <QStringList>
#include <QTest>
#include <QVBoxLayout>
#include <QWidget>

class GridWindow : public QWidget {
public:
    explicit GridWindow(int rows = 5, QWidget* parent = nullptr) : QWidget(parent) {
        auto* layout = new QVBoxLayout(this);
        other = new QLineEdit(this);
        other->setObjectName(QStringLiteral("other"));
        list = new EditableListView(this);
        list->setObjectName(QStringLiteral("resultList"));
        layout->addWidget(other);
        layout->addWidget(list);
        for (int c = 0; c < 7; ++c)
            list->insertListColumn(c, QStringLiteral("Col %1").arg(c), EditableListView::LVCFMT_LEFT, 80);
        for (int r = 0; r < rows; ++r) {
            list->insertItem(r, QStringLiteral("r%1c0").arg(r));
            for (int c = 1; c < 7; ++c)
                list->setItemText(r, c, QStringLiteral("r%1c%2").arg(r).arg(c));
        }
        QObject::connect(list, &EditableListView::gridValidate, list, [this](int, const CellEditResult* info) {
            log << QStringLiteral("validate %1 %2 %3").arg(info->row).arg(info->column).arg(info->text);
        });
        QObject::connect(list, &EditableListView::gridEditDone, list, [this](int row, int column) {
            // Whether an editor window is still open when the owner hears of the end.
            const bool open = (InPlaceLineEdit::hasInstance() && InPlaceLineEdit::getInstance()->hasWindow()) ||
                              (InPlaceComboBox::hasInstance() && InPlaceComboBox::getInstance()->hasWindow());
            log << QStringLiteral("done %1 %2 %3").arg(row).arg(column).arg(open ? "open" : "closed");
        });
        QObject::connect(list, &EditableListView::gridFillCombo, list, [this](int column, QStringList* entries) {
            log << QStringLiteral("fill %1").arg(column);
            *entries = comboEntries;
        });
        QObject::connect(list, &EditableListView::gridCheckToggled, list,
                         [this](int row, int column) { log << QStringLiteral("toggle %1 %2").arg(row).arg(column); });
        resize(700, 360);
    }

    // The list goes first, so that an edit ended by the window going away reports to a
    // live fixture.
    ~GridWindow() override { delete list; }

    bool showActive() {
        show();
        activateWindow();
        return QTest::qWaitForWindowActive(this);
    }

    QPoint cellCentre(int row, int column) const {
        return list->visualRect(list->model()->index(row, column)).center();
    }

    void click(int row, int column, Qt::KeyboardModifiers modifiers = {}) {
        QTest::mouseClick(list->viewport(), Qt::LeftButton, modifiers, cellCentre(row, column));
    }

    EditableListView* list = nullptr;
    QLineEdit* other = nullptr;
    QStringList log;
    QStringList comboEntries;
};

inline bool editOpen() {
    return InPlaceLineEdit::hasInstance() && InPlaceLineEdit::getInstance()->hasWindow();
}

inline bool comboOpen() {
    return InPlaceComboBox::hasInstance() && InPlaceComboBox::getInstance()->hasWindow();
}

// Lets every queued close and done message through.
inline void settle() {
    for (int i = 0; i < 3; ++i)
        QCoreApplication::processEvents();
}
