#include "viewer/test11_doc.h"

#include "browser/viewer_model.h"
#include "imagelib/dib_section_bitmap.h"
#include "imagelib/text_exception.h"
#include "platform/modal_seam.h"
#include "viewer/command_ids.h"
#include "viewer/command_table.h"
#include "viewer/decode_failure_text.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

CTest11Doc::CTest11Doc(CViewerModel& model, QObject* parent) : QObject(parent), model_(model), mail_(this) {
    waitCursorTimer_.setSingleShot(true);
    waitCursorTimer_.setInterval(kWaitCursorDelay);
    connect(&waitCursorTimer_, &QTimer::timeout, this, [this] {
        QApplication::setOverrideCursor(Qt::WaitCursor);
        waitCursorShown_ = true;
    });
    connect(&loader_, &CPictureLoader::Loaded, this,
            [this](const QString& path, const CPictureLoader::Picture& picture, const QImage& scaled, int errorCode,
                   const QString&, QSize declared) { OnLoaded(path, picture, scaled, errorCode, declared); });
    connect(&animation_, &CAnimationPlayer::FrameShown, this, [this](const CAnimationPlayer::Frame& frame) {
        const QImage handle = frame->BitmapHandle();
        if (handle.isNull() || !model_.g_bImageLoaded) return;
        frame_ = frame;
        bitmap_ = handle;
        scaled_ = QImage();
        UpdateAllViews();
    });
    connect(&mail_, &CMailClient::Failed, this, [](const QString& message) {
        ViewerMessageBox(message, QMessageBox::Ok, QMessageBox::Warning);
    });
}

CTest11Doc::~CTest11Doc() { StopWaitCursor(); }

QString CTest11Doc::Title() const { return path_.isEmpty() ? QString() : QFileInfo(path_).fileName(); }

void CTest11Doc::SetPathName(const QString& path) {
    path_ = QFileInfo(path).absoluteFilePath();
    emit TitleChanged(Title());
}

void CTest11Doc::DeleteContents() { bitmap_ = QImage(); }

void CTest11Doc::UpdateAllViews() { emit Updated(); }

bool CTest11Doc::OpenForReading(const QString& path) {
    const QFileInfo info(path);
    QString reason;
    if (info.isDir()) {
        reason = QStringLiteral("it is a folder");
    } else if (info.exists() && !info.isFile()) {
        // Opening a FIFO would wait for a writer; a device may act on being opened.
        reason = QStringLiteral("it is not a regular file");
    } else {
        QFile file(path);
        if (file.open(QIODevice::ReadOnly)) return true;
        reason = file.errorString();
    }
    ViewerMessageBox(QStringLiteral("Cannot open %1:\n%2.").arg(info.absoluteFilePath(), reason), QMessageBox::Ok,
                     QMessageBox::Warning);
    return false;
}

bool CTest11Doc::OnOpenDocument(const QString& path) {
    if (!OpenForReading(path)) return false;
    if (!waitCursorTimer_.isActive() && !waitCursorShown_) waitCursorTimer_.start();
    loader_.Load(path);
    return true;
}

void CTest11Doc::Reload() {
    loader_.Forget();
    OnOpenDocument(path_);
}

void CTest11Doc::Preload(const QStringList& paths) { loader_.Preload(paths); }

void CTest11Doc::StopWaitCursor() {
    waitCursorTimer_.stop();
    if (waitCursorShown_) QApplication::restoreOverrideCursor();
    waitCursorShown_ = false;
}

