#pragma once

#include "browser/namespace_item.h"

#include <QCollator>
#include <QHash>
#include <QString>

#include <optional>
#include <vector>

// Binds, enumerates and names the folders of the namespace the browser shows: a virtual
// root ("Desktop") whose entries are the user's home, desktop and pictures folders,
// "Computer" (the file system root) and the mounted volumes a user cares about, and below
// them the file system itself.
class CNamespaceAccess {
public:
    enum EnumFlag : unsigned {
        ENUM_FOLDERS = 1,
        ENUM_NONFOLDERS = 2,
        ENUM_INCLUDEHIDDEN = 4,
    };

    CNamespaceAccess();

    // The absolute id of path: the empty id for the empty path; nothing for a path that is
    // not absolute or does not exist.
    static std::optional<CItemId> ParsePath(const QString& path);
    // The file-system path of an id: empty for the root.
    static QString PathOf(const CItemId& id);
    // The folder the empty path stands for: the XDG desktop folder, or the home folder when
    // the desktop folder does not exist.
    static QString DesktopFolder();

    // The folder object of path: its absolute id. The empty path binds the root; a path that
    // is not a readable folder binds nothing.
    static std::optional<CItemId> BindFolder(const QString& path);

    // The objects of a folder that flags ask for, in the order the folder gives them.
    // Objects with an empty name are skipped. A folder that cannot be read has none.
    std::vector<CNamespaceItem> Enumerate(const CItemId& folder, unsigned flags);

    // Name order as Linux file managers show it: natural ("img2" before "img10") and
    // without regard to letter case; names equal that way fall back to their exact text.
    int Compare(const QString& a, const QString& b) const;
    void Sort(std::vector<CNamespaceItem>& items) const;

    // Whether the folder at path holds at least one folder (links to folders count).
    static bool HasSubFolder(const QString& path);

private:
    void EnumerateRoot(unsigned flags, std::vector<CNamespaceItem>& items);
    void EnumerateDirectory(const CItemId& folder, const QString& path, unsigned flags,
                            std::vector<CNamespaceItem>& items);
    QString FileIconName(const QString& fileName);

    QCollator collator_;
    QHash<QString, QString> iconBySuffix_;
};
