#include "viewer/test11_view.h"

#include "browser/viewer_model.h"
#include "platform/profile.h"
#include "viewer/app_info.h"
#include "viewer/command_ids.h"
#include "viewer/command_table.h"
#include "viewer/print_layout.h"
#include "viewer/test11_doc.h"

#include <QAction>
#include <QContextMenuEvent>
#include <QCursor>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QRegion>
#include <QScrollBar>
#include <QWheelEvent>

#include <cmath>

namespace {

// One item of the image context menu: an id and its text there.
struct ContextItem {
    int id;
    const char* text;
};

const char* const kSettings = "Settings";
const char* const kTransparency = "Transparency";

// Whole wheel steps in accumulated, which keeps the remainder. A turn the other way drops
// what was left of the last one.
int TakeWheelSteps(int& accumulated, int delta) {
    if ((accumulated > 0 && delta < 0) || (accumulated < 0 && delta > 0)) accumulated = 0;
    accumulated += delta;
    const int steps = accumulated / CTest11View::kWheelStep;
    accumulated -= steps * CTest11View::kWheelStep;
    return steps;
}

}  // namespace

CTest11View::CTest11View(CTest11Doc& document, CCommandTable& commands, QWidget* parent)
    : QAbstractScrollArea(parent),
      document_(document),
      commands_(commands),
      printing_([this](QPainter& painter, const QRect& page) { OnPrint(painter, page); }, this) {
    setObjectName(QStringLiteral("ImageView"));
    setFrameShape(QFrame::NoFrame);
    // Every paint covers the whole viewport itself.
    viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
    viewport()->setAutoFillBackground(false);
    setFocusPolicy(Qt::StrongFocus);
    transparency_ = Profile::GetInt(QString::fromLatin1(kSettings), QString::fromLatin1(kTransparency), 0) == 1
                        ? Transparency::Background
                        : Transparency::Checkerboard;
    RegisterCommands(commands);
    BuildContextMenu(commands);
    connect(&document_, &CTest11Doc::Updated, this, &CTest11View::OnUpdate);
    SetScrollSizes(QSize(0, 0));
}

void CTest11View::RegisterCommands(CCommandTable& commands) {
    const auto modeCommand = [this, &commands](int id, DisplayMode mode) {
        commands.SetHandler(id, [this, mode] { SetMode(Model().StretchState == mode ? DisplayMode::Natural() : mode); });
        commands.SetUpdateRule(id, [this, mode](CCmdUI& ui) { ui.SetCheck(Model().StretchState == mode); });
    };
    modeCommand(ID_STRETCH_TO_FILL, DisplayMode::StretchToFill());
    modeCommand(ID_PROPORTIONAL_STRETCH, DisplayMode::Proportional());
    modeCommand(ID_TILE, DisplayMode::Tile());
    commands.SetHandler(ID_ORIGINAL_SIZE, [this] { SetMode(DisplayMode::Natural()); });
    commands.SetUpdateRule(ID_ORIGINAL_SIZE,
                           [this](CCmdUI& ui) { ui.SetCheck(Model().StretchState == DisplayMode::Natural()); });

    // The menu and toolbar zoom about the middle of the window.
    commands.SetHandler(ID_ZOOM_IN, [this] { ZoomAt(kZoomInFactor, viewport()->rect().center()); });
    commands.SetUpdateRule(ID_ZOOM_IN, [this](CCmdUI& ui) { ui.Enable(Model().g_bImageLoaded && CanZoomIn(Model().StretchState)); });
    commands.SetHandler(ID_ZOOM_OUT, [this] { ZoomAt(kZoomOutFactor, viewport()->rect().center()); });
    commands.SetUpdateRule(ID_ZOOM_OUT, [this](CCmdUI& ui) { ui.Enable(Model().g_bImageLoaded && CanZoomOut(Model().StretchState)); });

    const auto turnCommand = [this, &commands](int id, PictureTurn turn) {
        commands.SetHandler(id, [this, turn] { document_.TurnPicture(turn); });
        commands.SetUpdateRule(id, [this](CCmdUI& ui) { ui.Enable(document_.CanTurnPicture()); });
    };
    turnCommand(ID_ROTATE_LEFT, PictureTurn::RotateLeft);
    turnCommand(ID_ROTATE_RIGHT, PictureTurn::RotateRight);
    turnCommand(ID_FLIP_HORIZONTALLY, PictureTurn::FlipHorizontally);
    turnCommand(ID_FLIP_VERTICALLY, PictureTurn::FlipVertically);

    const auto transparencyCommand = [this, &commands](int id, Transparency choice) {
        commands.SetHandler(id, [this, choice] { SetTransparency(choice); });
        commands.SetUpdateRule(id, [this, choice](CCmdUI& ui) { ui.SetCheck(transparency_ == choice); });
    };
    transparencyCommand(ID_TRANSPARENCY_CHECKERBOARD, Transparency::Checkerboard);
    transparencyCommand(ID_TRANSPARENCY_BACKGROUND, Transparency::Background);

    printing_.RegisterCommands(commands);
}

