#pragma once

#include <QFrame>
#include <QPointer>
#include <QRect>

#include <vector>

class QTabBar;

// A tab strip that owns a set of page windows: each tab stands for one page, and only the
// page of the active tab shows, filling the page area above the tabs. A click on a tab
// activates its page and is reported (PageChanged). A sunken edge is drawn in a 5-pixel
// margin around the whole container.
class COX3DTabViewContainer : public QFrame {
    Q_OBJECT
public:
    static constexpr int kMargin = 5;

    explicit COX3DTabViewContainer(QWidget* parent = nullptr);
    // Removes every page, destroying its window.
    ~COX3DTabViewContainer() override;

    // Inserts page as tab index (0..count) with title; the container becomes its parent.
    // Fails for an index out of range or no window.
    bool InsertPage(int index, QWidget* page, const QString& title, bool activate = true);
    bool AppendPage(QWidget* page, const QString& title, bool activate = true);
    // Removes a page; the next page becomes active when it was the active one (the first
    // when it was the last, none when it was the only one). With destroy, its window goes.
    bool RemovePage(int index, bool destroy);
    bool RemovePage(QWidget* page, bool destroy);

    // Shows page index and hides the one shown before. The active page stays as it is when
    // index is already active; -1 (or any index out of range, which fails) shows none.
    bool ActivatePage(int index);
    int CurrentPageIndex() const { return active_; }
    QWidget* ActivePage() const;
    int PageCount() const { return static_cast<int>(pages_.size()); }
    QWidget* Page(int index) const;
    QTabBar* TabBar() const { return tabBar_; }
    // The area the active page fills, in the container's coordinates.
    QRect PageRect() const { return pageRect_; }

signals:
    // The user chose another tab; its page is already active.
    void PageChanged(int index);

protected:
    void resizeEvent(QResizeEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;

private:
    void LayOut();
    void OnTabChosen(int index);

    QTabBar* tabBar_;
    std::vector<QPointer<QWidget>> pages_;
    int active_ = -1;
    QRect pageRect_;
};
