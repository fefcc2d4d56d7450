#pragma once

#include <QImage>
#include <QString>

// The thumbnail cache every desktop program shares, as the freedesktop Thumbnail Managing
// Standard lays it out under $XDG_CACHE_HOME/thumbnails: a thumbnail is a PNG named after
// the MD5 of the file's URI, valid while its "Thumb::MTime" equals the file's modification
// time. Reads "normal" (128 pixels) and "large" (256) made by any program; writes "normal";
// records the files this viewer cannot read under "fail/vantoro-image-viewer" so that they
// are not decoded again until they change.
//
// Stateless past its root folder: any thread may use it, several at once (every write goes
// to a temporary file that is renamed into place).
class CThumbnailCache {
public:
    static constexpr int kNormalSize = 128;

    // The cache under QStandardPaths' generic cache folder ($XDG_CACHE_HOME or ~/.cache).
    CThumbnailCache();

    // What identifies a file's thumbnail: its URI and modification time (seconds).
    struct Key {
        QString uri;
        qint64 mtime = 0;
        qint64 size = 0;
    };
    // The key of a file as it is now; an empty URI when the file cannot be read.
    static Key KeyOf(const QString& path);
    // file:///... with the path percent-encoded, as the standard asks.
    static QString UriOf(const QString& path);
    // The MD5 of the URI in hex, followed by ".png".
    static QString FileNameOf(const QString& uri);

    QString NormalFolder() const { return root_ + QStringLiteral("/normal"); }
    QString FailFolder() const { return root_ + QStringLiteral("/fail/vantoro-image-viewer"); }

    struct Found {
        QImage thumbnail;  // null when none is valid
        // Written by this viewer, which decoded the file to make it; another program's
        // thumbnail says nothing about whether this viewer can read the file.
        bool madeHere = false;
    };
    // The cached thumbnail of key, from "normal" or else "large".
    Found Find(const Key& key) const;
    // Writes thumbnail (at most 128 pixels on its long side) into "normal"; false when the
    // cache cannot be written.
    bool Store(const Key& key, const QImage& thumbnail) const;
    // Whether this viewer failed on the file as it is now.
    bool HasFailed(const Key& key) const;
    void RecordFailure(const Key& key) const;

private:
    Found Read(const QString& folder, const Key& key) const;
    bool Write(const QString& folder, const Key& key, const QImage& image, bool withSize) const;

    QString root_;
};
