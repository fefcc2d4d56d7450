#pragma once

#include "viewer/display_layout.h"
#include "viewer/print_support.h"
#include "viewer/scaled_picture_cache.h"

#include <QAbstractScrollArea>

class CCommandTable;
class CTest11Doc;
struct CViewerModel;
class QMenu;
class QPainter;

// The image view: paints the document's picture in the display mode StretchState selects
// (natural size, stretch to fill, proportional stretch, tile, zoom), white while no image
// is loaded, and scrolls when the picture is larger than the window. It runs the four mode
// commands, zoom in and out, the image context menu and the print commands (it draws the
// printed page).
class CTest11View : public QAbstractScrollArea {
    Q_OBJECT
public:
    CTest11View(CTest11Doc& document, CCommandTable& commands, QWidget* parent = nullptr);

    CTest11Doc& GetDocument() const { return document_; }

    // The document changed: lay the picture out again and repaint.
    void OnUpdate();
    // Paints the view's content as the screen shows it, clipped to clip (viewport
    // coordinates). Printing and tests draw through this too.
    void OnDraw(QPainter& painter, const QRect& clip);
    // Draws the printed page of the current image; page is the printable rectangle in
    // printer device units.
    void OnPrint(QPainter& painter, const QRect& page);
    CPrintSupport& Printing() { return printing_; }

    // The layout in force and the extent of the scrollable content.
    const DisplayLayout& Layout() const { return layout_; }
    QSize ScrollSizes() const { return scrollSize_; }
    QMenu* ContextMenu() const { return contextMenu_; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    CViewerModel& Model() const;
    void RegisterCommands(CCommandTable& commands);
    void BuildContextMenu(CCommandTable& commands);
    void SetMode(int mode);
    void ZoomBy(float factor);
    void UpdateLayout();
    void SetScrollSizes(QSize size);
    void DrawPicture(QPainter& painter, const QImage& source, const QRect& clip);

    CTest11Doc& document_;
    DisplayLayout layout_;
    QSize scrollSize_;
    CScaledPictureCache cache_;
    QMenu* contextMenu_ = nullptr;
    CPrintSupport printing_;
    // The page rectangle of the page printed last.
    QRect pageRect_;
};
