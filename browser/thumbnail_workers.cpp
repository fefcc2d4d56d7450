#include "browser/thumbnail_workers.h"

#include "imagelib/decode_context.h"
#include "imagelib/dib_section_bitmap.h"
#include "imagelib/text_exception.h"
#include "isolation/decoder_pool.h"
#include "isolation/memfd_bitmap.h"

#include <QFile>
#include <QPainter>

#include <algorithm>
#include <cstring>

namespace {

std::atomic<int> g_runningThreads{0};

// Exif orientations 5 to 8 turn the picture by a quarter.
bool Transposed(int orientation) { return orientation >= 5 && orientation <= 8; }

QSize AtMost(QSize size, int longSide) {
    return std::max(size.width(), size.height()) <= longSide ? size
                                                             : CThumbnailWorkers::FittedSize(size, {longSide, longSide});
}

// A picture from the cache as a 32-bit library bitmap, its transparency flattened onto
// background (the cell has no alpha).
void LoadBitmap(const QImage& image, QColor background, CDIBSectionBitmap& bitmap) {
    QImage flat(image.size(), QImage::Format_RGB32);
    flat.fill(background);
    {
        QPainter painter(&flat);
        painter.drawImage(0, 0, image);
    }
    bitmap.Create(flat.width(), flat.height(), 32, false);
    CBitmapLock lock(bitmap, false, true);
    const size_t bytes = static_cast<size_t>(flat.width()) * 4;
    for (int y = 0; y < flat.height(); ++y) std::memcpy(bitmap.Line(y), flat.constScanLine(y), bytes);
}

QImage Resized(CImageBitmap& picture, QSize size) {
    CDIBSectionBitmap scaled;
    scaled.ResizeFrom(picture, size.width(), size.height());
    return scaled.ReleaseBitmapHandle();
}

}  // namespace

CThumbnailWorkers::CThumbnailWorkers(QStringList paths, QSize cell, QColor background, CThumbnailCache cache,
                                     QObject* parent)
    : QObject(parent),
      paths_(std::move(paths)),
      cell_(cell),
      background_(background),
      cache_(std::move(cache)),
      inbox_(this) {}

CThumbnailWorkers::~CThumbnailWorkers() { Cancel(); }

int CThumbnailWorkers::RunningThreads() { return g_runningThreads.load(); }

QSize CThumbnailWorkers::FittedSize(QSize picture, QSize box) {
    if (picture.isEmpty()) return {1, 1};
    const QSize fitted = picture.scaled(box, Qt::KeepAspectRatio);
    return {std::max(1, fitted.width()), std::max(1, fitted.height())};
}

void CThumbnailWorkers::Start(int threadCount) {
    const int count = std::clamp(threadCount, 1, std::max(1, static_cast<int>(paths_.size())));
    for (int i = 0; i < count; ++i) {
        ++g_runningThreads;
        threads_.emplace_back([this] {
            Run();
            --g_runningThreads;
        });
    }
}

void CThumbnailWorkers::Cancel() {
    {
        const std::lock_guard lock(mutex_);
        cancelled_ = true;
        for (const CDecodeContext* context : running_) context->Cancel();
    }
    for (std::thread& thread : threads_) thread.join();
    threads_.clear();
    inbox_.DiscardPending();
}

bool CThumbnailWorkers::Register(const CDecodeContext& context) {
    const std::lock_guard lock(mutex_);
    if (cancelled_) return false;
    running_.push_back(&context);
    return true;
}

void CThumbnailWorkers::Unregister(const CDecodeContext& context) {
    const std::lock_guard lock(mutex_);
    running_.erase(std::find(running_.begin(), running_.end(), &context));
}

void CThumbnailWorkers::Run() {
    for (int index = next_++; index < paths_.size(); index = next_++) {
        CDecodeContext context;
        // Thumbnails in the shared cache are sRGB, whatever profile the monitor has.
        context.targetProfile.clear();
        if (!Register(context)) return;
        const QString& path = paths_[index];
        const CThumbnailCache::Key key = CThumbnailCache::KeyOf(path);
        QImage thumbnail;
        bool failed = cache_.HasFailed(key);
        if (!failed) {
            try {
                thumbnail = Make(context, path, key);
            } catch (const CTextException&) {
                failed = !context.IsCancelled();
                if (failed) cache_.RecordFailure(key);
            }
        }
        Unregister(context);
        if (context.IsCancelled()) return;
        if (failed)
            inbox_.Post([this, index] { emit Failed(index); });
        else
            inbox_.Post([this, index, thumbnail] { emit Made(index, thumbnail); });
    }
}

QImage CThumbnailWorkers::Make(const CDecodeContext& context, const QString& path, const CThumbnailCache::Key& key) {
    const std::string file = QFile::encodeName(path).toStdString();
    const std::shared_ptr<CDecoderPool> helpers = CDecoderPool::Shared();
    if (const CThumbnailCache::Found cached = cache_.Find(key); !cached.thumbnail.isNull()) {
        // This viewer's own thumbnail needs no helper: it exists because the file was decoded.
        // Another program's only shows once the header probe says this viewer reads the file.
        if (!cached.madeHere) helpers->ProbeFile(file, context);
        CDIBSectionBitmap picture;
        LoadBitmap(cached.thumbnail, background_, picture);
        return IntoCell(picture);
    }

    const ImageInfo info = helpers->ProbeFile(file, context);
    QSize stored(info.width, info.height);
    const QSize shown = Transposed(info.orientation) ? stored.transposed() : stored;
    const bool cacheable = shown.width() > cell_.width() || shown.height() > cell_.height();
    // The smallest picture that covers the cell, and the cache's size when it is kept.
    QSize wanted = FittedSize(stored, Transposed(info.orientation) ? cell_.transposed() : cell_);
    if (cacheable) wanted = wanted.expandedTo(AtMost(stored, CThumbnailCache::kNormalSize));
    CDecodeContext scaled = context;
    if (Transposed(info.orientation)) {
        // Which side the decoder measures is its own affair: ask enough for either.
        const int side = std::max(wanted.width(), wanted.height());
        wanted = {side, side};
    }
    scaled.minWidth = wanted.width();
    scaled.minHeight = wanted.height();
    const std::shared_ptr<CMemfdBitmap> picture = helpers->DecodeFile(file, scaled, 32);

    if (cacheable) {
        const QSize size(picture->Width(), picture->Height());
        cache_.Store(key, Resized(*picture, AtMost(size, CThumbnailCache::kNormalSize)));
    }
    return IntoCell(*picture);
}

QImage CThumbnailWorkers::IntoCell(CImageBitmap& picture) const {
    const QImage fitted = Resized(picture, FittedSize({picture.Width(), picture.Height()}, cell_));
    QImage cell(cell_, QImage::Format_RGB32);
    cell.fill(background_);
    QPainter painter(&cell);
    painter.drawImage((cell_.width() - fitted.width()) / 2, (cell_.height() - fitted.height()) / 2, fitted);
    return cell;
}
