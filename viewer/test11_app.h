#pragma once

#include <QObject>
#include <QStringList>

#include <memory>

class CColourManagement;
class CMainFrame;
class CTest11Doc;
class CTest11View;

// The application: names the settings store, binds document, frame and view, processes the
// command line (`vtview [--no-splash] [FILE]`) and offers every event to the splash window
// first. It owns the three for its whole life.
class CTest11App : public QObject {
    Q_OBJECT
public:
    CTest11App();
    ~CTest11App() override;

    // Start-up: false when the command line is wrong, the frame cannot be created or the
    // file named on the command line cannot be opened. arguments[0] is the program.
    bool InitInstance(const QStringList& arguments);
    // Opens path as the document; on success it becomes the title and a recent file.
    bool OpenDocumentFile(const QString& path);

    CMainFrame* MainFrame() const { return frame_.get(); }
    CTest11Doc* Document() const { return document_.get(); }
    CTest11View* View() const { return view_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void RegisterCommands();
    void OnAppAbout();
    // Decodes the document's picture again, as the colour settings now say.
    void ShowPictureAgain();

    std::unique_ptr<CColourManagement> colour_;
    std::unique_ptr<CTest11Doc> document_;
    std::unique_ptr<CMainFrame> frame_;
    CTest11View* view_ = nullptr;
};
