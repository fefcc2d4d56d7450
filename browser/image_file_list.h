#pragma once

#include "browser/list_control.h"
#include "browser/namespace_access.h"

#include <QHash>
#include <QIcon>
#include <QStringList>

#include <optional>

// The Names page of the file list bar: one row per image file of the current folder, in
// name order, each row holding the file's namespace record. Every other view of the
// folder's files (thumbnails, slide show, next and previous, delete) goes by its row index.
class CImageFileList : public CListControl {
    Q_OBJECT
public:
    static constexpr int kControlId = 199;

    explicit CImageFileList(QWidget* parent = nullptr);

    // Replaces the extension list by the '|'-separated pieces of text ("jpg|png"): a '|'
    // right at the start of what is left adds nothing, and the piece after the last '|' is
    // added even when empty. The empty text empties the list, and an empty list accepts
    // every file.
    void SetFilter(const QString& text);
    const QStringList& Filter() const { return extensions_; }
    // Whether the extension of path's file name (the text after its last '.', empty without
    // one) is one of the list's, whatever the letter case.
    virtual bool MatchesFilter(const QString& path) const;

    // Whether SetFolder lists hidden files (names starting with a dot); they are listed
    // unless the user turned them off.
    void SetShowHidden(bool show) { showHidden_ = show; }
    bool ShowsHidden() const { return showHidden_; }

    // Refills the list with the image files of the folder at path (the empty path: the
    // desktop), hidden ones included as ShowsHidden says, folders never. A path that is not a folder lists the
    // desktop's files instead; a path that does not exist returns false and leaves the
    // rows as they were.
    bool SetFolder(const QString& path);
    // The id of the folder last listed (nothing before the first fill).
    const std::optional<CItemId>& CurrentFolder() const { return currentFolder_; }

    // The full path of a row, as it is on disk; empty for a row without a record.
    QString PathAt(int row) const;
    const CNamespaceItem* ItemAt(int row) const;

protected:
    // Consulted for every candidate row; accepts everything.
    virtual bool AcceptItem(const CNamespaceItem& item);
    // A double click does nothing beyond the selection its first click made.
    void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
    QIcon IconFor(const QString& iconName);

    QStringList extensions_;
    std::optional<CItemId> currentFolder_;
    CNamespaceAccess namespace_;
    bool showHidden_ = true;
    QHash<QString, QIcon> icons_;
};