void CTest11View::BuildContextMenu(CCommandTable& commands) {
    contextMenu_ = new QMenu(this);
    contextMenu_->setObjectName(QStringLiteral("ContextMenu%1").arg(IDR_IMAGE_CONTEXT_MENU));
    commands.WatchMenu(contextMenu_);
    const auto add = [&commands](QMenu* menu, std::initializer_list<ContextItem> items) {
        for (const ContextItem& item : items) {
            if (item.id == 0) {
                menu->addSeparator();
                continue;
            }
            QAction* action = menu->addAction(QString::fromLatin1(item.text));
            commands.AddAction(item.id, action);
        }
    };
    const auto sub = [this, &commands](const char* title) {
        QMenu* menu = contextMenu_->addMenu(QString::fromLatin1(title));
        commands.WatchMenu(menu);
        return menu;
    };

    add(contextMenu_, {{ID_FILE_PRINT, "Print ..."},
                       {ID_FILE_PRINT_PREVIEW, "Print Preview"},
                       {ID_FILE_SEND_MAIL, "E-mail Image ..."},
                       {0, nullptr},
                       {ID_DELETE_FILE, "Delete ..."},
                       {ID_EDIT_COPY, "Copy to Clipboard"}});
    add(sub("Set Wall Paper"), {{ID_WALLPAPER_PROPORTIONAL, "Proportional Stretched"},
                                {ID_WALLPAPER_CENTERED, "Centered"},
                                {ID_WALLPAPER_STRETCHED, "Stretched"},
                                {ID_WALLPAPER_TILED, "Tiled"}});
    add(sub("Stretch"), {{ID_TILE, "Tile in View Area"},
                         {ID_STRETCH_TO_FILL, "Stretch to Fill View Area"},
                         {ID_PROPORTIONAL_STRETCH, "Maximize and keep proportional"},
                         {ID_ORIGINAL_SIZE, "Original Size"}});
    add(contextMenu_, {{0, nullptr}, {ID_SLIDE_SHOW, "Slide Show"}, {ID_SLIDE_SHOW_FULL_SCREEN, "Slide Show Full Screen"}});
    add(sub("Slide Show Delay"), {{ID_DELAY_1, "1 Second"},
                                  {ID_DELAY_2, "2 Seconds"},
                                  {ID_DELAY_5, "5 Seconds"},
                                  {ID_DELAY_10, "10 Seconds"},
                                  {ID_DELAY_15, "15 Seconds"},
                                  {ID_DELAY_20, "20 Seconds"},
                                  {ID_DELAY_30, "30 Seconds"}});
    contextMenu_->addSeparator();
    add(sub("Tool Bars"), {{ID_DIRECTORY_TREE_BAR, "Directory Tree Bar"},
                           {ID_FILE_LIST_BAR, "File List Bar"},
                           {ID_VIEW_TOOLBAR, "Tool Bar"},
                           {ID_VIEW_STATUS_BAR, "Status Bar"},
                           {0, nullptr},
                           {ID_DEFAULT_BARS, "Default Dir and File Bars"}});
    add(contextMenu_, {{ID_FILE_PROPERTIES, "Properties ..."}});
}

