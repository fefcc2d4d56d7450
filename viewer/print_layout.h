#pragma once

#include "browser/display_mode.h"

#include <QImage>
#include <QLine>
#include <QPoint>
#include <QRect>
#include <QString>

class QPainter;

// The one printed page of the current image, in printer device units (pixels of the
// printer): a line along the top edge, a header rule and a footer rule 120 units from the
// edges, the file name above the header rule, the footer text below the footer rule, and
// the picture placed between them as the display mode asks.
struct PrintLayout {
    QLine topLine;
    QLine headerRule;
    QLine footerRule;
    // Top-left reference points of the two texts.
    QPoint headerText;
    QPoint footerText;
    // The margins' inside: 200 units in from the sides, 400 from the top and the bottom.
    QRect imageArea;
    // Where the picture is drawn; for a tiled page, copies at natural size fill imageArea
    // from its top-left corner instead.
    QRect target;
    bool tiled = false;
};

// The page rectangle is the printable area of the page; picture is the image's size.
PrintLayout ComputePrintLayout(const QRect& page, QSize picture, DisplayMode mode);

// "File Name : " and the file's path.
QString PrintHeaderText(const QString& file);
// The footer line, ending with the maker's web address.
QString PrintFooterText(const QString& webAddress);

// Draws the page: rules, texts in a font sized to fit their bands, and the picture (drawn
// opaque and smoothly scaled). Nothing of the picture is drawn when it is null or the page
// leaves no room for it.
void DrawPrintedPage(QPainter& painter, const PrintLayout& layout, const QImage& picture, const QString& header,
                     const QString& footer);
