#include "viewer/test11_doc.h"

#include "browser/viewer_model.h"
#include "codecs/auto_decoder.h"
#include "imagelib/dib_section_bitmap.h"
#include "imagelib/text_exception.h"
#include "platform/modal_seam.h"
#include "viewer/command_ids.h"
#include "viewer/command_table.h"

#include <QApplication>
#include <QFile>
#include <QFileInfo>

#include <exception>

namespace {

// The wait cursor for as long as the object lives.
class CWaitCursor {
public:
    CWaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~CWaitCursor() { QApplication::restoreOverrideCursor(); }
    CWaitCursor(const CWaitCursor&) = delete;
    CWaitCursor& operator=(const CWaitCursor&) = delete;
};

}  // namespace

CTest11Doc::CTest11Doc(CViewerModel& model, QObject* parent) : QObject(parent), model_(model), mail_(this) {
    connect(&mail_, &CMailClient::Failed, this, [](const QString& message) {
        ViewerMessageBox(message, QMessageBox::Ok, QMessageBox::Warning);
    });
}

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
    } else {
        QFile file(path);
        if (file.open(QIODevice::ReadOnly)) {
            DeleteContents();
            return true;
        }
        reason = file.errorString();
    }
    ViewerMessageBox(QStringLiteral("Cannot open %1:\n%2.").arg(info.absoluteFilePath(), reason), QMessageBox::Ok,
                     QMessageBox::Warning);
    return false;
}

bool CTest11Doc::OnOpenDocument(const QString& path) {
    if (!OpenForReading(path)) return false;
    model_.g_bImageLoaded = true;
    DeleteContents();
    {
        CWaitCursor wait;
        bool failed = false;
        try {
            decoder_.DecodeFile(QFile::encodeName(path).toStdString(), current_, 32);
        } catch (const CTextException&) {
            failed = true;
        } catch (const std::exception&) {
            // Whatever else a damaged file provokes counts as damage too.
            failed = true;
        }
        if (failed) {
            if (!model_.g_bSlideShowInFrame && !model_.g_bSlideShowFullScreen) ViewerMessageBox(QStringLiteral("This file has invalid data."));
            model_.g_bImageLoaded = false;
        }
    }
    if (model_.g_bImageLoaded) {
        CDIBSectionBitmap& current = current_;
        const QImage handle = current.BitmapHandle();
        if (handle.isNull()) {
            ViewerMessageBox(QStringLiteral("LoadImage failed from doc"));
            return false;
        }
        // The reference must describe the bitmap's own pixels, drawable as they are.
        if (handle.size() != QSize(current.Width(), current.Height()) || handle.format() != QImage::Format_RGB32) {
            ViewerMessageBox(QStringLiteral("Bitmap could not be attached"));
            return false;
        }
        bitmap_ = handle;
    }
    UpdateAllViews();
    return true;
}

void CTest11Doc::OnEditCopy() { current_.CopyToClipboard(); }

void CTest11Doc::OnFileSendMail() { mail_.SendFile(path_); }

void CTest11Doc::RegisterCommands(CCommandTable& commands) {
    const auto imageLoaded = [this](CCmdUI& ui) { ui.Enable(model_.g_bImageLoaded); };
    commands.SetHandler(ID_EDIT_COPY, [this] { OnEditCopy(); });
    commands.SetUpdateRule(ID_EDIT_COPY, imageLoaded);
    commands.SetHandler(ID_FILE_SEND_MAIL, [this] { OnFileSendMail(); });
    commands.SetUpdateRule(ID_FILE_SEND_MAIL, imageLoaded);
    // Printing is the view's; whether there is anything to print is decided here.
    commands.SetUpdateRule(ID_FILE_PRINT, imageLoaded);
    commands.SetUpdateRule(ID_FILE_PRINT_PREVIEW, imageLoaded);
}
