// Draws the program's artwork at build time: the splash picture and the application icon.
//
//   vt_draw_artwork OUTPUT_DIR
//
// writes splash.png and vtview-SIZE.png for SIZE 48, 128 and 256.

#include <QDir>
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>

#include <cstdio>

namespace {

// A framed landscape photo, the viewer's emblem, in a square of side size at origin.
void DrawEmblem(QPainter& painter, QPointF origin, qreal size) {
    painter.save();
    painter.translate(origin);
    painter.scale(size / 256.0, size / 256.0);
    painter.setRenderHint(QPainter::Antialiasing);

    // Card with a soft shadow.
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0, 0, 0, 60));
    painter.drawRoundedRect(QRectF(22, 30, 220, 212), 28, 28);
    painter.setBrush(QColor(250, 250, 247));
    painter.drawRoundedRect(QRectF(16, 20, 220, 212), 28, 28);

    // The picture inside the card.
    const QRectF photo(36, 40, 180, 140);
    QPainterPath clip;
    clip.addRoundedRect(photo, 12, 12);
    painter.setClipPath(clip);
    QLinearGradient sky(photo.topLeft(), photo.bottomLeft());
    sky.setColorAt(0.0, QColor(46, 110, 196));
    sky.setColorAt(1.0, QColor(150, 200, 240));
    painter.fillRect(photo, sky);

    QRadialGradient sun(QPointF(168, 78), 24);
    sun.setColorAt(0.0, QColor(255, 236, 150));
    sun.setColorAt(1.0, QColor(250, 190, 40));
    painter.setBrush(sun);
    painter.drawEllipse(QPointF(168, 78), 20, 20);

    QPainterPath far;
    far.moveTo(36, 180);
    far.lineTo(36, 140);
    far.lineTo(92, 96);
    far.lineTo(136, 132);
    far.lineTo(162, 114);
    far.lineTo(216, 150);
    far.lineTo(216, 180);
    far.closeSubpath();
    painter.setBrush(QColor(58, 120, 84));
    painter.drawPath(far);

    QPainterPath near;
    near.moveTo(36, 180);
    near.lineTo(36, 160);
    near.cubicTo(90, 136, 150, 176, 216, 150);
    near.lineTo(216, 180);
    near.closeSubpath();
    painter.setBrush(QColor(92, 168, 84));
    painter.drawPath(near);
    painter.setClipping(false);

    // The caption strip of the card.
    painter.setBrush(QColor(206, 212, 220));
    painter.drawRoundedRect(QRectF(60, 196, 132, 12), 6, 6);
    painter.restore();
}

QImage DrawIcon(int size) {
    QImage icon(size, size, QImage::Format_ARGB32_Premultiplied);
    icon.fill(Qt::transparent);
    QPainter painter(&icon);
    DrawEmblem(painter, QPointF(0, 0), size);
    return icon;
}

QImage DrawSplash() {
    const QSize size(520, 320);
    QImage splash(size, QImage::Format_RGB32);
    QPainter painter(&splash);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);

    QLinearGradient background(0, 0, size.width(), size.height());
    background.setColorAt(0.0, QColor(22, 38, 74));
    background.setColorAt(1.0, QColor(40, 84, 140));
    painter.fillRect(splash.rect(), background);

    // Faint rings behind the emblem.
    painter.setPen(QPen(QColor(255, 255, 255, 28), 2));
    painter.setBrush(Qt::NoBrush);
    for (int r = 60; r <= 260; r += 40) painter.drawEllipse(QPointF(120, 170), r, r);

    DrawEmblem(painter, QPointF(36, 78), 180);

    painter.setPen(QColor(255, 255, 255));
    QFont title(QStringLiteral("DejaVu Sans"));
    title.setPixelSize(34);
    title.setBold(true);
    painter.setFont(title);
    painter.drawText(QRectF(236, 96, 270, 84), Qt::AlignLeft | Qt::AlignBottom | Qt::TextWordWrap,
                     QStringLiteral("Vantoro Image Viewer"));

    QFont line(QStringLiteral("DejaVu Sans"));
    line.setPixelSize(16);
    painter.setFont(line);
    painter.setPen(QColor(200, 218, 240));
    painter.drawText(QPointF(238, 208), QStringLiteral("Version 5.0.0"));
    painter.drawText(QPointF(238, 232), QStringLiteral("Vantoro Software"));

    painter.setPen(QPen(QColor(250, 190, 40), 3));
    painter.drawLine(QPointF(238, 186), QPointF(470, 186));
    return splash;
}

bool Save(const QImage& image, const QString& path) {
    if (image.save(path, "PNG")) return true;
    std::fprintf(stderr, "vt_draw_artwork: cannot write %s\n", qPrintable(path));
    return false;
}

}  // namespace

int main(int argc, char* argv[]) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: vt_draw_artwork OUTPUT_DIR\n");
        return 2;
    }
    // Text needs the font database, which needs a GUI application; no screen is used.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication application(argc, argv);
    const QDir out(QString::fromLocal8Bit(argv[1]));
    bool ok = Save(DrawSplash(), out.filePath(QStringLiteral("splash.png")));
    for (int size : {48, 128, 256}) ok = Save(DrawIcon(size), out.filePath(QStringLiteral("vtview-%1.png").arg(size))) && ok;
    return ok ? 0 : 1;
}
