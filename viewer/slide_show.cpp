#include "viewer/slide_show.h"

#include "browser/viewer_model.h"
#include "platform/profile.h"
#include "viewer/command_ids.h"
#include "viewer/command_table.h"
#include "viewer/slide_show_host.h"

#include <QAbstractScrollArea>
#include <QApplication>
#include <QKeyEvent>
#include <QMouseEvent>

#include <array>
#include <utility>

namespace {

constexpr std::array<std::pair<int, int>, 7> kDelays = {{
    {ID_DELAY_1, 1},
    {ID_DELAY_2, 2},
    {ID_DELAY_5, 5},
    {ID_DELAY_10, 10},
    {ID_DELAY_15, 15},
    {ID_DELAY_20, 20},
    {ID_DELAY_30, 30},
}};

const char* const kInhibitReason = "Slide show";

}  // namespace

CSlideShow::CSlideShow(CSlideShowHost& host, QObject* parent)
    : QObject(parent), host_(host), screenSaver_(QString::fromLatin1(Profile::kApplication)) {
    connect(&timer_, &QTimer::timeout, this, &CSlideShow::Step);
}

CSlideShow::~CSlideShow() {
    // The cursor and the event filter are the whole application's.
    WatchPresses(false);
    if (Model().g_bSlideShowFullScreen) QApplication::restoreOverrideCursor();
    Model().g_bSlideShowInFrame = false;
    Model().g_bSlideShowFullScreen = false;
}

void CSlideShow::RegisterCommands(CCommandTable& commands) {
    commands.SetHandler(ID_SLIDE_SHOW, [this] { ToggleInFrame(); });
    commands.SetUpdateRule(ID_SLIDE_SHOW, [this](CCmdUI& ui) { ui.SetCheck(Model().g_bSlideShowInFrame); });
    commands.SetHandler(ID_STOP_SLIDE_SHOW, [this] { ToggleInFrame(); });
    commands.SetUpdateRule(ID_STOP_SLIDE_SHOW, [this](CCmdUI& ui) { ui.Enable(Model().g_bSlideShowInFrame); });
    commands.SetHandler(ID_SLIDE_SHOW_FULL_SCREEN, [this] { ToggleFullScreen(); });
    commands.SetUpdateRule(ID_SLIDE_SHOW_FULL_SCREEN, [this](CCmdUI& ui) { ui.SetCheck(Model().g_bSlideShowFullScreen); });
    for (const auto& [id, seconds] : kDelays) {
        commands.SetHandler(id, [this, seconds = seconds] { SetDelay(seconds); });
        commands.SetUpdateRule(id, [this, seconds = seconds](CCmdUI& ui) { ui.SetCheck(delay_ == seconds); });
    }
}

void CSlideShow::SetDelay(int seconds) {
    delay_ = seconds;
    StartTimer();
}

void CSlideShow::StartTimer() {
    if (!Model().g_bSlideShowInFrame && !Model().g_bSlideShowFullScreen) return;
    timer_.start(delay_ * 1000);
}

void CSlideShow::StartShow() {
    screenSaver_.Inhibit(QString::fromLatin1(kInhibitReason));
    StartTimer();
}

void CSlideShow::StopShow() {
    screenSaver_.UnInhibit();
    timer_.stop();
}

void CSlideShow::ToggleInFrame() {
    if (Model().g_bSlideShowFullScreen) ToggleFullScreen();
    Model().g_bSlideShowInFrame = !Model().g_bSlideShowInFrame;
    WatchPresses(Model().g_bSlideShowInFrame);
    if (Model().g_bSlideShowInFrame) {
        StartShow();
        return;
    }
    StopShow();
    host_.ShowDirectoryBar();
}

void CSlideShow::ToggleFullScreen() {
    if (Model().g_bSlideShowInFrame) ToggleInFrame();
    Model().g_bSlideShowFullScreen = !Model().g_bSlideShowFullScreen;
    if (Model().g_bSlideShowFullScreen) {
        host_.EnterFullScreen();
        QApplication::setOverrideCursor(Qt::BlankCursor);
        WatchPresses(true);
        StartShow();
        return;
    }
    StopShow();
    WatchPresses(false);
    QApplication::restoreOverrideCursor();
    host_.LeaveFullScreen();
    // The keyboard belongs to the list again, as every step left it.
    if (list_) list_->Focus();
    host_.ShowDirectoryBar();
}

void CSlideShow::PictureShown() {
    if (timer_.isActive()) StartTimer();
}

void CSlideShow::Step() {
    if (!list_) return;
    const int count = list_->RowCount();
    list_->Focus();
    if (count <= 1) return;
    ++position_;
    if (position_ < count) {
        list_->SelectNextRow();
    } else {
        position_ = 0;
        list_->SelectFirstRow();
    }
    list_->FollowOnThumbnails(position_);
}

void CSlideShow::WatchPresses(bool watch) {
    if (watch == watchingPresses_) return;
    watchingPresses_ = watch;
    if (watch)
        qApp->installEventFilter(this);
    else
        qApp->removeEventFilter(this);
}

bool CSlideShow::EndsInFrameShow(QObject* watched, const QEvent& event) const {
    if (event.type() == QEvent::KeyPress) return static_cast<const QKeyEvent&>(event).key() == Qt::Key_Escape;
    if (event.type() != QEvent::MouseButtonPress) return false;
    // Clicks on the lists and bars keep working while the show runs in the window.
    QWidget* picture = host_.PictureWidget();
    if (!picture) return false;
    const auto* scrollArea = qobject_cast<QAbstractScrollArea*>(picture);
    return watched == picture || (scrollArea && watched == scrollArea->viewport());
}

bool CSlideShow::eventFilter(QObject* watched, QEvent* event) {
    if (Model().g_bSlideShowInFrame) {
        if (!EndsInFrameShow(watched, *event)) return false;
        ToggleInFrame();
        // Escape has done its work; the click still reaches the picture.
        return event->type() == QEvent::KeyPress;
    }
    if (!Model().g_bSlideShowFullScreen) return false;
    switch (event->type()) {
    case QEvent::ShortcutOverride:
    case QEvent::KeyPress:
        // The show ends before the key is looked at: the window then hands it to the list,
        // which has the keyboard again, or runs the command it is the shortcut of.
        ToggleFullScreen();
        return false;
    case QEvent::MouseButtonPress:
    case QEvent::NonClientAreaMouseButtonPress: {
        const Qt::MouseButton button = static_cast<QMouseEvent*>(event)->button();
        if (button == Qt::LeftButton || button == Qt::RightButton || button == Qt::MiddleButton) ToggleFullScreen();
        return false;
    }
    default:
        return false;
    }
}

CViewerModel& CSlideShow::Model() const { return host_.Model(); }
