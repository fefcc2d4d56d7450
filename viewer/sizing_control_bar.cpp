#include "viewer/sizing_control_bar.h"

#include "platform/profile.h"

#include <QGuiApplication>
#include <QMainWindow>
#include <QResizeEvent>
#include <QTimer>

#include <algorithm>
#include <array>

namespace {

std::vector<CSizingControlBar*>& BarList() {
    static std::vector<CSizingControlBar*> bars;
    return bars;
}

QString Section(const QString& profileName, int id) { return QStringLiteral("%1-SCBar-%2").arg(profileName).arg(id); }

bool IsVerticalArea(Qt::DockWidgetArea area) {
    return area == Qt::LeftDockWidgetArea || area == Qt::RightDockWidgetArea;
}

}  // namespace

CSizingControlBar::CSizingControlBar(QWidget* parent) : QDockWidget(parent) {
    BarList().push_back(this);
    connect(this, &QDockWidget::topLevelChanged, this, &CSizingControlBar::OnTopLevelChanged);
}

CSizingControlBar::~CSizingControlBar() { std::erase(BarList(), this); }

bool CSizingControlBar::Create(const QString& title, QMainWindow* frame, QSize defaultSize, bool hasGripper, int id) {
    if (!frame || id <= 0) return false;
    id_ = id;
    horzSize_ = vertSize_ = floatSize_ = defaultSize;
    setParent(frame);
    hide();
    setWindowTitle(title);
    setObjectName(QStringLiteral("SCBar-%1").arg(id));
    setFeatures(QDockWidget::DockWidgetClosable | QDockWidget::DockWidgetMovable | QDockWidget::DockWidgetFloatable);
    if (!hasGripper) setTitleBarWidget(new QWidget(this));
    setMinimumSize(minSize_);
    return true;
}

void CSizingControlBar::SetMinSize(QSize size) {
    minSize_ = size;
    setMinimumSize(size);
}

QMainWindow* CSizingControlBar::Frame() const { return qobject_cast<QMainWindow*>(parentWidget()); }

Qt::DockWidgetArea CSizingControlBar::Area() const {
    QMainWindow* frame = Frame();
    if (!frame || isFloating()) return Qt::NoDockWidgetArea;
    return frame->dockWidgetArea(const_cast<CSizingControlBar*>(this));
}

bool CSizingControlBar::IsHorzDocked() const {
    const Qt::DockWidgetArea area = Area();
    return area == Qt::TopDockWidgetArea || area == Qt::BottomDockWidgetArea;
}

bool CSizingControlBar::IsVertDocked() const { return IsVerticalArea(Area()); }

void CSizingControlBar::LoadSizes(const QString& profileName) {
    const QString section = Section(profileName, id_);
    const auto load = [&](const char* cx, const char* cy, QSize& size) {
        size.setWidth(std::max(Profile::GetInt(section, QLatin1String(cx), size.width()), minSize_.width()));
        size.setHeight(std::max(Profile::GetInt(section, QLatin1String(cy), size.height()), minSize_.height()));
    };
    load("sizeHorzCX", "sizeHorzCY", horzSize_);
    load("sizeVertCX", "sizeVertCY", vertSize_);
    load("sizeFloatCX", "sizeFloatCY", floatSize_);
}

void CSizingControlBar::SaveSizes(const QString& profileName) const {
    const QString section = Section(profileName, id_);
    Profile::WriteInt(section, QStringLiteral("sizeHorzCX"), horzSize_.width());
    Profile::WriteInt(section, QStringLiteral("sizeHorzCY"), horzSize_.height());
    Profile::WriteInt(section, QStringLiteral("sizeVertCX"), vertSize_.width());
    Profile::WriteInt(section, QStringLiteral("sizeVertCY"), vertSize_.height());
    Profile::WriteInt(section, QStringLiteral("sizeFloatCX"), floatSize_.width());
    Profile::WriteInt(section, QStringLiteral("sizeFloatCY"), floatSize_.height());
}

void CSizingControlBar::LoadAllBarSizes(const QString& profileName) {
    for (CSizingControlBar* bar : BarList()) bar->LoadSizes(profileName);
}

void CSizingControlBar::SaveAllBarSizes(const QString& profileName) {
    for (const CSizingControlBar* bar : BarList()) bar->SaveSizes(profileName);
}

const std::vector<CSizingControlBar*>& CSizingControlBar::Bars() { return BarList(); }

void CSizingControlBar::LayOutDocks(QMainWindow* frame) {
    constexpr std::array areas = {Qt::LeftDockWidgetArea, Qt::RightDockWidgetArea, Qt::TopDockWidgetArea,
                                  Qt::BottomDockWidgetArea};
    for (const Qt::DockWidgetArea area : areas) {
        std::vector<CSizingControlBar*> row;
        for (CSizingControlBar* bar : BarList())
            if (bar->Frame() == frame && !bar->isHidden() && bar->Area() == area) row.push_back(bar);
        if (row.empty()) continue;

        const bool vertical = IsVerticalArea(area);
        const auto thicknessOf = [vertical](QSize size) { return vertical ? size.width() : size.height(); };
        int thickness = 0;
        for (const CSizingControlBar* bar : row)
            thickness = std::max({thickness, thicknessOf(vertical ? bar->vertSize_ : bar->horzSize_), thicknessOf(bar->minSize_)});

        QList<QDockWidget*> docks;
        QList<int> thicknesses;
        QList<int> lengths;
        for (CSizingControlBar* bar : row) {
            QSize& size = vertical ? bar->vertSize_ : bar->horzSize_;
            (vertical ? size.rwidth() : size.rheight()) = thickness;
            docks << bar;
            thicknesses << thickness;
            lengths << (vertical ? size.height() : size.width());
        }
        frame->resizeDocks(docks, thicknesses, vertical ? Qt::Horizontal : Qt::Vertical);
        frame->resizeDocks(docks, lengths, vertical ? Qt::Vertical : Qt::Horizontal);
    }
}

void CSizingControlBar::resizeEvent(QResizeEvent* event) {
    QDockWidget::resizeEvent(event);
    if (!trackSizes_ || !isVisible()) return;
    if (isFloating())
        floatSize_ = event->size();
    else if (IsVertDocked())
        vertSize_ = event->size();
    else if (IsHorzDocked())
        horzSize_ = event->size();
}

void CSizingControlBar::OnTopLevelChanged(bool floating) {
    // A bar dragged off by the mouse keeps the size Qt gives it; one floated by a double
    // click takes its floating size.
    if (!floating || (QGuiApplication::mouseButtons() & Qt::LeftButton)) return;
    QTimer::singleShot(0, this, [this] {
        if (isFloating()) resize(floatSize_);
    });
}