void CTest11View::SetMode(DisplayMode mode) {
    Model().StretchState = mode;
    UpdateLayout();
    viewport()->update();
}

QPoint CTest11View::ScrollPosition() const {
    return QPoint(horizontalScrollBar()->value(), verticalScrollBar()->value());
}

void CTest11View::ZoomAt(float factor, QPoint anchor) {
    const DisplayMode mode = Model().StretchState;
    if (!Model().g_bImageLoaded || !(factor > 1.0f ? CanZoomIn(mode) : CanZoomOut(mode))) return;
    // Where the anchor lies on the picture, as a fraction of its width and height.
    const QRect before = layout_.target;
    const QPointF onPicture = QPointF(anchor + ScrollPosition() - before.topLeft());
    const double fx = before.width() > 0 ? onPicture.x() / before.width() : 0.5;
    const double fy = before.height() > 0 ? onPicture.y() / before.height() : 0.5;
    Model().StretchState = ZoomStep(mode, factor);
    document_.UpdateAllViews();
    const QRect after = layout_.target;
    horizontalScrollBar()->setValue(static_cast<int>(std::lround(after.left() + fx * after.width() - anchor.x())));
    verticalScrollBar()->setValue(static_cast<int>(std::lround(after.top() + fy * after.height() - anchor.y())));
}

QSizeF CTest11View::DisplayScale() const {
    const QImage& picture = document_.Bitmap();
    if (!Model().g_bImageLoaded || picture.isNull() || picture.width() == 0 || picture.height() == 0) return {};
    if (layout_.tiled) return QSizeF(1.0, 1.0);
    return QSizeF(static_cast<double>(layout_.target.width()) / picture.width(),
                  static_cast<double>(layout_.target.height()) / picture.height());
}

void CTest11View::SetTransparency(Transparency transparency) {
    transparency_ = transparency;
    Profile::WriteInt(QString::fromLatin1(kSettings), QString::fromLatin1(kTransparency), static_cast<int>(transparency));
    viewport()->update();
}

QColor CTest11View::TransparencyBackground() const {
    // The white the view shows where no picture is.
    return transparency_ == Transparency::Background ? QColor(Qt::white) : QColor();
}

QPoint CTest11View::ZoomAnchor() const {
    const QPoint cursor = viewport()->mapFromGlobal(QCursor::pos());
    return viewport()->rect().contains(cursor) ? cursor : viewport()->rect().center();
}

bool CTest11View::IsScrollable() const {
    return horizontalScrollBar()->maximum() > 0 || verticalScrollBar()->maximum() > 0;
}

void CTest11View::keyPressEvent(QKeyEvent* event) {
    // Shortcuts with these belong to the frame.
    if (event->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier)) {
        QAbstractScrollArea::keyPressEvent(event);
        return;
    }
    switch (event->key()) {
    case Qt::Key_Right:
    case Qt::Key_Down:
    case Qt::Key_Space:
    case Qt::Key_PageDown:
        commands_.Execute(ID_NEXT_IMAGE);
        break;
    case Qt::Key_Left:
    case Qt::Key_Up:
    case Qt::Key_Backspace:
    case Qt::Key_PageUp:
        commands_.Execute(ID_PREVIOUS_IMAGE);
        break;
    case Qt::Key_Home:
        commands_.Execute(ID_FIRST_IMAGE);
        break;
    case Qt::Key_End:
        commands_.Execute(ID_LAST_IMAGE);
        break;
    case Qt::Key_Plus:
    case Qt::Key_Equal:
        ZoomAt(kZoomInFactor, ZoomAnchor());
        break;
    case Qt::Key_Minus:
        ZoomAt(kZoomOutFactor, ZoomAnchor());
        break;
    case Qt::Key_1:
        commands_.Execute(ID_ORIGINAL_SIZE);
        break;
    case Qt::Key_F:
        commands_.Execute(ID_PROPORTIONAL_STRETCH);
        break;
    default:
        QAbstractScrollArea::keyPressEvent(event);
        return;
    }
    event->accept();
}

