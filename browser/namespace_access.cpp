#include "browser/namespace_access.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMimeDatabase>
#include <QStandardPaths>
#include <QStorageInfo>

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <memory>
#include <numeric>

namespace {

const QString kComputerRecord = QStringLiteral("/");

struct CloseDir {
    void operator()(DIR* dir) const { closedir(dir); }
};
using DirHandle = std::unique_ptr<DIR, CloseDir>;

DirHandle OpenDir(const QString& path) { return DirHandle(opendir(QFile::encodeName(path).constData())); }

bool IsDotOrDotDot(const char* name) { return name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0)); }

enum class EntryKind { Folder, File, Other };

// What an entry is once links are followed: only folders and regular files are objects
// of the namespace; devices, pipes and sockets would block or mislead a reader, and a
// dangling link leads nowhere.
EntryKind KindOf(const QString& folder, const dirent& entry, bool& isLink) {
    isLink = entry.d_type == DT_LNK;
    if (entry.d_type == DT_DIR) return EntryKind::Folder;
    if (entry.d_type == DT_REG) return EntryKind::File;
    if (entry.d_type != DT_LNK && entry.d_type != DT_UNKNOWN) return EntryKind::Other;
    const QByteArray path = QFile::encodeName(folder + QLatin1Char('/')) + entry.d_name;
    struct stat info{};
    if (entry.d_type == DT_UNKNOWN && lstat(path.constData(), &info) == 0) isLink = S_ISLNK(info.st_mode);
    if (stat(path.constData(), &info) != 0) return EntryKind::Other;
    if (S_ISDIR(info.st_mode)) return EntryKind::Folder;
    if (S_ISREG(info.st_mode)) return EntryKind::File;
    return EntryKind::Other;
}

bool IsFolder(const QString& path) {
    const QFileInfo info(path);
    return info.isDir();
}

// Mounted volumes a user cares about: those mounted for people (removable media, extra
// disks), not the system's own or pseudo file systems.
QStringList UserVolumes() {
    QStringList roots;
    for (const QStorageInfo& volume : QStorageInfo::mountedVolumes()) {
        if (!volume.isValid() || !volume.isReady()) continue;
        const QString root = volume.rootPath();
        for (const char* base : {"/media/", "/run/media/", "/mnt/"})
            if (root.startsWith(QLatin1String(base))) roots << root;
    }
    roots.sort();
    roots.removeDuplicates();
    return roots;
}

QString VolumeName(const QString& root) {
    const QString label = QStorageInfo(root).name();
    return label.isEmpty() ? QFileInfo(root).fileName() : label;
}

// The user's collation; the plain "C" locale has none, and compares code points only
// (no natural numbers), so it falls back to English collation.
QLocale CollationLocale() {
    const QLocale system;
    return system.language() == QLocale::C ? QLocale(QLocale::English, QLocale::UnitedStates) : system;
}

}  // namespace

CNamespaceAccess::CNamespaceAccess() : collator_(CollationLocale()) {
    collator_.setNumericMode(true);
    collator_.setCaseSensitivity(Qt::CaseInsensitive);
}

std::optional<CItemId> CNamespaceAccess::ParsePath(const QString& path) {
    if (path.isEmpty()) return CItemId{};
    if (!QDir::isAbsolutePath(path)) return std::nullopt;
    const QString clean = QDir::cleanPath(path);
    if (!QFileInfo::exists(clean)) return std::nullopt;
    return CItemId{kComputerRecord} + clean.split(QLatin1Char('/'), Qt::SkipEmptyParts);
}

QString CNamespaceAccess::PathOf(const CItemId& id) {
    if (id.isEmpty()) return {};
    QString path = id.front();
    for (qsizetype i = 1; i < id.size(); ++i) {
        if (!path.endsWith(QLatin1Char('/'))) path += QLatin1Char('/');
        path += id[i];
    }
    return path;
}

QString CNamespaceAccess::DesktopFolder() {
    const QString desktop = QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
    return !desktop.isEmpty() && IsFolder(desktop) ? QDir::cleanPath(desktop) : QDir::homePath();
}

std::optional<CItemId> CNamespaceAccess::BindFolder(const QString& path) {
    if (path.isEmpty()) return CItemId{};
    const QFileInfo info(path);
    if (!info.isDir() || !info.isReadable() || !info.isExecutable()) return std::nullopt;
    return ParsePath(path);
}

std::vector<CNamespaceItem> CNamespaceAccess::Enumerate(const CItemId& folder, unsigned flags) {
    std::vector<CNamespaceItem> items;
    if (folder.isEmpty())
        EnumerateRoot(flags, items);
    else
        EnumerateDirectory(folder, PathOf(folder), flags, items);
    return items;
}

