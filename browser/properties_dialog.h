#pragma once

#include <QDialog>

class QFormLayout;

// The properties of a file or folder as the viewer shows them when no file manager offers
// its own: name, folder, size, dates and permissions, and for a file the picture's format,
// size and depth as the image library reads it.
class CPropertiesDialog : public QDialog {
    Q_OBJECT
public:
    explicit CPropertiesDialog(const QString& path, QWidget* parent = nullptr);

    // The value shown beside a label ("Name", "Size", "Picture", ...); empty when absent.
    QString Value(const QString& label) const;

private:
    void AddRow(const QString& label, const QString& value);
    void AddPictureRows(const QString& path);

    QFormLayout* form_;
};

// Shows the properties of path: the file manager's own window when one is offered over
// D-Bus, else CPropertiesDialog through the modal seam. The empty path stands for the
// desktop folder; a path that does not exist shows nothing.
void ShowPathProperties(const QString& path, QWidget* parent);
