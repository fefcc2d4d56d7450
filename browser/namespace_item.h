#pragma once

#include <QString>
#include <QStringList>

#include <cstdint>

// An item id: the records that lead from the namespace root ("Desktop") to an item. Each
// entry of the root (the home, desktop and pictures folders, "Computer", the mounted volumes
// and the files lying on the desktop) has its absolute path as its one record; below those,
// every record is one file name. A path parses through "Computer", whose record is "/", so
// "/home/ann/Pictures" is {"/", "home", "ann", "Pictures"}. The empty id is the root.
using CItemId = QStringList;

// The attribute word of an item.
enum NamespaceAttribute : uint32_t {
    NS_FILESYSTEM = 1u << 0,       // a file or folder of the file system
    NS_FOLDER = 1u << 1,           // can be browsed into (a symbolic link to a folder too)
    NS_HASSUBFOLDER = 1u << 2,     // holds at least one folder
    NS_FILESYSANCESTOR = 1u << 3,  // a container of the whole file system ("Computer")
    NS_HIDDEN = 1u << 4,           // the name starts with a dot
    NS_LINK = 1u << 5,             // a symbolic link
};

// The record of one namespace object: where it was enumerated, what it is and how it shows.
struct CNamespaceItem {
    CItemId parentId;      // the absolute id of the folder that enumerated it
    QString relativeId;    // its one record within that folder
    uint32_t attributes = 0;
    QString displayName;   // the file name; "Computer" and volume labels at the root
    QString iconName;      // freedesktop icon name, e.g. "folder", "image-jpeg"
    QString openIconName;  // the icon while selected (folders open)

    CItemId AbsoluteId() const { return parentId + CItemId{relativeId}; }
    bool Is(uint32_t attribute) const { return (attributes & attribute) != 0; }
};