void CTest11View::wheelEvent(QWheelEvent* event) {
    const QPoint delta = event->angleDelta();
    const int along = delta.y() != 0 ? delta.y() : delta.x();
    if (event->modifiers() & Qt::ControlModifier) {
        const QPoint anchor = event->position().toPoint();
        for (int steps = TakeWheelSteps(zoomWheel_, delta.y()); steps != 0; steps += steps > 0 ? -1 : 1)
            ZoomAt(steps > 0 ? kZoomInFactor : kZoomOutFactor, anchor);
        event->accept();
        return;
    }
    if (IsScrollable()) {
        QAbstractScrollArea::wheelEvent(event);
        return;
    }
    // Turning the wheel down, towards the user, goes on to the next picture.
    for (int steps = TakeWheelSteps(stepWheel_, along); steps != 0; steps += steps > 0 ? -1 : 1)
        commands_.Execute(steps > 0 ? ID_PREVIOUS_IMAGE : ID_NEXT_IMAGE);
    event->accept();
}

void CTest11View::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && IsScrollable()) {
        dragging_ = true;
        dragStart_ = event->position().toPoint();
        dragScroll_ = ScrollPosition();
        viewport()->setCursor(Qt::ClosedHandCursor);
        event->accept();
        return;
    }
    QAbstractScrollArea::mousePressEvent(event);
}

void CTest11View::mouseMoveEvent(QMouseEvent* event) {
    if (!dragging_) {
        QAbstractScrollArea::mouseMoveEvent(event);
        return;
    }
    // The picture follows the pointer.
    const QPoint scroll = dragScroll_ - (event->position().toPoint() - dragStart_);
    horizontalScrollBar()->setValue(scroll.x());
    verticalScrollBar()->setValue(scroll.y());
    event->accept();
}

void CTest11View::mouseReleaseEvent(QMouseEvent* event) {
    if (dragging_ && event->button() == Qt::LeftButton) {
        dragging_ = false;
        viewport()->unsetCursor();
        event->accept();
        return;
    }
    QAbstractScrollArea::mouseReleaseEvent(event);
}

void CTest11View::mouseDoubleClickEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        QAbstractScrollArea::mouseDoubleClickEvent(event);
        return;
    }
    commands_.Execute(ID_FULL_SCREEN);
    event->accept();
}

void CTest11View::OnUpdate() {
    UpdateLayout();
    viewport()->update();
}

void CTest11View::UpdateLayout() {
    const QImage& picture = document_.Bitmap();
    if (!Model().g_bImageLoaded) {
        layout_ = DisplayLayout{};
        SetScrollSizes(QSize(1, 1));
        emit LayoutChanged();
        return;
    }
    if (picture.isNull()) return;
    layout_ = ComputeDisplayLayout(picture.size(), viewport()->size(), Model().StretchState);
    document_.Loader().SetFitSize(viewport()->size(), Model().StretchState);
    SetScrollSizes(layout_.scrollSize);
    emit LayoutChanged();
}

void CTest11View::SetScrollSizes(QSize size) {
    scrollSize_ = size;
    const QSize page = viewport()->size();
    horizontalScrollBar()->setRange(0, std::max(0, size.width() - page.width()));
    horizontalScrollBar()->setPageStep(page.width());
    horizontalScrollBar()->setSingleStep(std::max(1, page.width() / 100));
    verticalScrollBar()->setRange(0, std::max(0, size.height() - page.height()));
    verticalScrollBar()->setPageStep(page.height());
    verticalScrollBar()->setSingleStep(std::max(1, page.height() / 100));
}