void CTest11Doc::OnLoaded(const QString& path, const CPictureLoader::Picture& picture, const QImage& scaled,
                          int errorCode, QSize declared) {
    StopWaitCursor();
    QImage handle;
    if (picture) {
        handle = picture->BitmapHandle();
        // The reference must describe the bitmap's own pixels, drawable as they are.
        if (handle.isNull()) {
            ViewerMessageBox(QStringLiteral("LoadImage failed from doc"));
        } else if (handle.size() != QSize(picture->Width(), picture->Height()) ||
                   handle.format() != QImage::Format_RGB32) {
            ViewerMessageBox(QStringLiteral("Bitmap could not be attached"));
            handle = QImage();
        }
    } else if (!model_.g_bSlideShowInFrame && !model_.g_bSlideShowFullScreen) {
        // The message names the file (a folder may hold many that look alike), and tells a
        // picture too large to show from a damaged one.
        ViewerMessageBox(DecodeFailureText(QDir::toNativeSeparators(path), errorCode, declared));
    }
    model_.g_bImageLoaded = !handle.isNull();
    frame_.reset();
    if (model_.g_bImageLoaded && picture->Metadata().frameCount > 1)
        animation_.Play(path);
    else
        animation_.Stop();
    // The old picture's memory goes back as soon as the view lets go of it.
    bitmap_ = handle;
    scaled_ = model_.g_bImageLoaded ? scaled : QImage();
    current_ = model_.g_bImageLoaded ? picture : std::make_shared<CDIBSectionBitmap>();
    UpdateAllViews();
    emit LoadFinished(model_.g_bImageLoaded);
}

void CTest11Doc::OnEditCopy() { current_->CopyToClipboard(); }

void CTest11Doc::OnFileSendMail() { mail_.SendFile(path_); }

void CTest11Doc::RegisterCommands(CCommandTable& commands) {
    const auto imageLoaded = [this](CCmdUI& ui) { ui.Enable(model_.g_bImageLoaded); };
    commands.SetHandler(ID_EDIT_COPY, [this] { OnEditCopy(); });
    commands.SetUpdateRule(ID_EDIT_COPY, imageLoaded);
    commands.SetHandler(ID_PAUSE_ANIMATION, [this] { animation_.SetPaused(!animation_.IsPaused()); });
    commands.SetUpdateRule(ID_PAUSE_ANIMATION, [this](CCmdUI& ui) {
        ui.Enable(animation_.IsActive());
        ui.SetCheck(animation_.IsPaused());
    });
    commands.SetHandler(ID_FILE_SEND_MAIL, [this] { OnFileSendMail(); });
    commands.SetUpdateRule(ID_FILE_SEND_MAIL, imageLoaded);
    // Printing is the view's; whether there is anything to print is decided here.
    commands.SetUpdateRule(ID_FILE_PRINT, imageLoaded);
    commands.SetUpdateRule(ID_FILE_PRINT_PREVIEW, imageLoaded);
}

bool CTest11Doc::CanTurnPicture() const { return model_.g_bImageLoaded && !animation_.IsActive() && !bitmap_.isNull(); }

void CTest11Doc::TurnPicture(PictureTurn turn) {
    if (!CanTurnPicture()) return;
    pendingTurns_.push_back(turn);
    if (!turning_) StartNextTurn();
}

void CTest11Doc::StartNextTurn() {
    turning_ = true;
    const PictureTurn turn = pendingTurns_.front();
    pendingTurns_.pop_front();
    // The worker holds the picture it turns: the document may let it go meanwhile.
    const std::shared_ptr<CDIBSectionBitmap> source = current_;
    turnPool_.start([this, source, turn] {
        std::shared_ptr<CDIBSectionBitmap> turned;
        QString error;
        try {
            turned = TurnedPicture(*source, turn);
        } catch (const CTextException& failure) {
            error = QString::fromLocal8Bit(failure.what());
        }
        QMetaObject::invokeMethod(
            this,
            [this, source, turned, error] {
                turning_ = false;
                // Another picture came while this one was turned.
                if (source != current_ || !CanTurnPicture()) {
                    pendingTurns_.clear();
                    return;
                }
                if (!turned) {
                    pendingTurns_.clear();
                    ViewerMessageBox(error);
                    return;
                }
                current_ = turned;
                bitmap_ = current_->BitmapHandle();
                // The copy scaled for a stretch mode shows the picture as it was.
                scaled_ = QImage();
                UpdateAllViews();
                emit Turned();
                if (!pendingTurns_.empty()) StartNextTurn();
            },
            Qt::QueuedConnection);
    });
}
