#include "browser/progress_popup.h"

#include "platform/profile.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QStyle>

namespace {

constexpr int kMargin = 10;
constexpr int kLines = 2;
constexpr int kWidth = 390;
constexpr int kMaxText = 511;
const QString kSettings = QStringLiteral("Settings");

}  // namespace

CProgressPopup::CProgressPopup() : QWidget(nullptr) { setObjectName(QStringLiteral("ProgressPopup")); }

CProgressPopup::~CProgressPopup() {
    if (created_) {
        Profile::WriteInt(kSettings, QStringLiteral("X"), x());
        Profile::WriteInt(kSettings, QStringLiteral("Y"), y());
    }
}

bool CProgressPopup::Create(QWidget* parent, const QString& title, bool smooth) {
    title_ = title;
    QWidget* owner = parent ? parent->window() : QApplication::activeWindow();
    // A caption without a close box: the job ends by itself or through Cancel.
    setParent(owner, Qt::Tool | Qt::WindowStaysOnTopHint | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    setAttribute(Qt::WA_ShowWithoutActivating);
    setWindowTitle(title_);
    setCursor(Qt::BusyCursor);
    setBackgroundRole(QPalette::Button);
    setAutoFillBackground(true);
    setFont(QApplication::font("QMessageBoxLabel"));

    message_ = new QLabel(this);
    message_->setTextFormat(Qt::PlainText);
    message_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    message_->setWordWrap(false);
    bar_ = new QProgressBar(this);
    bar_->setTextVisible(false);
    // A smooth bar fills continuously; the other kind in steps, like a segmented bar.
    if (!smooth) bar_->setStyleSheet(QStringLiteral("QProgressBar::chunk { width: 8px; margin: 1px; }"));
    bar_->setRange(lower_, upper_);
    cancelButton_ = new QPushButton(QStringLiteral(" Cancel "), this);
    cancelButton_->setFocusPolicy(Qt::TabFocus);
    connect(cancelButton_, &QPushButton::clicked, this, &CProgressPopup::Cancel);

    LayOut(kLines, kWidth);
    created_ = true;
    RestorePosition();
    show();
    return true;
}

void CProgressPopup::LayOut(int lines, int width) {
    const QFontMetrics metrics(font());
    const int ex = style()->pixelMetric(QStyle::PM_DefaultFrameWidth);
    const int ey = ex;
    const QRect messageRect(kMargin, kMargin, width, metrics.lineSpacing() * lines);
    const QSize label = metrics.size(Qt::TextSingleLine, cancelButton_->text() + QStringLiteral("  "));
    const QSize button(label.width() + 4 * ex, label.height() + 3 * ey);
    const QRect buttonRect(messageRect.right() + 1 - button.width(), messageRect.bottom() + 1 + kMargin,
                           button.width(), button.height());
    const QRect barRect(messageRect.left(), buttonRect.top() + ey,
                        buttonRect.left() - kMargin - messageRect.left(), button.height() - 2 * ey);
    setFixedSize(messageRect.width() + 2 * kMargin, messageRect.height() + button.height() + 3 * kMargin);
    message_->setGeometry(messageRect);
    cancelButton_->setGeometry(buttonRect);
    bar_->setGeometry(barRect);
}

void CProgressPopup::RestorePosition() {
    const int x = Profile::GetInt(kSettings, QStringLiteral("X"), -1);
    const int y = Profile::GetInt(kSettings, QStringLiteral("Y"), -1);
    const QScreen* screen = QGuiApplication::primaryScreen();
    const QSize extent = screen ? screen->size() : QSize();
    if (x < 0 || x >= extent.width() || y < 0 || y >= extent.height())
        CenterOver(parentWidget());
    else
        move(x, y);
}

void CProgressPopup::CenterOver(QWidget* window) {
    QRect area;
    if (window)
        area = window->frameGeometry();
    else if (const QScreen* screen = QGuiApplication::primaryScreen())
        area = screen->availableGeometry();
    if (area.isValid()) move(area.center() - QPoint(width() / 2, height() / 2));
}

void CProgressPopup::SetText(const QString& text) {
    if (message_) message_->setText(text.left(kMaxText));
}

void CProgressPopup::SetRange(int lower, int upper, int step) {
    lower_ = lower;
    upper_ = upper;
    step_ = step;
    if (bar_) bar_->setRange(lower, upper);
}

int CProgressPopup::SetPos(int position) {
    position_ = position;
    if (!created_) return position_;
    if (isHidden() && !cancelled_) show();
    // Wide arithmetic: a position near the top of the integer range must not overflow.
    const int percent =
        lower_ < upper_ ? static_cast<int>(int64_t{position} * 100 / (int64_t{upper_} - lower_)) : 0;
    if (percent != percent_) {
        percent_ = percent;
        setWindowTitle(QStringLiteral("%1 [%2%]").arg(title_).arg(percent_));
    }
    bar_->setValue(std::clamp(position, std::min(lower_, upper_), std::max(lower_, upper_)));
    return position_;
}

void CProgressPopup::PumpMessages(bool escapeCancels) {
    if (cancelled_) return;
    escapeCancels_ = escapeCancels;
    qApp->installEventFilter(this);
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    if (!watchingEscape_) qApp->removeEventFilter(this);
}

void CProgressPopup::CancelOnEscape() {
    watchingEscape_ = true;
    escapeCancels_ = true;
    qApp->installEventFilter(this);
}

bool CProgressPopup::eventFilter(QObject* watched, QEvent* event) {
    if (escapeCancels_ && !cancelled_ && event->type() == QEvent::KeyPress &&
        static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape) {
        Cancel();
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

void CProgressPopup::Cancel() {
    cancelled_ = true;
    hide();
    if (QWidget* owner = parentWidget()) {
        owner->raise();
        owner->activateWindow();
    }
    emit CancelRequested();
}
