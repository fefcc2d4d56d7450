#pragma once

#include <QDockWidget>
#include <QSize>

#include <vector>

class QMainWindow;

// A docking bar the user sizes by dragging its edges, that shares its dock row with the
// other bars there, floats, and hides through the close button of its title strip. Qt's
// dock areas give the rows, splitters, floating and dragging; this class keeps the bar's
// own sizes (docked at the top or bottom, docked at the left or right, floating), its
// minimum size, and their persistence in the profile.
//
// Sizes are whole-bar sizes (title strip included). A docked size's thickness is the width
// at the left or right and the height at the top or bottom; its length is the other one.
class CSizingControlBar : public QDockWidget {
    Q_OBJECT
public:
    explicit CSizingControlBar(QWidget* parent = nullptr);
    ~CSizingControlBar() override;

    // Makes the bar a child of frame, hidden until the frame docks it. All three sizes
    // become defaultSize. A bar without gripper has no title strip and so no close button.
    virtual bool Create(const QString& title, QMainWindow* frame, QSize defaultSize, bool hasGripper, int id);
    int Id() const { return id_; }

    QSize MinSize() const { return minSize_; }
    void SetMinSize(QSize size);
    QSize HorzSize() const { return horzSize_; }
    QSize VertSize() const { return vertSize_; }
    QSize FloatSize() const { return floatSize_; }
    void SetHorzSize(QSize size) { horzSize_ = size; }
    void SetVertSize(QSize size) { vertSize_ = size; }
    void SetFloatSize(QSize size) { floatSize_ = size; }

    bool IsHorzDocked() const;
    bool IsVertDocked() const;

    // Section "<profileName>-SCBar-<id>", values sizeHorzCX, sizeHorzCY, sizeVertCX,
    // sizeVertCY, sizeFloatCX, sizeFloatCY. Loading keeps the current size for a missing
    // value and raises a value below the minimum to the minimum.
    virtual void LoadSizes(const QString& profileName);
    virtual void SaveSizes(const QString& profileName) const;
    static void LoadAllBarSizes(const QString& profileName);
    static void SaveAllBarSizes(const QString& profileName);
    // Every live sizing bar, in creation order.
    static const std::vector<CSizingControlBar*>& Bars();

    // Gives frame's docked sizing bars their sizes: bars of one dock area take the common
    // (largest) thickness, and each its own length along the area.
    static void LayOutDocks(QMainWindow* frame);

    // While on, the sizes the bar takes on screen (the user dragging an edge or the frame
    // being resized) become its sizes for its current place. The frame turns it on once
    // the stored sizes have been laid out, so start-up layout passes change nothing.
    void SetTrackSizes(bool on) { trackSizes_ = on; }

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    QMainWindow* Frame() const;
    Qt::DockWidgetArea Area() const;
    void OnTopLevelChanged(bool floating);

    int id_ = 0;
    QSize minSize_{33, 32};
    QSize horzSize_{200, 200};
    QSize vertSize_{200, 200};
    QSize floatSize_{200, 200};
    bool trackSizes_ = false;
};
