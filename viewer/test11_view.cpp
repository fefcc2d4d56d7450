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
#include <QMenu>
#include <QPaintEvent>
#include <QPainter>
#include <QRegion>
#include <QScrollBar>

namespace {

// One item of the image context menu: an id and its text there.
struct ContextItem {
    int id;
    const char* text;
};

}  // namespace

CTest11View::CTest11View(CTest11Doc& document, CCommandTable& commands, QWidget* parent)
    : QAbstractScrollArea(parent),
      document_(document),
      printing_([this](QPainter& painter, const QRect& page) { OnPrint(painter, page); }, this) {
    setObjectName(QStringLiteral("ImageView"));
    setFrameShape(QFrame::NoFrame);
    // Every paint covers the whole viewport itself.
    viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
    viewport()->setAutoFillBackground(false);
    RegisterCommands(commands);
    BuildContextMenu(commands);
    connect(&document_, &CTest11Doc::Updated, this, &CTest11View::OnUpdate);
    SetScrollSizes(QSize(0, 0));
}

void CTest11View::RegisterCommands(CCommandTable& commands) {
    const auto modeCommand = [this, &commands](int id, int mode) {
        commands.SetHandler(id, [this, mode] { SetMode(Model().StretchState == mode ? STRETCH_NATURAL : mode); });
        commands.SetUpdateRule(id, [this, mode](CCmdUI& ui) { ui.SetCheck(Model().StretchState == mode); });
    };
    modeCommand(ID_STRETCH_TO_FILL, STRETCH_FILL);
    modeCommand(ID_PROPORTIONAL_STRETCH, STRETCH_PROPORTIONAL);
    modeCommand(ID_TILE, STRETCH_TILE);
    commands.SetHandler(ID_ORIGINAL_SIZE, [this] { SetMode(STRETCH_NATURAL); });
    commands.SetUpdateRule(ID_ORIGINAL_SIZE, [this](CCmdUI& ui) { ui.SetCheck(Model().StretchState == STRETCH_NATURAL); });

    commands.SetHandler(ID_ZOOM_IN, [this] { ZoomBy(kZoomInFactor); });
    commands.SetUpdateRule(ID_ZOOM_IN, [this](CCmdUI& ui) { ui.Enable(Model().g_bImageLoaded && CanZoomIn(Model().StretchState)); });
    commands.SetHandler(ID_ZOOM_OUT, [this] { ZoomBy(kZoomOutFactor); });
    commands.SetUpdateRule(ID_ZOOM_OUT, [this](CCmdUI& ui) { ui.Enable(Model().g_bImageLoaded && CanZoomOut(Model().StretchState)); });

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

void CTest11View::SetMode(int mode) {
    Model().StretchState = mode;
    UpdateLayout();
    viewport()->update();
}

void CTest11View::ZoomBy(float factor) {
    Model().StretchState = ZoomStep(Model().StretchState, factor);
    document_.UpdateAllViews();
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
        return;
    }
    if (picture.isNull()) return;
    layout_ = ComputeDisplayLayout(picture.size(), viewport()->size(), Model().StretchState);
    document_.Loader().SetFitSize(viewport()->size(), Model().StretchState);
    SetScrollSizes(layout_.scrollSize);
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
    const QImage& picture = cache_.Opaque(source, document_.HasAlpha());
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
        prepared.size() == target.size() ? prepared : cache_.Scaled(source, document_.HasAlpha(), target.size());
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
