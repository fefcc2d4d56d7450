#include "browser/tab_view_container.h"

#include <QApplication>
#include <QPainter>
#include <QResizeEvent>
#include <QStyle>
#include <QTabBar>
#include <qdrawutil.h>

COX3DTabViewContainer::COX3DTabViewContainer(QWidget* parent) : QFrame(parent), tabBar_(new QTabBar(this)) {
    setObjectName(QStringLiteral("COX3DTabViewContainer"));
    setContentsMargins(kMargin, kMargin, kMargin, kMargin);
    setFocusPolicy(Qt::StrongFocus);
    tabBar_->setShape(QTabBar::RoundedSouth);
    tabBar_->setFocusPolicy(Qt::NoFocus);
    tabBar_->setExpanding(false);
    tabBar_->setDrawBase(false);
    connect(tabBar_, &QTabBar::currentChanged, this, &COX3DTabViewContainer::OnTabChosen);
}

COX3DTabViewContainer::~COX3DTabViewContainer() {
    ActivatePage(-1);
    for (int index = PageCount() - 1; index >= 0; --index) RemovePage(index, true);
}

bool COX3DTabViewContainer::InsertPage(int index, QWidget* page, const QString& title, bool activate) {
    if (index < 0 || index > PageCount() || !page) return false;
    {
        const QSignalBlocker quiet(tabBar_);
        if (tabBar_->insertTab(index, title) != index) return false;
        // Inserting before the active tab moves it; the tab bar must keep showing it.
        if (active_ >= index) ++active_;
        tabBar_->setCurrentIndex(active_);
    }
    pages_.insert(pages_.begin() + index, page);
    page->setParent(this);
    page->hide();
    if (activate) ActivatePage(index);
    return true;
}

bool COX3DTabViewContainer::AppendPage(QWidget* page, const QString& title, bool activate) {
    return InsertPage(PageCount(), page, title, activate);
}

QWidget* COX3DTabViewContainer::Page(int index) const {
    return index >= 0 && index < PageCount() ? pages_[static_cast<size_t>(index)].data() : nullptr;
}

QWidget* COX3DTabViewContainer::ActivePage() const { return Page(active_); }

bool COX3DTabViewContainer::ActivatePage(int index) {
    if (index == active_) return true;
    QWidget* old = ActivePage();
    const bool focusInside = QApplication::focusWidget() && isAncestorOf(QApplication::focusWidget());
    if (old) old->hide();
    active_ = index;
    {
        const QSignalBlocker quiet(tabBar_);
        tabBar_->setCurrentIndex(index);
    }
    if (index < 0 || index >= PageCount()) {
        setFocusProxy(nullptr);
        return false;
    }
    QWidget* page = ActivePage();
    if (!page) return true;
    LayOut();
    page->show();
    setFocusProxy(page);
    if (focusInside) page->setFocus();
    page->update();
    return true;
}

bool COX3DTabViewContainer::RemovePage(int index, bool destroy) {
    if (index < 0 || index >= PageCount()) return false;
    if (index == active_) {
        // The next page takes over; after the last page the first does; after the only
        // page none does.
        const int count = PageCount();
        ActivatePage(count == 1 ? -1 : (index + 1 < count ? index + 1 : 0));
    }
    QPointer<QWidget> page = pages_[static_cast<size_t>(index)];
    pages_.erase(pages_.begin() + index);
    {
        const QSignalBlocker quiet(tabBar_);
        tabBar_->removeTab(index);
        if (active_ > index) --active_;
        tabBar_->setCurrentIndex(active_);
    }
    if (page) {
        if (focusProxy() == page) setFocusProxy(nullptr);
        if (destroy)
            delete page.data();
        else
            page->hide();
    }
    return true;
}

bool COX3DTabViewContainer::RemovePage(QWidget* page, bool destroy) {
    for (int index = 0; index < PageCount(); ++index)
        if (pages_[static_cast<size_t>(index)] == page) return RemovePage(index, destroy);
    return false;
}

void COX3DTabViewContainer::OnTabChosen(int index) {
    ActivatePage(index);
    emit PageChanged(index);
}

void COX3DTabViewContainer::LayOut() {
    // The margin is the container's contents margin: a container no more than twice the
    // margin high (or wide) has an empty page area on that axis.
    const QRect inner = contentsRect();
    const int tabHeight = PageCount() > 0 ? tabBar_->sizeHint().height() : 0;
    if (inner.isEmpty()) {
        pageRect_ = QRect(inner.topLeft(), QSize(std::max(0, inner.width()), std::max(0, inner.height())));
        tabBar_->setGeometry(pageRect_);
    } else {
        const int tabs = std::min(tabHeight, inner.height());
        tabBar_->setGeometry(inner.left(), inner.bottom() + 1 - tabs, inner.width(), tabs);
        pageRect_ = QRect(inner.left(), inner.top(), inner.width(), inner.height() - tabs);
    }
    if (QWidget* page = ActivePage()) page->setGeometry(pageRect_);
}

void COX3DTabViewContainer::resizeEvent(QResizeEvent* event) {
    QFrame::resizeEvent(event);
    if (event->size().width() > 0 && event->size().height() > 0) LayOut();
}

void COX3DTabViewContainer::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    qDrawShadePanel(&painter, rect(), palette(), true, 1);
}

void COX3DTabViewContainer::focusInEvent(QFocusEvent* event) {
    if (QWidget* page = ActivePage())
        page->setFocus();
    else
        QFrame::focusInEvent(event);
}
