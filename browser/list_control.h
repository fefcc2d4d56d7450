#pragma once

#include <QListWidget>

// Item states a change notification carries.
enum ListItemState : int {
    LVIS_FOCUSED = 1,
    LVIS_SELECTED = 2,
};

// A single-selection list of the file list bar (the names list and the thumbnails list).
// Every change of a row's selected or focused state is reported with the list's control
// id, the row and the row's new state, however it came about: a click, a key typed by the
// user, or one of the row operations below. The main frame opens a row's file when its new
// state is exactly selected and focused.
class CListControl : public QListWidget {
    Q_OBJECT
public:
    CListControl(int controlId, QWidget* parent = nullptr);

    int ControlId() const { return controlId_; }
    // The first selected row, or -1.
    int SelectedIndex() const;

    // Makes row the one selected and focused row (nothing changes for a row out of range).
    void SelectRow(int row);
    // What the arrow and Home keys do in a one-column list: the next or previous row (the
    // first row when none has the focus), stopping at either end; the first row.
    void SelectNextRow();
    void SelectPreviousRow();
    void SelectFirstRow();

    // Removes a row or every row without reporting the states the removal disturbs; the
    // selection and focus of a removed row go with it.
    void RemoveRow(int row);
    void RemoveAllRows();

signals:
    void ItemChanged(int controlId, int row, int newState);
    // A right click anywhere in the list, at a global position.
    void ContextMenuRequested(const QPoint& globalPos);

protected:
    void contextMenuEvent(QContextMenuEvent* event) override;
    // Taking the focus gives no row the focus: the next row after none is the first.
    void focusInEvent(QFocusEvent* event) override;

private:
    void ReportStateChanges();
    void ForgetStates();

    int controlId_;
    bool silent_ = false;
    int reportedFocus_ = -1;
    int reportedSelection_ = -1;
};
