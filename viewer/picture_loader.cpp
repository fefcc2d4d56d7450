#include "viewer/picture_loader.h"

#include "imagelib/dib_section_bitmap.h"
#include "imagelib/text_exception.h"
#include "isolation/decoder_pool.h"
#include "isolation/memfd_bitmap.h"
#include "viewer/decode_failure_text.h"
#include "viewer/display_layout.h"

#include <QFile>
#include <QFileInfo>
#include <QThread>

#include <algorithm>
#include <exception>

namespace {

// The shown picture goes ahead of every preload waiting for a thread.
constexpr int kShownPriority = 1;
constexpr int kPreloadPriority = 0;

qint64 BytesOf(const CPictureLoader::Picture& picture) {
    return picture ? static_cast<qint64>(picture->MemoryUsed()) : 0;
}

}  // namespace

CPictureLoader::CPictureLoader(qint64 preloadBudget, QObject* parent)
    : QObject(parent), preloadBudget_(preloadBudget), inbox_(this) {
    pool_.setMaxThreadCount(std::max(2, QThread::idealThreadCount()));
    CDecoderPool::Shared()->Prestart();
}

CPictureLoader::~CPictureLoader() {
    for (auto& [path, entry] : entries_) entry.context.Cancel();
    pool_.waitForDone();
}

void CPictureLoader::Load(const QString& path) {
    wanted_ = path;
    auto found = entries_.find(path);
    if (found != entries_.end() && !Unchanged(path, found->second)) {
        Drop(found);
        found = entries_.end();
    }
    if (found == entries_.end()) Start(path, kShownPriority);
    // Whatever was on its way for an earlier request and is not wanted ahead stops now.
    Trim();
    found = entries_.find(path);
    if (found != entries_.end() && found->second.done) Answer(path, found->second);
}

void CPictureLoader::Preload(const QStringList& paths) {
    preloads_ = paths;
    preloads_.removeAll(shown_);
    preloads_.removeAll(wanted_);
    Trim();
    for (const QString& path : preloads_) {
        if (const auto big = overBudget_.find(path); big != overBudget_.end()) {
            const QFileInfo info(path);
            if (info.lastModified() == big->second.first && info.size() == big->second.second) continue;
            overBudget_.erase(big);
        }
        auto found = entries_.find(path);
        if (found != entries_.end() && !Unchanged(path, found->second)) Drop(found);
        if (!entries_.contains(path)) Start(path, kPreloadPriority);
    }
}

void CPictureLoader::SetFitSize(QSize client, DisplayMode mode) {
    fitClient_ = client;
    fitState_ = mode;
}

void CPictureLoader::Forget() {
    overBudget_.clear();
    for (auto entry = entries_.begin(); entry != entries_.end();) Drop(entry++);
}

qint64 CPictureLoader::PreloadedBytes() const {
    qint64 bytes = 0;
    for (const QString& path : preloads_)
        if (const auto found = entries_.find(path); found != entries_.end()) bytes += BytesOf(found->second.picture);
    return bytes;
}

void CPictureLoader::Start(const QString& path, int priority) {
    Entry& entry = entries_[path];
    entry.generation = ++generation_;
    const QFileInfo info(path);
    entry.modified = info.lastModified();
    entry.size = info.size();
    const CDecodeContext context = entry.context;
    const quint64 generation = entry.generation;
    const bool fit = fitState_ == DisplayMode::StretchToFill() || fitState_ == DisplayMode::Proportional();
    const QSize client = fitClient_;
    const DisplayMode stretchState = fitState_;
    StartOnPool(
        pool_,
        [this, path, generation, context, fit, client, stretchState] {
            QImage scaled;
            Picture picture;
            int errorCode = 0;
            QString error;
            QSize declared;
            try {
                // Decoded by a helper process, opaque alpha bytes included, so that the
                // viewer only maps the pixels and never writes them.
                picture = CDecoderPool::Shared()->DecodeFile(QFile::encodeName(path).toStdString(), context, 32, true);
                // The view's scaled copy, ready before the picture is asked for.
                if (fit && !picture->HasAlpha()) {
                    const QSize target =
                        ComputeDisplayLayout(QSize(picture->Width(), picture->Height()), client, stretchState).target.size();
                    if (!target.isEmpty() && target != QSize(picture->Width(), picture->Height()))
                        scaled = picture->BitmapHandle().scaled(target, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
                }
            } catch (const CTextException& failure) {
                errorCode = failure.Code();
                error = QString::fromLocal8Bit(failure.what());
                declared = DeclaredSizeOf(failure);
            } catch (const std::exception& failure) {
                // Whatever else a damaged file provokes counts as damage too.
                errorCode = ERR_BAD_DATA;
                error = QString::fromLocal8Bit(failure.what());
            }
            if (errorCode != 0) picture.reset();
            // Handed over whole: the worker keeps nothing of what it made.
            inbox_.Post([this, path, generation, picture = std::move(picture), scaled = std::move(scaled), errorCode,
                         error = std::move(error), declared] {
                Finished(path, generation, picture, scaled, errorCode, error, declared);
            });
        },
        priority);
}

void CPictureLoader::Finished(const QString& path, quint64 generation, const Picture& picture, const QImage& scaled,
                              int errorCode, const QString& error, QSize declared) {
    const auto found = entries_.find(path);
    // A decode that was dropped meanwhile, or replaced by a newer one of the same file.
    if (found == entries_.end() || found->second.generation != generation) return;
    Entry& entry = found->second;
    entry.done = true;
    entry.picture = picture;
    entry.scaled = scaled;
    entry.errorCode = errorCode;
    entry.error = error;
    entry.declared = declared;
    if (path == wanted_) {
        Answer(path, entry);
        Trim();
    } else {
        Trim();
        emit Preloaded(path);
    }
}

void CPictureLoader::Answer(const QString& path, const Entry& entry) {
    wanted_.clear();
    shown_ = path;
    preloads_.removeAll(path);
    // Copies: a slot may call Load again, which can drop the entry.
    const Picture picture = entry.picture;
    const QImage scaled = entry.scaled;
    const int errorCode = entry.errorCode;
    const QString error = entry.error;
    const QSize declared = entry.declared;
    emit Loaded(path, picture, scaled, errorCode, error, declared);
}

void CPictureLoader::Trim() {
    for (auto entry = entries_.begin(); entry != entries_.end();) {
        const QString& path = entry->first;
        if (path == wanted_ || path == shown_ || preloads_.contains(path))
            ++entry;
        else
            Drop(entry++);
    }
    // Over the budget: the preloads named last go first.
    qint64 bytes = PreloadedBytes();
    for (auto path = preloads_.crbegin(); path != preloads_.crend() && bytes > preloadBudget_; ++path) {
        const auto found = entries_.find(*path);
        if (found == entries_.end() || !found->second.done) continue;
        const qint64 picture = BytesOf(found->second.picture);
        if (picture > preloadBudget_) overBudget_[*path] = {found->second.modified, found->second.size};
        bytes -= picture;
        Drop(found);
    }
}

void CPictureLoader::Drop(std::map<QString, Entry>::iterator entry) {
    entry->second.context.Cancel();
    entries_.erase(entry);
}

bool CPictureLoader::Unchanged(const QString& path, const Entry& entry) const {
    const QFileInfo info(path);
    return info.lastModified() == entry.modified && info.size() == entry.size;
}
