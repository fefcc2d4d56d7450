#include "browser/thumbnail_cache.h"

#include <QBuffer>
#include <QtEndian>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QImageWriter>
#include <QStandardPaths>
#include <QTemporaryFile>
#include <QUrl>

#include <cstdio>
#include <sys/stat.h>
#include <utility>
#include <vector>
#include <zlib.h>

namespace {

const QString kUriKey = QStringLiteral("Thumb::URI");
const QString kMTimeKey = QStringLiteral("Thumb::MTime");
const QString kSizeKey = QStringLiteral("Thumb::Size");
const QString kSoftwareKey = QStringLiteral("Software");
const QString kSoftware = QStringLiteral("Vantoro Image Viewer");

// Creates folder and the missing folders above it up to and including root's parent; the
// standard wants the thumbnail folders readable by their owner only.
bool MakePrivateFolder(const QString& root, const QString& folder) {
    if (QFileInfo(folder).isDir()) return true;
    if (!QDir().mkpath(QFileInfo(root).path())) return false;
    QString path = root;
    const QStringList below = folder.mid(root.size()).split(QLatin1Char('/'), Qt::SkipEmptyParts);
    for (int i = -1; i < below.size(); ++i) {
        if (i >= 0) path += QLatin1Char('/') + below[i];
        if (::mkdir(QFile::encodeName(path).constData(), 0700) != 0 && !QFileInfo(path).isDir()) return false;
    }
    return true;
}

QByteArray BigEndian32(quint32 value) {
    QByteArray bytes(4, '\0');
    qToBigEndian(value, bytes.data());
    return bytes;
}

// The PNG of image with tEXt chunks right after its header chunk. Qt's writer takes a colon
// in a keyword for a separator, and the standard's keywords ("Thumb::URI") have two.
QByteArray PngWithTexts(const QImage& image, const std::vector<std::pair<QString, QString>>& texts) {
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    if (!QImageWriter(&buffer, "png").write(image)) return {};
    QByteArray chunks;
    for (const auto& [key, value] : texts) {
        const QByteArray body = "tEXt" + key.toLatin1() + '\0' + value.toLatin1();
        const auto crc = crc32(0, reinterpret_cast<const Bytef*>(body.constData()), static_cast<uInt>(body.size()));
        chunks += BigEndian32(static_cast<quint32>(body.size() - 4)) + body + BigEndian32(static_cast<quint32>(crc));
    }
    // Signature (8), then IHDR: length, type, 13 bytes of data, CRC.
    constexpr int kAfterHeader = 8 + 4 + 4 + 13 + 4;
    png.insert(kAfterHeader, chunks);
    return png;
}

// The tEXt chunks ahead of the pixels of a PNG file, keyword to text. Qt's reader has them
// only after decoding the pixels, or split at the first colon of their keyword.
QHash<QByteArray, QByteArray> TextsBeforePixels(const QString& path) {
    QHash<QByteArray, QByteArray> texts;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.read(8) != QByteArray("\x89PNG\r\n\x1a\n", 8)) return texts;
    // Text of a thumbnail is a URI and some numbers: a larger chunk is not one of them.
    constexpr quint32 kLongestText = 64 * 1024;
    for (;;) {
        const QByteArray head = file.read(8);
        if (head.size() != 8) break;
        const quint32 length = qFromBigEndian<quint32>(head.constData());
        const QByteArray type = head.mid(4);
        if (type == "IDAT" || type == "IEND") break;
        if (type == "tEXt" && length <= kLongestText) {
            const QByteArray body = file.read(length);
            const qsizetype end = body.indexOf('\0');
            if (body.size() != static_cast<qsizetype>(length) || end < 0) break;
            texts.insert(body.left(end), body.mid(end + 1));
            file.skip(4);
        } else if (!file.skip(static_cast<qint64>(length) + 4)) {
            break;
        }
    }
    return texts;
}

