#include "viewer/slide_show.h"

#include "browser/viewer_model.h"
#include "platform/profile.h"
#include "viewer/command_ids.h"
#include "viewer/command_table.h"
#include "viewer/main_frame.h"
#include "viewer/sizing_control_bar.h"

#include <QApplication>
#include <QMenuBar>
#include <QMouseEvent>
#include <QStatusBar>
#include <QToolBar>

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

CSlideShow::CSlideShow(CMainFrame& frame)
    : QObject(&frame), frame_(frame), screenSaver_(QString::fromLatin1(Profile::kApplication)) {
    connect(&timer_, &QTimer::timeout, this, &CSlideShow::Step);
}

CSlideShow::~CSlideShow() {
    // The cursor and the event filter are the whole application's.
    if (Model().g_bSlideShowFullScreen) {
        qApp->removeEventFilter(this);
        QApplication::restoreOverrideCursor();
    }
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
    if (Model().g_bSlideShowInFrame) {
        StartShow();
        return;
    }
    StopShow();
    if (frame_.DirectoryBar()->isHidden()) {
        frame_.DockBarLeft(frame_.DirectoryBar());
        frame_.RecalcLayout();
    }
}

void CSlideShow::ToggleFullScreen() {
    if (Model().g_bSlideShowInFrame) ToggleInFrame();
    Model().g_bSlideShowFullScreen = !Model().g_bSlideShowFullScreen;
    if (Model().g_bSlideShowFullScreen) {
        EnterFullScreen();
        StartShow();
        return;
    }
    StopShow();
    LeaveFullScreen();
    if (frame_.DirectoryBar()->isHidden()) {
        frame_.DockBarLeft(frame_.DirectoryBar());
        frame_.RecalcLayout();
    }
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

void CSlideShow::EnterFullScreen() {
    QWidget* bars[4] = {frame_.DirectoryBar(), frame_.FileListBar(), frame_.ToolBar(), frame_.statusBar()};
    for (int i = 0; i < 4; ++i) {
        barsShown_[i] = !bars[i]->isHidden();
        bars[i]->hide();
    }
    QApplication::setOverrideCursor(Qt::BlankCursor);
    windowState_ = frame_.windowState();
    frame_.showFullScreen();
    frame_.menuBar()->hide();
    frame_.update();
    qApp->installEventFilter(this);
}

void CSlideShow::LeaveFullScreen() {
    qApp->removeEventFilter(this);
    QWidget* bars[4] = {frame_.DirectoryBar(), frame_.FileListBar(), frame_.ToolBar(), frame_.statusBar()};
    for (int i = 0; i < 4; ++i)
        if (barsShown_[i]) bars[i]->show();
    if (windowState_ & Qt::WindowMaximized)
        frame_.showMaximized();
    else
        frame_.showNormal();
    frame_.menuBar()->show();
    QApplication::restoreOverrideCursor();
    frame_.RecalcLayout();
    // The keyboard belongs to the list again, as every step left it.
    if (list_) list_->Focus();
}

bool CSlideShow::eventFilter(QObject*, QEvent* event) {
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

CViewerModel& CSlideShow::Model() const { return frame_.Model(); }
