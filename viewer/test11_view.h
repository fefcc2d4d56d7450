#pragma once

#include "viewer/display_layout.h"
#include "viewer/print_support.h"
#include "viewer/scaled_picture_cache.h"

#include <QAbstractScrollArea>
#include <QColor>
#include <QSizeF>

class CCommandTable;
class CTest11Doc;
struct CViewerModel;
class QMenu;
class QPainter;

// The image view: paints the document's picture in the display mode StretchState selects
// (natural size, stretch to fill, proportional stretch, tile, zoom), white while no image
// is loaded, and scrolls when the picture is larger than the window. It runs the four mode
// commands, zoom in and out, turning the picture, the transparency choice, the image
// context menu and the print commands (it draws the printed page).
//
// Keys and mouse on the picture: Right, Down, Space and Page Down show the next picture;
// Left, Up, Backspace and Page Up the previous one; Home and End the first and last; `+`
// and `-` (and Ctrl with the wheel) zoom keeping the point under the cursor in place; `1`
// shows the original size and `F` runs the proportional stretch. The wheel scrolls a
// picture larger than the window and steps through the pictures otherwise; dragging pans;
// a double-click asks for full screen.
class CTest11View : public QAbstractScrollArea {
    Q_OBJECT
public:
    // How the transparent parts of a picture show (setting "Settings/Transparency").
    enum class Transparency { Checkerboard = 0, Background = 1 };
    // One wheel notch; finer wheels and touchpads send parts of it.
    static constexpr int kWheelStep = 120;

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
    QPoint ScrollPosition() const;

    // The picture's scale as shown, across and down (1 at natural size, 1 for tiles);
    // empty while no picture shows.
    QSizeF DisplayScale() const;
    // One zoom step by factor, the picture point under anchor (viewport coordinates)
    // staying under it as far as scrolling allows. Does nothing where the zoom command
    // would be disabled.
    void ZoomAt(float factor, QPoint anchor);

    Transparency GetTransparency() const { return transparency_; }
    // Shows transparency so from now on and keeps the choice in the settings.
    void SetTransparency(Transparency transparency);

signals:
    // The picture was laid out anew: another picture, mode, zoom or window size.
    void LayoutChanged();

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
    CViewerModel& Model() const;
    void RegisterCommands(CCommandTable& commands);
    void BuildContextMenu(CCommandTable& commands);
    void SetMode(DisplayMode mode);
    // The point zoom keys keep in place: the cursor's when it is over the picture, else
    // the middle of the window.
    QPoint ZoomAnchor() const;
    bool IsScrollable() const;
    // The background of transparent parts: invalid for the checkerboard.
    QColor TransparencyBackground() const;
    void UpdateLayout();
    void SetScrollSizes(QSize size);
    void DrawPicture(QPainter& painter, const QImage& source, const QRect& clip);

    CTest11Doc& document_;
    CCommandTable& commands_;
    DisplayLayout layout_;
    QSize scrollSize_;
    CScaledPictureCache cache_;
    QMenu* contextMenu_ = nullptr;
    CPrintSupport printing_;
    // The page rectangle of the page printed last.
    QRect pageRect_;
    Transparency transparency_ = Transparency::Checkerboard;
    // Wheel angles not yet worth a whole step, for zooming and for stepping pictures.
    int zoomWheel_ = 0;
    int stepWheel_ = 0;
    // A drag that pans: where it started and the scroll position then.
    bool dragging_ = false;
    QPoint dragStart_;
    QPoint dragScroll_;
};
