#pragma once

#include "codecs/auto_decoder.h"
#include "imagelib/dib_section_bitmap.h"
#include "platform/mail_client.h"

#include <QImage>
#include <QObject>
#include <QString>

class CCommandTable;
struct CViewerModel;

// The document: turns a file path into the current image. It decodes the file into the
// process-wide current bitmap, keeps a reference to that bitmap's pixels for the view, and
// runs the commands on the image as a whole (copy, e-mail; it decides when print and
// preview are available). It is never modified, so nothing ever asks to save it.
class CTest11Doc : public QObject {
    Q_OBJECT
public:
    explicit CTest11Doc(CViewerModel& model, QObject* parent = nullptr);

    CViewerModel& Model() const { return model_; }
    // The current image: every successful decode replaces it; the clipboard copy and the
    // wallpaper read it.
    CDIBSectionBitmap& CurrentBitmap() { return current_; }

    // Opens path: false when the file cannot be opened (after the open-failure message;
    // nothing changes then) or the decoded image cannot be shown. A file that does not
    // decode gives "This file has invalid data." (not during a slide show), clears
    // g_bImageLoaded and still returns true, so the view turns white.
    bool OnOpenDocument(const QString& path);
    // Drops the reference to the current bitmap's pixels (the bitmap keeps them).
    void DeleteContents();

    // The pixels of the current bitmap; null when the document holds none.
    const QImage& Bitmap() const { return bitmap_; }
    // The opened file and the name shown in the title ("" before the first file).
    const QString& PathName() const { return path_; }
    QString Title() const;
    // Records path as the document's file and title, as opening does after OnOpenDocument.
    void SetPathName(const QString& path);

    void UpdateAllViews();
    void RegisterCommands(CCommandTable& commands);
    CMailClient& MailClient() { return mail_; }

signals:
    // The views must lay out and repaint.
    void Updated();
    void TitleChanged(const QString& title);

private:
    bool OpenForReading(const QString& path);
    void OnEditCopy();
    void OnFileSendMail();

    CViewerModel& model_;
    CAutoDecoder decoder_;
    CDIBSectionBitmap current_;
    QImage bitmap_;
    QString path_;
    CMailClient mail_;
};
