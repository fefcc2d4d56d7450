#include "browser/list_control.h"

#include <QContextMenuEvent>

CListControl::CListControl(int controlId, QWidget* parent) : QListWidget(parent), controlId_(controlId) {
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    connect(this, &QListWidget::currentRowChanged, this, &CListControl::ReportStateChanges);
    connect(this, &QListWidget::itemSelectionChanged, this, &CListControl::ReportStateChanges);
}

int CListControl::SelectedIndex() const {
    int first = -1;
    for (const QModelIndex& index : selectionModel()->selectedIndexes())
        if (first < 0 || index.row() < first) first = index.row();
    return first;
}

void CListControl::SelectRow(int row) {
    if (row < 0 || row >= count()) return;
    setCurrentRow(row, QItemSelectionModel::ClearAndSelect);
    scrollToItem(item(row));
}

void CListControl::SelectNextRow() {
    const int focused = currentRow();
    if (focused < 0)
        SelectRow(0);
    else if (focused + 1 < count())
        SelectRow(focused + 1);
    else if (SelectedIndex() != focused)
        SelectRow(focused);
}

void CListControl::SelectPreviousRow() {
    const int focused = currentRow();
    if (focused < 0)
        SelectRow(0);
    else if (focused > 0)
        SelectRow(focused - 1);
    else if (SelectedIndex() != focused)
        SelectRow(focused);
}

void CListControl::SelectFirstRow() { SelectRow(0); }

void CListControl::RemoveRow(int row) {
    if (row < 0 || row >= count()) return;
    const bool held = row == currentRow() || row == SelectedIndex();
    silent_ = true;
    delete takeItem(row);
    // The states a removed row held go with it rather than passing to a neighbour, so that
    // selecting that neighbour afterwards is reported.
    if (held) {
        clearSelection();
        setCurrentRow(-1);
    }
    silent_ = false;
    ForgetStates();
}

void CListControl::RemoveAllRows() {
    silent_ = true;
    clear();
    silent_ = false;
    ForgetStates();
}

void CListControl::ForgetStates() {
    // The states as they stand now become the known ones, so that only later changes are
    // reported.
    reportedFocus_ = currentRow();
    reportedSelection_ = SelectedIndex();
}

void CListControl::ReportStateChanges() {
    if (silent_) return;
    const int focus = currentRow();
    const int selection = SelectedIndex();
    const auto stateOf = [](int row, int focused, int selected) {
        return (row == focused ? LVIS_FOCUSED : 0) | (row == selected ? LVIS_SELECTED : 0);
    };
    // The rows that lost a state first, then the row that gained one.
    int rows[] = {reportedFocus_, reportedSelection_, focus, selection};
    const int oldFocus = reportedFocus_;
    const int oldSelection = reportedSelection_;
    reportedFocus_ = focus;
    reportedSelection_ = selection;
    for (int i = 0; i < 4; ++i) {
        const int row = rows[i];
        if (row < 0 || row >= count()) continue;
        bool seen = false;
        for (int j = 0; j < i; ++j) seen = seen || rows[j] == row;
        if (seen) continue;
        const int before = stateOf(row, oldFocus, oldSelection);
        const int after = stateOf(row, focus, selection);
        if (before != after) emit ItemChanged(controlId_, row, after);
    }
}

void CListControl::contextMenuEvent(QContextMenuEvent* event) {
    emit ContextMenuRequested(event->globalPos());
    event->accept();
}

void CListControl::focusInEvent(QFocusEvent* event) {
    const bool hadFocusedRow = currentIndex().isValid();
    silent_ = true;
    QListWidget::focusInEvent(event);
    if (!hadFocusedRow && currentIndex().isValid()) selectionModel()->setCurrentIndex({}, QItemSelectionModel::NoUpdate);
    silent_ = false;
}