void CNamespaceAccess::EnumerateRoot(unsigned flags, std::vector<CNamespaceItem>& items) {
    if (flags & ENUM_FOLDERS) {
        QStringList seen;
        const auto addFolder = [&](const QString& path, const QString& name, const QString& icon, uint32_t extra) {
            if (path.isEmpty() || seen.contains(path) || !IsFolder(path)) return;
            seen << path;
            CNamespaceItem item;
            item.relativeId = path;
            item.displayName = name.isEmpty() ? path : name;
            item.attributes = NS_FILESYSTEM | NS_FOLDER | extra;
            if (!(extra & NS_HASSUBFOLDER) && HasSubFolder(path)) item.attributes |= NS_HASSUBFOLDER;
            item.iconName = icon;
            item.openIconName = icon;
            items.push_back(item);
        };
        const QString home = QDir::homePath();
        addFolder(home, QFileInfo(home).fileName(), QStringLiteral("user-home"), 0);
        const QString desktop = DesktopFolder();
        addFolder(desktop, QFileInfo(desktop).fileName(), QStringLiteral("user-desktop"), 0);
        const QString pictures = QStandardPaths::writableLocation(QStandardPaths::PicturesLocation);
        addFolder(QDir::cleanPath(pictures), QFileInfo(pictures).fileName(), QStringLiteral("folder-pictures"), 0);
        addFolder(kComputerRecord, QStringLiteral("Computer"), QStringLiteral("computer"),
                  NS_FILESYSANCESTOR | NS_HASSUBFOLDER);
        for (const QString& root : UserVolumes())
            addFolder(root, VolumeName(root), QStringLiteral("drive-removable-media"), 0);
    }
    if (flags & ENUM_NONFOLDERS) {
        // The files lying on the desktop belong to the root, as the desktop shows them.
        const QString desktop = DesktopFolder();
        const std::optional<CItemId> desktopId = ParsePath(desktop);
        if (!desktopId) return;
        std::vector<CNamespaceItem> files;
        EnumerateDirectory(*desktopId, desktop, flags & ~ENUM_FOLDERS, files);
        for (CNamespaceItem& file : files) {
            file.relativeId = PathOf(file.AbsoluteId());
            file.parentId.clear();
            items.push_back(std::move(file));
        }
    }
}

void CNamespaceAccess::EnumerateDirectory(const CItemId& folder, const QString& path, unsigned flags,
                                          std::vector<CNamespaceItem>& items) {
    const DirHandle dir = OpenDir(path);
    if (!dir) return;
    while (const dirent* entry = readdir(dir.get())) {
        if (entry->d_name[0] == 0 || IsDotOrDotDot(entry->d_name)) continue;
        const bool hidden = entry->d_name[0] == '.';
        if (hidden && !(flags & ENUM_INCLUDEHIDDEN)) continue;
        bool isLink = false;
        const EntryKind kind = KindOf(path, *entry, isLink);
        if (kind == EntryKind::Other) continue;
        const bool folderEntry = kind == EntryKind::Folder;
        if (!(flags & (folderEntry ? ENUM_FOLDERS : ENUM_NONFOLDERS))) continue;

        CNamespaceItem item;
        item.parentId = folder;
        item.relativeId = QFile::decodeName(entry->d_name);
        item.displayName = item.relativeId;
        item.attributes = NS_FILESYSTEM | (hidden ? NS_HIDDEN : 0u) | (isLink ? NS_LINK : 0u);
        if (folderEntry) {
            item.attributes |= NS_FOLDER;
            if (HasSubFolder(path + QLatin1Char('/') + item.relativeId)) item.attributes |= NS_HASSUBFOLDER;
            item.iconName = QStringLiteral("folder");
            item.openIconName = QStringLiteral("folder-open");
        } else {
            item.iconName = FileIconName(item.relativeId);
            item.openIconName = item.iconName;
        }
        items.push_back(std::move(item));
    }
}

QString CNamespaceAccess::FileIconName(const QString& fileName) {
    const qsizetype dot = fileName.lastIndexOf(QLatin1Char('.'));
    const QString suffix = dot < 0 ? QString() : fileName.mid(dot + 1).toLower();
    const auto known = iconBySuffix_.constFind(suffix);
    if (known != iconBySuffix_.constEnd()) return *known;
    const QString icon = QMimeDatabase().mimeTypeForFile(fileName, QMimeDatabase::MatchExtension).iconName();
    iconBySuffix_.insert(suffix, icon);
    return icon;
}

bool CNamespaceAccess::HasSubFolder(const QString& path) {
    const DirHandle dir = OpenDir(path);
    if (!dir) return false;
    while (const dirent* entry = readdir(dir.get())) {
        if (IsDotOrDotDot(entry->d_name)) continue;
        bool isLink = false;
        if (KindOf(path, *entry, isLink) == EntryKind::Folder) return true;
    }
    return false;
}

int CNamespaceAccess::Compare(const QString& a, const QString& b) const {
    const int order = collator_.compare(a, b);
    if (order != 0) return order;
    return a < b ? -1 : (b < a ? 1 : 0);
}

void CNamespaceAccess::Sort(std::vector<CNamespaceItem>& items) const {
    // One sort key per name: comparing keys is far cheaper than collating strings again.
    std::vector<QCollatorSortKey> keys;
    keys.reserve(items.size());
    for (const CNamespaceItem& item : items) keys.push_back(collator_.sortKey(item.displayName));
    std::vector<size_t> order(items.size());
    std::iota(order.begin(), order.end(), size_t{0});
    std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) {
        const int byKey = keys[a].compare(keys[b]);
        if (byKey != 0) return byKey < 0;
        return items[a].displayName < items[b].displayName;
    });
    std::vector<CNamespaceItem> sorted;
    sorted.reserve(items.size());
    for (size_t index : order) sorted.push_back(std::move(items[index]));
    items = std::move(sorted);
}