void CTest11View::resizeEvent(QResizeEvent* event) {
    QAbstractScrollArea::resizeEvent(event);
    UpdateLayout();
}

void CTest11View::scrollContentsBy(int, int) { viewport()->update(); }

void CTest11View::paintEvent(QPaintEvent* event) {
    QPainter painter(viewport());
    OnDraw(painter, event->rect());
}

void CTest11View::OnDraw(QPainter& painter, const QRect& clip) {
    const QImage& picture = document_.Bitmap();
    if (!Model().g_bImageLoaded) {
        painter.fillRect(clip, Qt::white);
        return;
    }
    const QPoint scroll(horizontalScrollBar()->value(), verticalScrollBar()->value());
    // The background is painted only where the picture does not cover it, so a repaint
    // touches each pixel once.
    QRegion background(clip);
    if (!picture.isNull()) background -= layout_.tiled ? viewport()->rect() : layout_.target.translated(-scroll);
    for (const QRect& rect : background) painter.fillRect(rect, palette().color(QPalette::Base));
    if (picture.isNull()) return;
    painter.save();
    painter.translate(-scroll);
    DrawPicture(painter, picture, clip.translated(scroll));
    painter.restore();
}

void CTest11View::DrawPicture(QPainter& painter, const QImage& source, const QRect& clip) {
    // The picture is drawn opaque whatever its alpha bytes hold, as a block copy would.
    const QColor background = TransparencyBackground();
    const QImage& picture = cache_.Opaque(source, document_.HasAlpha(), background);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    const QRect& target = layout_.target;
    if (layout_.tiled) {
        const QSize client = viewport()->size();
        for (int y = 0; y < client.height(); y += target.height())
            for (int x = 0; x < client.width(); x += target.width()) {
                const QRect tile(QPoint(x, y), target.size());
                if (tile.intersects(clip)) painter.drawImage(tile.topLeft(), picture);
            }
        return;
    }
    if (target.isEmpty() || !target.intersects(clip)) return;
    if (target.size() == picture.size()) {
        const QRect visible = target.intersected(clip);
        painter.drawImage(visible.topLeft(), picture, visible.translated(-target.topLeft()));
        return;
    }
    // A copy made while the picture was decoded saves the scaling here.
    const QImage& prepared = document_.ScaledBitmap();
    const QImage& scaled =
        prepared.size() == target.size() ? prepared : cache_.Scaled(source, document_.HasAlpha(), target.size(), background);
    if (!scaled.isNull()) {
        const QRect visible = target.intersected(clip);
        painter.drawImage(visible.topLeft(), scaled, visible.translated(-target.topLeft()));
        return;
    }
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.setClipRect(clip);
    painter.drawImage(QRectF(target), picture, QRectF(picture.rect()));
}

void CTest11View::OnPrint(QPainter& painter, const QRect& page) {
    pageRect_ = page;
    // On paper, transparency is the paper's white.
    QImage picture;
    if (Model().g_bImageLoaded)
        picture = document_.HasAlpha() ? FlattenedPicture(document_.Bitmap(), Qt::white)
                                       : cache_.Opaque(document_.Bitmap(), false);
    const QString webAddress = Profile::GetString(QStringLiteral("Settings"), QStringLiteral("MakerWebAddress"),
                                                  QString::fromLatin1(AppInfo::kMakerWebAddress));
    DrawPrintedPage(painter, ComputePrintLayout(pageRect_, picture.size(), Model().StretchState), picture,
                    PrintHeaderText(Model().g_strCurrentFile), PrintFooterText(webAddress));
}

void CTest11View::contextMenuEvent(QContextMenuEvent* event) { contextMenu_->popup(event->globalPos()); }

CViewerModel& CTest11View::Model() const { return document_.Model(); }