bool Matches(const QHash<QByteArray, QByteArray>& texts, const CThumbnailCache::Key& key) {
    return texts.value(kUriKey.toLatin1()) == key.uri.toLatin1() &&
           texts.value(kMTimeKey.toLatin1()) == QByteArray::number(key.mtime);
}

}  // namespace

CThumbnailCache::CThumbnailCache()
    : root_(QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation) + QStringLiteral("/thumbnails")) {}

QString CThumbnailCache::UriOf(const QString& path) {
    return QString::fromLatin1(QUrl::fromLocalFile(QFileInfo(path).absoluteFilePath()).toEncoded());
}

QString CThumbnailCache::FileNameOf(const QString& uri) {
    return QString::fromLatin1(QCryptographicHash::hash(uri.toUtf8(), QCryptographicHash::Md5).toHex()) +
           QStringLiteral(".png");
}

CThumbnailCache::Key CThumbnailCache::KeyOf(const QString& path) {
    // Seconds since the epoch straight from the file system: no time zone is consulted,
    // which on several threads at once would race inside the C library.
    struct stat status {};
    if (::stat(QFile::encodeName(path).constData(), &status) != 0 || !S_ISREG(status.st_mode)) return {};
    return {UriOf(path), static_cast<qint64>(status.st_mtime), static_cast<qint64>(status.st_size)};
}

CThumbnailCache::Found CThumbnailCache::Read(const QString& folder, const Key& key) const {
    const QString path = folder + QLatin1Char('/') + FileNameOf(key.uri);
    const QHash<QByteArray, QByteArray> texts = TextsBeforePixels(path);
    // A stale thumbnail is never decoded.
    if (!Matches(texts, key)) return {};
    return {QImage(path, "png"), texts.value(kSoftwareKey.toLatin1()) == kSoftware.toLatin1()};
}

CThumbnailCache::Found CThumbnailCache::Find(const Key& key) const {
    if (key.uri.isEmpty()) return {};
    Found found = Read(NormalFolder(), key);
    return found.thumbnail.isNull() ? Read(root_ + QStringLiteral("/large"), key) : found;
}

bool CThumbnailCache::HasFailed(const Key& key) const {
    return !key.uri.isEmpty() && Matches(TextsBeforePixels(FailFolder() + QLatin1Char('/') + FileNameOf(key.uri)), key);
}

bool CThumbnailCache::Store(const Key& key, const QImage& thumbnail) const {
    return Write(NormalFolder(), key, thumbnail, true);
}

void CThumbnailCache::RecordFailure(const Key& key) const {
    QImage mark(1, 1, QImage::Format_ARGB32);
    mark.fill(Qt::transparent);
    Write(FailFolder(), key, mark, false);
}

bool CThumbnailCache::Write(const QString& folder, const Key& key, const QImage& image, bool withSize) const {
    if (key.uri.isEmpty() || !MakePrivateFolder(root_, folder)) return false;
    // Readers of the folder never see a half-written file: it gets its name only once whole.
    QTemporaryFile temporary(folder + QStringLiteral("/vantoro-XXXXXX.tmp"));
    if (!temporary.open()) return false;
    temporary.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    std::vector<std::pair<QString, QString>> texts = {{kUriKey, key.uri}, {kMTimeKey, QString::number(key.mtime)}};
    if (withSize) texts.emplace_back(kSizeKey, QString::number(key.size));
    texts.emplace_back(kSoftwareKey, kSoftware);
    const QByteArray png = PngWithTexts(image, texts);
    if (png.isEmpty() || temporary.write(png) != png.size() || !temporary.flush()) return false;
    const QString target = folder + QLatin1Char('/') + FileNameOf(key.uri);
    if (std::rename(QFile::encodeName(temporary.fileName()).constData(), QFile::encodeName(target).constData()) != 0)
        return false;
    temporary.setAutoRemove(false);
    return true;
}
