#pragma once

#include "imagelib/dib_section_bitmap.h"
#include "platform/mail_client.h"
#include "viewer/animation_player.h"
#include "viewer/picture_loader.h"
#include "viewer/picture_turn.h"

#include <QImage>
#include <QObject>
#include <QString>
#include <QThreadPool>
#include <QTimer>

#include <deque>
#include <memory>

class CCommandTable;
struct CViewerModel;

// The document: turns a file path into the current image. The file is decoded on a worker
// thread (the user interface never waits for it); the decoded bitmap then replaces the
// current one whole, so the view never sees a picture half decoded or freed. The document
// keeps a reference to the current bitmap's pixels for the view, decodes the neighbours
// the frame names ahead, and runs the commands on the image as a whole (copy, e-mail; it
// decides when print and preview are available). It is never modified, so nothing ever
// asks to save it.
class CTest11Doc : public QObject {
    Q_OBJECT
public:
    static constexpr int kWaitCursorDelay = 150;  // milliseconds

    explicit CTest11Doc(CViewerModel& model, QObject* parent = nullptr);
    ~CTest11Doc() override;

    CViewerModel& Model() const { return model_; }
    // The current image: every successful decode replaces it; the clipboard copy and the
    // wallpaper read it.
    CDIBSectionBitmap& CurrentBitmap() { return *current_; }

    // Opens path: false when the file cannot be opened (after the open-failure message;
    // nothing changes then). Otherwise its decode starts and the picture shown so far stays
    // until LoadFinished: the wait cursor shows if that takes longer than kWaitCursorDelay.
    // A file that does not decode gives "This file has invalid data." and its path (not during a slide
    // show, and not for a file a newer open replaced) and clears g_bImageLoaded, so the
    // view turns white.
    bool OnOpenDocument(const QString& path);
    // Opens the document's file again, decoded anew (the colour settings changed).
    void Reload();
    // Decodes paths ahead, so that opening one of them shows it at once.
    void Preload(const QStringList& paths);
    // An open has not finished yet.
    bool IsLoading() const { return loader_.IsLoading(); }
    CPictureLoader& Loader() { return loader_; }
    // Plays the frames of an animated picture in the current bitmap's place.
    CAnimationPlayer& Animation() { return animation_; }
    // Drops the reference to the current bitmap's pixels (the bitmap keeps them).
    void DeleteContents();

    // The pixels of the current bitmap; null when the document holds none.
    const QImage& Bitmap() const { return bitmap_; }
    // That picture already scaled to the size a stretch mode shows it at (made while it
    // was decoded), or null.
    const QImage& ScaledBitmap() const { return scaled_; }
    // Some pixel of that picture is not opaque, as its decoder says.
    bool HasAlpha() const { return frame_ ? frame_->HasAlpha() : current_->HasAlpha(); }
    // The opened file and the name shown in the title ("" before the first file).
    const QString& PathName() const { return path_; }
    QString Title() const;
    // Records path as the document's file and title, as opening does after OnOpenDocument.
    void SetPathName(const QString& path);

    void UpdateAllViews();
    void RegisterCommands(CCommandTable& commands);

    // The picture can be turned: a still picture is loaded (an animation's frames would
    // replace a turned one).
    bool CanTurnPicture() const;
    // Replaces the current picture by a turned copy, which the view, printing, copying and
    // the wallpaper use from then on; the file stays as it is, and the next picture opened
    // shows as stored. The copy is made on a worker (a large picture takes a good part of a
    // second), turns asked for meanwhile follow in order, and Turned comes when each is in
    // place; a picture opened meanwhile drops them.
    void TurnPicture(PictureTurn turn);
    bool IsTurning() const { return turning_; }
    CMailClient& MailClient() { return mail_; }

signals:
    // The views must lay out and repaint.
    void Updated();
    void TitleChanged(const QString& title);
    // An open ended: the picture shows (true) or the file could not be decoded.
    void LoadFinished(bool loaded);
    // A turned copy replaced the current picture.
    void Turned();

private:
    bool OpenForReading(const QString& path);
    void OnLoaded(const QString& path, const CPictureLoader::Picture& picture, const QImage& scaled, int errorCode,
                  QSize declared);
    void StopWaitCursor();
    void StartNextTurn();
    void OnEditCopy();
    void OnFileSendMail();

    CViewerModel& model_;
    std::shared_ptr<CDIBSectionBitmap> current_ = std::make_shared<CDIBSectionBitmap>();
    CPictureLoader loader_;
    CAnimationPlayer animation_;
    // The frame of an animation that shows, whose pixels bitmap_ refers to.
    CAnimationPlayer::Frame frame_;
    QTimer waitCursorTimer_;
    bool waitCursorShown_ = false;
    QImage bitmap_;
    QImage scaled_;
    QString path_;
    CMailClient mail_;
    std::deque<PictureTurn> pendingTurns_;
    bool turning_ = false;
    // Last, so that it is destroyed first: it waits for a turn still running, whose
    // answer then never arrives.
    QThreadPool turnPool_;
};
