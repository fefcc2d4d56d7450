#include "viewer/picture_status_panes.h"

#include "browser/file_list_bar.h"
#include "browser/image_file_list.h"
#include "browser/list_control.h"
#include "browser/viewer_model.h"
#include "viewer/test11_doc.h"
#include "viewer/test11_view.h"

#include <QFileInfo>
#include <QLabel>
#include <QLocale>
#include <QStatusBar>

#include <algorithm>
#include <cmath>

namespace {

QLabel* AddPane(QStatusBar& bar, int index, const char* name) {
    auto* pane = new QLabel(&bar);
    pane->setObjectName(QString::fromLatin1(name));
    pane->setAlignment(Qt::AlignCenter);
    pane->setFrameShape(QFrame::Panel);
    pane->setFrameShadow(QFrame::Sunken);
    bar.insertPermanentWidget(index, pane);
    return pane;
}

QString Percent(double scale) { return QString::number(std::lround(scale * 100.0)); }

}  // namespace

CPictureStatusPanes::CPictureStatusPanes(QStatusBar& bar, CTest11View& view, CFileListBar& files)
    : QObject(&bar),
      view_(view),
      files_(files),
      // Placed after the prompt pane, ahead of the lock indicators added before them.
      size_(AddPane(bar, 1, "PictureSizePane")),
      scale_(AddPane(bar, 2, "PictureScalePane")),
      position_(AddPane(bar, 3, "PicturePositionPane")),
      fileSize_(AddPane(bar, 4, "FileSizePane")) {
    connect(&view_, &CTest11View::LayoutChanged, this, &CPictureStatusPanes::Update);
    connect(&files_, &CFileListBar::ItemChanged, this, &CPictureStatusPanes::Update);
    Update();
}

void CPictureStatusPanes::Update() {
    CTest11Doc& document = view_.GetDocument();
    const bool shown = document.Model().g_bImageLoaded && !document.Bitmap().isNull();
    const QSize picture = shown ? document.Bitmap().size() : QSize();
    size_->setText(shown ? QStringLiteral("%1 x %2").arg(picture.width()).arg(picture.height()) : QString());

    const DisplayMode mode = document.Model().StretchState;
    const QSizeF scale = view_.DisplayScale();
    QString scaleText;
    if (shown && !scale.isEmpty()) {
        const QString across = Percent(scale.width());
        const QString down = Percent(scale.height());
        // Whole pixels make the two sides of a zoom or a proportional stretch differ by a
        // hair: those show the zoom itself, or the scale of the side that touches the window.
        if (mode.IsZoom())
            scaleText = QString::number(mode.ZoomPercent()) + QStringLiteral(" %");
        else if (mode == DisplayMode::StretchToFill() && across != down)
            scaleText = QStringLiteral("%1 x %2 %").arg(across, down);
        else
            scaleText = Percent(std::max(scale.width(), scale.height())) + QStringLiteral(" %");
    }
    scale_->setText(scaleText);

    const int row = files_.SelectedIndex();
    const int count = files_.NamesList()->count();
    position_->setText(row >= 0 && row < count ? QStringLiteral("%1 of %2").arg(row + 1).arg(count) : QString());

    const QFileInfo file(document.PathName());
    fileSize_->setText(shown && file.isFile()
                           ? QLocale().formattedDataSize(file.size(), 1, QLocale::DataSizeTraditionalFormat)
                           : QString());
    for (QLabel* pane : {size_, scale_, position_, fileSize_}) pane->setVisible(!pane->text().isEmpty());
}
