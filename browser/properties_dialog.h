#pragma once

#include "imagelib/decode_context.h"
#include "platform/thread_hand_off.h"

#include <QDialog>
#include <QThreadPool>

class QFormLayout;
class QLabel;

// The properties of a file or folder as the viewer shows them when no file manager offers
// its own: name, folder, size, dates and permissions, and for a file the picture's format,
// size and depth as the header probe of a decoder helper reads them. The probe runs on a
// worker: its rows say "Reading..." until PictureRead.
class CPropertiesDialog : public QDialog {
    Q_OBJECT
public:
    explicit CPropertiesDialog(const QString& path, QWidget* parent = nullptr);
    // Cancels the probe and waits for its worker.
    ~CPropertiesDialog() override;

    // The value shown beside a label ("Name", "Size", "Picture", ...); empty when absent.
    QString Value(const QString& label) const;

signals:
    // The picture's rows are filled in.
    void PictureRead();

private:
    QLabel* AddRow(const QString& label, const QString& value);
    void StartPictureProbe(const QString& path);

    QFormLayout* form_;
    QLabel* picture_ = nullptr;
    QLabel* dimensions_ = nullptr;
    QLabel* depth_ = nullptr;
    CDecodeContext probe_;
    // Declared before the worker, so that the worker is done before the inbox goes.
    CThreadInbox inbox_;
    QThreadPool worker_;
};

// Shows the properties of path: the file manager's own window when one is offered over
// D-Bus, else CPropertiesDialog through the modal seam. The empty path stands for the
// desktop folder; a path that does not exist shows nothing.
void ShowPathProperties(const QString& path, QWidget* parent);
