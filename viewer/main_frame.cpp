#include "viewer/main_frame.h"

#include "browser/directory_tree_bar.h"
#include "browser/folder_watcher.h"
#include "browser/file_list_bar.h"
#include "browser/image_file_list.h"
#include "browser/list_control.h"
#include "browser/namespace_tree.h"
#include "browser/tab_view_container.h"
#include "browser/viewer_model.h"
#include "codecs/format_registry.h"
#include "platform/help_window.h"
#include "platform/lock_keys.h"
#include "platform/modal_seam.h"
#include "platform/profile.h"
#include "viewer/app_info.h"
#include "viewer/command_catalog.h"
#include "viewer/command_ids.h"
#include "viewer/display_layout.h"
#include "viewer/picture_status_panes.h"
#include "viewer/sizing_control_bar.h"
#include "viewer/slide_show.h"
#include "viewer/splash_wnd.h"
#include "viewer/test11_view.h"
#include "viewer/wallpaper.h"

#include <QAbstractScrollArea>
#include <QAction>
#include <QCloseEvent>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLabel>
#include <QLayout>
#include <QMenuBar>
#include <QMimeData>
#include <QScreen>
#include <QStatusBar>
#include <QToolBar>

namespace {

const char* const kBarState = "BarState";
const char* const kSettings = "Settings";
const char* const kHelpContents = "qrc:/help/index.html";
// Every format the image library reads, as the names list's filter ("jpg|jpeg|...").
QString ImageExtensionFilter() {
    QStringList extensions;
    for (const std::string& extension : AllImageExtensions()) extensions << QString::fromStdString(extension);
    return extensions.join(QLatin1Char('|'));
}

// The open dialog's filters: every picture first, then one line per format, then anything.
QStringList OpenDialogFilters() {
    QStringList all;
    QStringList perFormat;
    for (const FormatEntry& entry : FormatRegistry()) {
        QStringList patterns;
        for (const std::string_view extension : entry.extensions)
            patterns << QStringLiteral("*.") + QString::fromLatin1(extension.data(), static_cast<int>(extension.size()));
        if (patterns.isEmpty()) continue;
        all << patterns;
        // Names on disk are case-sensitive here: a camera's "IMG_0001.JPG" is a picture too.
        for (const QString& pattern : std::as_const(patterns)) all << pattern.toUpper();
        perFormat << QStringLiteral("%1 (%2)").arg(QString::fromLatin1(entry.name), patterns.join(QLatin1Char(' ')));
    }
    all.removeDuplicates();
    QStringList filters{QStringLiteral("All pictures (%1)").arg(all.join(QLatin1Char(' ')))};
    filters << perFormat << QStringLiteral("All files (*)");
    return filters;
}

// The first local file or folder among dropped URLs.
QString DroppedPath(const QMimeData* data) {
    if (!data || !data->hasUrls()) return {};
    for (const QUrl& url : data->urls())
        if (url.isLocalFile()) return url.toLocalFile();
    return {};
}

constexpr QSize kBarMinimum{100, 100};
constexpr QSize kBarDefault{200, 100};
constexpr QSize kBarResetSize{200, 200};
constexpr int kIndicatorPollMs = 250;

const char* const kIndicatorTexts[3] = {"CAP", "NUM", "SCRL"};

QString BarName(int id) { return QStringLiteral("Bar-%1").arg(id); }

// The slide show steps through the Names list; the Thumbnails page follows when it is active.
class CNamesSlideShowList : public CSlideShowList {
public:
    explicit CNamesSlideShowList(CFileListBar& files) : files_(files) {}

    int RowCount() const override { return files_.NamesList()->count(); }
    void Focus() override { files_.NamesList()->setFocus(); }
    void SelectNextRow() override { files_.NamesList()->SelectNextRow(); }
    void SelectFirstRow() override { files_.NamesList()->SelectFirstRow(); }
    void FollowOnThumbnails(int row) override {
        if (files_.ThumbnailsActive()) files_.ThumbnailList()->SelectRow(row);
    }

private:
    CFileListBar& files_;
};

}  // namespace

CMainFrame::CMainFrame(QWidget* parent) : QMainWindow(parent), commands_(this) {
    setObjectName(QStringLiteral("MainFrame"));
    setAcceptDrops(true);
    SetDocumentTitle({});
    CreateActions();
}

CMainFrame::~CMainFrame() {
    // A frame that never finished creation has not read the settings: writing would lose them.
    if (ready_) WriteSettings();
    // The slide show reads the model as it goes, which dies with the frame's members.
    delete slideShow_;
}

bool CMainFrame::LoadFrame(QWidget* view) {
    RestoreGeometry();
    if (view) setCentralWidget(view);

    CreateMenus();
    CreateToolBar();
    CreateStatusBar();
    setDockOptions(QMainWindow::AnimatedDocks | QMainWindow::AllowNestedDocks | QMainWindow::AllowTabbedDocks);
    if (!CreateSizingBars()) return false;
    if (auto* imageView = qobject_cast<CTest11View*>(view)) new CPictureStatusPanes(*statusBar(), *imageView, *fileList_);
    slideShow_ = new CSlideShow(*this, this);
    slideShowList_ = std::make_unique<CNamesSlideShowList>(*fileList_);
    slideShow_->SetList(slideShowList_.get());
    RegisterCommands();

    fileList_->NamesList()->setFont(directoryTree_->Tree()->font());

    LoadBarState();
    // Whatever was saved, both bars are there after start-up.
    if (directoryBar_->isHidden()) DockBarLeft(directoryBar_);
    if (fileListBar_->isHidden()) DockBarLeft(fileListBar_);

    fileList_->NamesList()->SetFilter(ImageExtensionFilter());
    ReadSettings();
    // The last folder is listed while the frame is not ready yet, so no image shows until
    // the user selects one.
    SelectLastDirectory();
    ready_ = true;
    fileList_->NamesList()->setFocus();
    commands_.UpdateAll();
    return true;
}

void CMainFrame::SelectLastDirectory() { directoryTree_->Tree()->SelectPath(model_.g_strLastDirectory, false); }

void CMainFrame::RestoreGeometry() {
    const QString section = QString::fromLatin1(kSettings);
    const QByteArray saved = Profile::GetBinary(section, QStringLiteral("WindowGeometry"));
    if (saved.isEmpty() || !restoreGeometry(saved)) {
        // The first start fills the work area. Maximised, the window manager keeps the
        // title bar on the screen, whatever frame it draws around the window.
        PlaceOnWorkArea();
        setWindowState(Qt::WindowMaximized);
        return;
    }
    // A screen that shrank or went away since must still show the whole title bar.
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        QRect frame = frameGeometry();
        frame.setSize(frame.size().boundedTo(area.size()));
        frame.moveLeft(std::clamp(frame.left(), area.left(), area.right() - frame.width() + 1));
        frame.moveTop(std::clamp(frame.top(), area.top(), area.bottom() - frame.height() + 1));
        if (frame != frameGeometry()) SetFrameGeometry(frame);
    }
    if (Profile::GetInt(section, QStringLiteral("WindowMaximized"), 0) != 0) setWindowState(Qt::WindowMaximized);
    restoredGeometry_ = true;
}

void CMainFrame::PlaceOnWorkArea() {
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen) return;
    // The whole work area, whatever its origin: a panel at the top or left must not push
    // the window's far edges off the screen. Once the window manager's frame is known,
    // the frame rather than the client fills the work area.
    SetFrameGeometry(screen->availableGeometry());
}

void CMainFrame::SetFrameGeometry(const QRect& frame) {
    const QMargins border(geometry().left() - frameGeometry().left(), geometry().top() - frameGeometry().top(),
                          frameGeometry().right() - geometry().right(), frameGeometry().bottom() - geometry().bottom());
    setGeometry(frame.marginsRemoved(border));
}

void CMainFrame::SetDocumentTitle(const QString& name) {
    const QString document = name.isEmpty() ? QString::fromLatin1(AppInfo::kUntitled) : name;
    setWindowTitle(document + QStringLiteral(" - ") + QString::fromLatin1(AppInfo::kMainTitle));
}

void CMainFrame::CreateActions() {
    for (const CommandInfo& info : AllCommands()) {
        const QString menuText = QString::fromLatin1(info.menuText);
        auto* action = new QAction(this);
        action->setText(menuText.isEmpty() ? ToolTipText(info).trimmed() : menuText);
        action->setStatusTip(StatusPrompt(info));
        action->setToolTip(ToolTipText(info).trimmed());
        action->setIcon(CommandIcon(info));
        action->setIconVisibleInMenu(false);
        commands_.AddAction(info.id, action);
        addAction(action);
    }
    for (const Accelerator& accelerator : Accelerators()) {
        QAction* action = commands_.Action(accelerator.id);
        QList<QKeySequence> keys = action->shortcuts();
        keys << accelerator.keys;
        action->setShortcuts(keys);
        action->setShortcutContext(Qt::WindowShortcut);
    }
}

void CMainFrame::AddMenuItem(QMenu* menu, int id) { menu->addAction(commands_.Action(id)); }

void CMainFrame::CreateMenus() {
    QMenuBar* bar = menuBar();
    const auto addMenu = [this](QMenu* parent, const char* title) {
        QMenu* menu = parent->addMenu(QString::fromLatin1(title));
        commands_.WatchMenu(menu);
        return menu;
    };

    QMenu* file = bar->addMenu(QStringLiteral("&File"));
    commands_.WatchMenu(file);
    AddMenuItem(file, ID_FILE_OPEN);
    recentMenu_ = addMenu(file, "Open &Recent");
    for (int id = ID_FILE_MRU_FIRST; id < ID_FILE_MRU_FIRST + Profile::kRecentFileCount; ++id) {
        auto* action = new QAction(recentMenu_);
        commands_.AddAction(id, action);
        recentMenu_->addAction(action);
    }
    recentMenu_->addSeparator();
    AddMenuItem(recentMenu_, ID_CLEAR_RECENT_FILES);
    connect(recentMenu_, &QMenu::aboutToShow, this, &CMainFrame::FillRecentMenu);
    FillRecentMenu();
    file->addSeparator();
    for (int id : {ID_FILE_PRINT, ID_FILE_PRINT_PREVIEW, ID_FILE_PRINT_SETUP}) AddMenuItem(file, id);
    file->addSeparator();
    for (int id : {ID_DELETE_FILE, ID_FILE_PROPERTIES}) AddMenuItem(file, id);
    file->addSeparator();
    AddMenuItem(file, ID_FILE_SEND_MAIL);
    file->addSeparator();
    AddMenuItem(file, ID_APP_EXIT);

    QMenu* edit = bar->addMenu(QStringLiteral("&Edit"));
    commands_.WatchMenu(edit);
    AddMenuItem(edit, ID_EDIT_COPY);
    edit->addSeparator();
    QMenu* wallpaper = addMenu(edit, "Set Wall Paper");
    for (int id : {ID_WALLPAPER_PROPORTIONAL, ID_WALLPAPER_CENTERED, ID_WALLPAPER_STRETCHED, ID_WALLPAPER_TILED})
        AddMenuItem(wallpaper, id);
    // Turning the picture shown (the view's commands).
    edit->addSeparator();
    for (int id : {ID_ROTATE_LEFT, ID_ROTATE_RIGHT, ID_FLIP_HORIZONTALLY, ID_FLIP_VERTICALLY}) AddMenuItem(edit, id);

    QMenu* view = bar->addMenu(QStringLiteral("&View"));
    commands_.WatchMenu(view);
    for (int id : {ID_VIEW_TOOLBAR, ID_VIEW_STATUS_BAR, ID_DIRECTORY_TREE_BAR, ID_FILE_LIST_BAR}) AddMenuItem(view, id);
    view->addSeparator();
    for (int id : {ID_LIST_BY_NAMES, ID_THUMBNAILS}) AddMenuItem(view, id);
    view->addSeparator();
    for (int id : {ID_SLIDE_SHOW, ID_SLIDE_SHOW_FULL_SCREEN, ID_FULL_SCREEN}) AddMenuItem(view, id);
    QMenu* delay = addMenu(view, "Slide Show Time Delay");
    for (int id : {ID_DELAY_1, ID_DELAY_2, ID_DELAY_5, ID_DELAY_10, ID_DELAY_15, ID_DELAY_20, ID_DELAY_30})
        AddMenuItem(delay, id);
    view->addSeparator();
    AddMenuItem(view, ID_REFRESH);
    AddMenuItem(view, ID_SHOW_HIDDEN_FILES);
    AddMenuItem(view, ID_PAUSE_ANIMATION);
    view->addSeparator();
    AddMenuItem(view, ID_COLOUR_MANAGEMENT);
    // How transparent parts show (the view's commands).
    QMenu* transparency = addMenu(view, "Transparency");
    for (int id : {ID_TRANSPARENCY_CHECKERBOARD, ID_TRANSPARENCY_BACKGROUND}) AddMenuItem(transparency, id);
    view->addSeparator();
    AddMenuItem(view, ID_DEFAULT_BARS);

    QMenu* zoom = bar->addMenu(QStringLiteral("&Zoom"));
    commands_.WatchMenu(zoom);
    for (int id : {ID_STRETCH_TO_FILL, ID_PROPORTIONAL_STRETCH, ID_TILE}) AddMenuItem(zoom, id);
    zoom->addSeparator();
    for (int id : {ID_ZOOM_IN, ID_ZOOM_OUT}) AddMenuItem(zoom, id);

    QMenu* help = bar->addMenu(QStringLiteral("&Help"));
    commands_.WatchMenu(help);
    AddMenuItem(help, ID_HELP_CONTENTS);
    help->addSeparator();
    AddMenuItem(help, ID_APP_ABOUT);
}

void CMainFrame::CreateToolBar() {
    toolBar_ = new QToolBar(QStringLiteral("Standard"), this);
    toolBar_->setObjectName(BarName(IDW_TOOLBAR));
    toolBar_->setToolButtonStyle(Qt::ToolButtonIconOnly);
    toolBar_->setAllowedAreas(Qt::AllToolBarAreas);
    const std::initializer_list<std::initializer_list<int>> groups = {
        {ID_FILE_PRINT, ID_FILE_PRINT_PREVIEW, ID_FILE_SEND_MAIL},
        {ID_DELETE_FILE, ID_EDIT_COPY},
        {ID_NEXT_IMAGE, ID_PREVIOUS_IMAGE},
        {ID_DIRECTORY_TREE_BAR, ID_FILE_LIST_BAR},
        {ID_SLIDE_SHOW, ID_SLIDE_SHOW_FULL_SCREEN, ID_STOP_SLIDE_SHOW},
        {ID_PROPORTIONAL_STRETCH, ID_STRETCH_TO_FILL, ID_TILE, ID_ZOOM_IN, ID_ZOOM_OUT, ID_THUMBNAILS, ID_LIST_BY_NAMES},
        {ID_HELP_CONTENTS},
    };
    bool first = true;
    for (const auto& group : groups) {
        if (!first) toolBar_->addSeparator();
        first = false;
        for (int id : group) toolBar_->addAction(commands_.Action(id));
    }
    addToolBar(Qt::TopToolBarArea, toolBar_);
}

void CMainFrame::CreateStatusBar() {
    QStatusBar* bar = statusBar();
    bar->setObjectName(BarName(IDW_STATUS_BAR));
    // The prompt pane: "Ready" unless a command's prompt covers it.
    promptPane_ = new QLabel(QStringLiteral("Ready"), bar);
    bar->addWidget(promptPane_, 1);
    for (int i = 0; i < 3; ++i) {
        auto* pane = new QLabel(bar);
        pane->setAlignment(Qt::AlignCenter);
        pane->setFrameShape(QFrame::Panel);
        pane->setFrameShadow(QFrame::Sunken);
        pane->setMinimumWidth(pane->fontMetrics().horizontalAdvance(QLatin1String(kIndicatorTexts[i])) + 12);
        bar->addPermanentWidget(pane);
        indicators_[i] = pane;
    }
    indicatorTimer_.setInterval(kIndicatorPollMs);
    connect(&indicatorTimer_, &QTimer::timeout, this, &CMainFrame::UpdateIndicators);
    indicatorTimer_.start();
    UpdateIndicators();
}

void CMainFrame::UpdateIndicators() {
    const std::optional<LockKeyState> state = QueryLockKeys();
    const bool on[3] = {state && state->capsLock, state && state->numLock, state && state->scrollLock};
    for (int i = 0; i < 3; ++i) indicators_[i]->setText(on[i] ? QLatin1String(kIndicatorTexts[i]) : QString());
}

bool CMainFrame::CreateSizingBars() {
    directoryBar_ = new CSizingControlBar(this);
    fileListBar_ = new CSizingControlBar(this);
    if (!directoryBar_->Create(QStringLiteral("Directory"), this, kBarDefault, true, IDW_DIRECTORY_BAR) ||
        !fileListBar_->Create(QStringLiteral("File List"), this, kBarDefault, true, IDW_FILE_LIST_BAR))
        return false;
    directoryTree_ = new CDirectoryTreeBar(model_, directoryBar_);
    directoryBar_->setWidget(directoryTree_);
    fileList_ = new CFileListBar(model_, fileListBar_);
    fileListBar_->setWidget(fileList_);
    fileList_->SetDockingBars(directoryBar_, fileListBar_);
    for (CSizingControlBar* bar : {directoryBar_, fileListBar_}) {
        bar->SetMinSize(kBarMinimum);
        addDockWidget(Qt::LeftDockWidgetArea, bar);
        bar->show();
    }
    connect(directoryTree_->Tree(), &CNamespaceTree::SelectionChanged, this, &CMainFrame::OnFolderChanged);
    watcher_ = new CFolderWatcher(this);
    connect(watcher_, &CFolderWatcher::Changed, this, &CMainFrame::OnFoldersChanged);
    for (auto signal : {&QTreeWidget::itemExpanded, &QTreeWidget::itemCollapsed})
        connect(directoryTree_->Tree(), signal, this, &CMainFrame::WatchShownFolders);
    connect(fileList_, &CFileListBar::ItemChanged, this, &CMainFrame::OnImageSelected);
    connect(fileList_, &CFileListBar::ViewsNeedUpdate, this, &CMainFrame::UpdateViewsRequested);
    return true;
}

void CMainFrame::CreateBarMenus() {
    struct MenuItem {
        int id;
        const char* text;
    };
    const auto add = [this](QMenu* menu, std::initializer_list<MenuItem> items) {
        for (const MenuItem& item : items) {
            if (item.id == 0) {
                menu->addSeparator();
                continue;
            }
            commands_.AddAction(item.id, menu->addAction(QString::fromLatin1(item.text)));
        }
    };

    // Menu 161, the file list bar's.
    auto* files = new QMenu(this);
    commands_.WatchMenu(files);
    add(files, {{ID_DEFAULT_BARS, "Default View"}});
    QMenu* wallpaper = files->addMenu(QStringLiteral("Set Wall Paper"));
    commands_.WatchMenu(wallpaper);
    add(wallpaper, {{ID_WALLPAPER_PROPORTIONAL, "Proportional Stretched"},
                    {ID_WALLPAPER_CENTERED, "Centered"},
                    {ID_WALLPAPER_STRETCHED, "Stretched"},
                    {ID_WALLPAPER_TILED, "Tiled"}});
    add(files, {{0, nullptr}, {ID_FILE_PROPERTIES, "Properties ..."}});
    fileList_->SetContextMenu(files);

    // Menu 166, the directory tree bar's.
    auto* folders = new QMenu(this);
    commands_.WatchMenu(folders);
    add(folders, {{ID_DEFAULT_BARS, "Default View"}, {0, nullptr}, {ID_FOLDER_PROPERTIES, "Properties ..."}});
    directoryTree_->SetContextMenu(folders);
}

void CMainFrame::OnFolderChanged() {
    CImageFileList* names = fileList_->NamesList();
    model_.g_bFolderChanged = true;
    const QString path = directoryTree_->Tree()->PathOf(directoryTree_->Tree()->currentItem());
    if (fileListBar_->isHidden()) DockBarLeft(fileListBar_);
    names->SetFolder(path);
    if (names->count() > 0) {
        names->setEnabled(true);
        if (ready_ && !pendingFile_.isEmpty()) {
            SelectFileRow(pendingFile_);
        } else if (ready_) {
            // The folder's first image shows without a click, a lone image too.
            if (names->count() > 1)
                slideShow_->Step();
            else
                names->SelectFirstRow();
        }
    } else {
        names->setEnabled(false);
        model_.g_bImageLoaded = false;
    }
    names->setFocus();
    if (ready_) emit UpdateViewsRequested();
    RecalcLayout();
    model_.g_strLastDirectory = path;
    WatchShownFolders();

    if (fileList_->ThumbnailsActive()) {
        fileList_->BuildThumbnails();
        if (names->count() > 0) {
            fileList_->ThumbnailList()->setFocus();
            const int opened = pendingFile_.isEmpty() ? -1 : names->SelectedIndex();
            if (opened >= 0)
                fileList_->ThumbnailList()->SelectRow(opened);
            else
                fileList_->SelectFirstReadableRow();
        }
    }
    pendingFile_.clear();
}

void CMainFrame::OnImageSelected(int, int row, int newState) {
    if (newState != (LVIS_SELECTED | LVIS_FOCUSED)) return;
    slideShow_->SetPosition(row);
    // The path goes to the document as it is on disk: names are case-sensitive here.
    const QString path = fileList_->NamesList()->PathAt(row);
    if (path.isEmpty()) return;
    // A zoom does not carry over to the next image; stretch and tile modes do. Dropped
    // before the image opens, so that the view lays it out once.
    if (model_.StretchState.IsZoom() && model_.StretchState.ZoomPercent() > 10)
        model_.StretchState = DisplayMode::Natural();
    emit OpenDocumentRequested(path);
    model_.g_strCurrentFile = path;
}

bool CMainFrame::OpenPath(const QString& path) {
    const QFileInfo info(path);
    if (!info.exists()) {
        ViewerMessageBox(QStringLiteral("Cannot open %1:\nNo such file or folder.").arg(info.absoluteFilePath()),
                         QMessageBox::Ok, QMessageBox::Warning);
        return false;
    }
    const QString folder = info.isDir() ? info.absoluteFilePath() : info.absolutePath();
    pendingFile_ = info.isDir() ? QString() : info.absoluteFilePath();
    CNamespaceTree* tree = directoryTree_->Tree();
    if (QDir(tree->PathOf(tree->currentItem())) == QDir(folder)) {
        // Listed already: only the row changes (a folder shows its first picture again).
        if (pendingFile_.isEmpty())
            OnFolderChanged();
        else
            SelectFileRow(pendingFile_);
        pendingFile_.clear();
        return true;
    }
    if (!tree->SelectPath(folder, false)) {
        // A folder the tree cannot reach: the picture still shows, without its neighbours.
        const QString file = pendingFile_;
        pendingFile_.clear();
        if (file.isEmpty()) {
            ViewerMessageBox(QStringLiteral("Cannot open %1:\nThe folder cannot be listed.").arg(folder),
                             QMessageBox::Ok, QMessageBox::Warning);
            return false;
        }
        emit OpenDocumentRequested(file);
        model_.g_strCurrentFile = file;
        return true;
    }
    // Selecting the folder listed it (OnFolderChanged), which selected the picture.
    pendingFile_.clear();
    return true;
}

bool CMainFrame::ReopenLastPicture() {
    const QString last = Profile::GetString(QString::fromLatin1(kSettings), QStringLiteral("LastPicture"));
    if (last.isEmpty() || !QFileInfo(last).isFile()) return false;
    return OpenPath(last);
}

void CMainFrame::SelectFileRow(const QString& path) {
    CImageFileList* names = fileList_->NamesList();
    int row = -1;
    const QString wanted = QDir::cleanPath(QFileInfo(path).absoluteFilePath());
    for (int i = 0; i < names->count() && row < 0; ++i)
        if (QDir::cleanPath(names->PathAt(i)) == wanted) row = i;
    if (row < 0 || row == names->SelectedIndex()) {
        // Not listed (a name the list leaves out), or selected already: opened directly.
        emit OpenDocumentRequested(path);
        model_.g_strCurrentFile = path;
        return;
    }
    names->setFocus();
    names->SelectRow(row);
    if (fileList_->ThumbnailsActive()) fileList_->ThumbnailList()->SelectRow(row);
}

void CMainFrame::OpenFileDialog() {
    QFileDialog dialog(this, QStringLiteral("Open"));
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setNameFilters(OpenDialogFilters());
    const QString current = model_.g_strCurrentFile;
    dialog.setDirectory(current.isEmpty() ? model_.g_strLastDirectory : QFileInfo(current).absolutePath());
    if (!current.isEmpty()) dialog.selectFile(QFileInfo(current).fileName());
    if (ModalSeam().RunDialog(dialog) != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return;
    OpenPath(dialog.selectedFiles().front());
}

void CMainFrame::FillRecentMenu() {
    const QStringList files = Profile::RecentFiles();
    for (int i = 0; i < Profile::kRecentFileCount; ++i) {
        QAction* action = commands_.Action(ID_FILE_MRU_FIRST + i);
        if (!action) continue;
        action->setVisible(i < files.size());
        // "&1 name", as recent files have always been numbered; the whole path as the tip.
        if (i < files.size()) {
            QString name = QFileInfo(files[i]).fileName();
            action->setText(QStringLiteral("&%1 %2").arg(i + 1).arg(name.replace(QLatin1Char('&'), QStringLiteral("&&"))));
            action->setStatusTip(files[i]);
        }
    }
}

void CMainFrame::dragEnterEvent(QDragEnterEvent* event) {
    if (!DroppedPath(event->mimeData()).isEmpty()) event->acceptProposedAction();
}

void CMainFrame::dropEvent(QDropEvent* event) {
    const QString path = DroppedPath(event->mimeData());
    if (path.isEmpty()) return;
    event->acceptProposedAction();
    // After the drop has finished: opening may show a message box.
    QTimer::singleShot(0, this, [this, path] { OpenPath(path); });
}

std::array<QWidget*, 4> CMainFrame::FullScreenBars() {
    return {directoryBar_, fileListBar_, toolBar_, statusBar()};
}

void CMainFrame::EnterFullScreen() {
    if (fullScreen_.active) return;
    fullScreen_.active = true;
    const auto bars = FullScreenBars();
    for (size_t i = 0; i < bars.size(); ++i) {
        fullScreen_.barsShown[i] = !bars[i]->isHidden();
        bars[i]->hide();
    }
    fullScreen_.windowState = windowState();
    // The picture on black, edge to edge.
    if (auto* view = qobject_cast<QAbstractScrollArea*>(centralWidget())) {
        fullScreen_.viewPalette = view->palette();
        fullScreen_.viewFrameShape = view->frameShape();
        QPalette black = view->palette();
        black.setColor(QPalette::Base, Qt::black);
        black.setColor(QPalette::Window, Qt::black);
        view->setPalette(black);
        view->setFrameShape(QFrame::NoFrame);
        view->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        view->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    }
    showFullScreen();
    menuBar()->hide();
    update();
}

void CMainFrame::LeaveFullScreen() {
    if (!fullScreen_.active) return;
    fullScreen_.active = false;
    fullScreenView_ = false;
    leaveFullScreen_->setEnabled(false);
    const auto bars = FullScreenBars();
    for (size_t i = 0; i < bars.size(); ++i)
        if (fullScreen_.barsShown[i]) bars[i]->show();
    if (auto* view = qobject_cast<QAbstractScrollArea*>(centralWidget())) {
        view->setPalette(fullScreen_.viewPalette);
        view->setFrameShape(static_cast<QFrame::Shape>(fullScreen_.viewFrameShape));
        view->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
        view->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    }
    if (fullScreen_.windowState & Qt::WindowMaximized)
        showMaximized();
    else
        showNormal();
    menuBar()->show();
    RecalcLayout();
    // Hidden lists lose their scroll position: the current folder and file come back in view.
    if (QTreeWidgetItem* folder = directoryTree_->Tree()->currentItem()) directoryTree_->Tree()->scrollToItem(folder);
    if (QListWidgetItem* file = fileList_->NamesList()->currentItem()) fileList_->NamesList()->scrollToItem(file);
}

void CMainFrame::ToggleFullScreenView() {
    // F11 during a full-screen show ends the show, which leaves full screen.
    if (model_.g_bSlideShowFullScreen) {
        slideShow_->ToggleFullScreen();
        return;
    }
    if (fullScreenView_) {
        LeaveFullScreen();
        if (fileList_) fileList_->ActiveList()->setFocus();
        return;
    }
    if (model_.g_bSlideShowInFrame) slideShow_->ToggleInFrame();
    EnterFullScreen();
    fullScreenView_ = true;
    leaveFullScreen_->setEnabled(true);
    // The keys step through the pictures from the view now that the lists are hidden.
    if (centralWidget()) centralWidget()->setFocus();
}

void CMainFrame::ShowDirectoryBar() {
    if (!directoryBar_->isHidden()) return;
    DockBarLeft(directoryBar_);
    RecalcLayout();
}

void CMainFrame::WatchShownFolders() {
    QStringList folders = directoryTree_->Tree()->ExpandedFolders();
    folders.append(model_.g_strLastDirectory);
    watcher_->Watch(folders);
}

void CMainFrame::OnFoldersChanged(const QStringList& folders) {
    CNamespaceTree* tree = directoryTree_->Tree();
    for (const QString& folder : folders) tree->RefreshFolder(folder);
    // A folder that went away takes its node with it, and the selection to its parent,
    // which lists anew; otherwise the listed folder is read again when it changed.
    if (folders.contains(model_.g_strLastDirectory) && tree->PathOf(tree->currentItem()) == model_.g_strLastDirectory)
        fileList_->Refresh();
    WatchShownFolders();
}

void CMainFrame::Refresh() {
    QStringList folders = directoryTree_->Tree()->ExpandedFolders();
    if (!folders.contains(model_.g_strLastDirectory)) folders.append(model_.g_strLastDirectory);
    OnFoldersChanged(folders);
}

QStringList CMainFrame::NeighbourFiles() const {
    const CImageFileList* names = fileList_->NamesList();
    const int count = names->count();
    const int row = fileList_->SelectedIndex();
    if (row < 0 || count < 2) return {};
    QStringList paths{names->PathAt((row + 1) % count)};
    if (count > 2) paths.append(names->PathAt((row + count - 1) % count));
    return paths;
}

void CMainFrame::DockBarLeft(CSizingControlBar* bar) {
    if (bar->isFloating() || dockWidgetArea(bar) != Qt::LeftDockWidgetArea) {
        bar->setFloating(false);
        addDockWidget(Qt::LeftDockWidgetArea, bar);
    }
    bar->show();
}

void CMainFrame::RecalcLayout() {
    CSizingControlBar::LayOutDocks(this);
    if (layout()) layout()->activate();
}

void CMainFrame::ToggleBar(CSizingControlBar* bar) {
    if (bar->isVisible())
        bar->hide();
    else
        DockBarLeft(bar);
    RecalcLayout();
}

void CMainFrame::RestoreDefaultBars() {
    for (CSizingControlBar* bar : {directoryBar_, fileListBar_}) {
        bar->SetHorzSize(kBarResetSize);
        bar->SetVertSize(kBarResetSize);
    }
    // Docked again in this order, the directory bar above the file list.
    for (CSizingControlBar* bar : {directoryBar_, fileListBar_}) {
        bar->setFloating(false);
        addDockWidget(Qt::LeftDockWidgetArea, bar);
        bar->show();
    }
    RecalcLayout();
}

void CMainFrame::ShowHelpContents() {
    if (!helpWindow_) helpWindow_ = new CHelpWindow(QUrl(QString::fromLatin1(kHelpContents)), this);
    helpWindow_->ShowContents();
}

void CMainFrame::RegisterCommands() {
    const auto notFullScreen = [this](CCmdUI& ui) { ui.Enable(!model_.g_bSlideShowFullScreen); };
    const auto barRule = [notFullScreen](const QWidget* bar) {
        return [bar, notFullScreen](CCmdUI& ui) {
            ui.SetCheck(bar->isVisible());
            notFullScreen(ui);
        };
    };

    commands_.SetHandler(ID_DIRECTORY_TREE_BAR, [this] { ToggleBar(directoryBar_); });
    commands_.SetUpdateRule(ID_DIRECTORY_TREE_BAR, barRule(directoryBar_));
    commands_.SetHandler(ID_FILE_LIST_BAR, [this] { ToggleBar(fileListBar_); });
    commands_.SetUpdateRule(ID_FILE_LIST_BAR, barRule(fileListBar_));
    commands_.SetHandler(ID_VIEW_TOOLBAR, [this] { toolBar_->setVisible(!toolBar_->isVisible()); });
    commands_.SetUpdateRule(ID_VIEW_TOOLBAR, barRule(toolBar_));
    commands_.SetHandler(ID_VIEW_STATUS_BAR, [this] { statusBar()->setVisible(!statusBar()->isVisible()); });
    commands_.SetUpdateRule(ID_VIEW_STATUS_BAR, barRule(statusBar()));
    commands_.SetHandler(ID_DEFAULT_BARS, [this] { RestoreDefaultBars(); });
    commands_.SetUpdateRule(ID_DEFAULT_BARS, notFullScreen);
    commands_.SetHandler(ID_HELP_CONTENTS, [this] { ShowHelpContents(); });
    commands_.SetHandler(ID_REFRESH, [this] { Refresh(); });

    // Stepping works whenever the list has rows, also after a picture failed to decode.
    const auto listHasRows = [this](CCmdUI& ui) { ui.Enable(fileList_->ActiveList()->count() > 0); };
    // Next and previous go as the arrow keys go in the active page's list: no wrapping.
    commands_.SetHandler(ID_NEXT_IMAGE, [this] { fileList_->ActiveList()->SelectNextRow(); });
    commands_.SetUpdateRule(ID_NEXT_IMAGE, listHasRows);
    commands_.SetHandler(ID_PREVIOUS_IMAGE, [this] { fileList_->ActiveList()->SelectPreviousRow(); });
    commands_.SetUpdateRule(ID_PREVIOUS_IMAGE, listHasRows);
    commands_.SetHandler(ID_FIRST_IMAGE, [this] { fileList_->ActiveList()->SelectRow(0); });
    commands_.SetUpdateRule(ID_FIRST_IMAGE, listHasRows);
    commands_.SetHandler(ID_LAST_IMAGE, [this] {
        CListControl* list = fileList_->ActiveList();
        list->SelectRow(list->count() - 1);
    });
    commands_.SetUpdateRule(ID_LAST_IMAGE, listHasRows);
    // Delete and Properties act on the selected file, whether or not it decoded: a broken
    // file can be looked at and thrown away from here.
    const auto fileSelected = [this](CCmdUI& ui) { ui.Enable(fileList_->SelectedIndex() != -1); };
    commands_.SetHandler(ID_DELETE_FILE, [this] { fileList_->DeleteSelected(); });
    commands_.SetUpdateRule(ID_DELETE_FILE, fileSelected);
    commands_.SetHandler(ID_FILE_PROPERTIES, [this] { fileList_->ShowFileProperties(); });
    commands_.SetUpdateRule(ID_FILE_PROPERTIES, fileSelected);

    commands_.SetHandler(ID_FILE_OPEN, [this] { OpenFileDialog(); });
    for (int i = 0; i < Profile::kRecentFileCount; ++i) {
        commands_.SetHandler(ID_FILE_MRU_FIRST + i, [this, i] {
            const QString path = Profile::RecentFiles().value(i);
            if (!path.isEmpty()) OpenPath(path);
        });
        commands_.SetUpdateRule(ID_FILE_MRU_FIRST + i,
                                [i](CCmdUI& ui) { ui.Enable(i < Profile::RecentFiles().size()); });
    }
    commands_.SetHandler(ID_CLEAR_RECENT_FILES, [this] {
        Profile::ClearRecentFiles();
        FillRecentMenu();
    });
    commands_.SetUpdateRule(ID_CLEAR_RECENT_FILES, [](CCmdUI& ui) { ui.Enable(!Profile::RecentFiles().isEmpty()); });
    commands_.SetHandler(ID_FULL_SCREEN, [this] { ToggleFullScreenView(); });
    commands_.SetUpdateRule(ID_FULL_SCREEN, [this](CCmdUI& ui) { ui.SetCheck(fullScreenView_); });
    // Escape leaves full screen; it is left to the widgets otherwise.
    leaveFullScreen_ = new QAction(this);
    leaveFullScreen_->setShortcut(QKeySequence(Qt::Key_Escape));
    leaveFullScreen_->setShortcutContext(Qt::WindowShortcut);
    leaveFullScreen_->setEnabled(false);
    addAction(leaveFullScreen_);
    connect(leaveFullScreen_, &QAction::triggered, this, [this] {
        if (fullScreenView_) ToggleFullScreenView();
    });
    commands_.SetHandler(ID_SHOW_HIDDEN_FILES, [this] { SetShowHiddenFiles(!fileList_->NamesList()->ShowsHidden()); });
    commands_.SetUpdateRule(ID_SHOW_HIDDEN_FILES,
                            [this](CCmdUI& ui) { ui.SetCheck(fileList_->NamesList()->ShowsHidden()); });
    commands_.SetHandler(ID_FOLDER_PROPERTIES, [this] { directoryTree_->ShowFolderProperties(); });
    commands_.SetHandler(ID_LIST_BY_NAMES, [this] {
        if (fileList_->Tabs()->CurrentPageIndex() != 0) fileList_->Tabs()->ActivatePage(0);
    });
    commands_.SetUpdateRule(ID_LIST_BY_NAMES,
                            [this](CCmdUI& ui) { ui.SetCheck(fileList_->Tabs()->CurrentPageIndex() == 0); });
    commands_.SetHandler(ID_THUMBNAILS, [this] {
        if (fileList_->Tabs()->CurrentPageIndex() == 1) return;
        fileList_->Tabs()->ActivatePage(1);
        fileList_->OnPageChanged();
    });
    commands_.SetUpdateRule(ID_THUMBNAILS, [this](CCmdUI& ui) { ui.SetCheck(fileList_->Tabs()->CurrentPageIndex() == 1); });
    slideShow_->RegisterCommands(commands_);
    CreateBarMenus();
}

void CMainFrame::LoadBarState() {
    const QString section = QString::fromLatin1(kBarState);
    CSizingControlBar::LoadAllBarSizes(section);
    const QByteArray layout = Profile::GetBinary(section, QStringLiteral("Layout"));
    if (!layout.isEmpty()) restoreState(layout);
    statusBar()->setVisible(Profile::GetInt(section, QStringLiteral("StatusBar"), 1) != 0);
}

void CMainFrame::SaveBarState() {
    const QString section = QString::fromLatin1(kBarState);
    CSizingControlBar::SaveAllBarSizes(section);
    Profile::WriteBinary(section, QStringLiteral("Layout"), saveState());
    Profile::WriteInt(section, QStringLiteral("StatusBar"), statusBar()->isVisible() ? 1 : 0);
}

void CMainFrame::SetShowHiddenFiles(bool show) {
    fileList_->NamesList()->SetShowHidden(show);
    directoryTree_->Tree()->SetShowHidden(show);
    Refresh();
}

void CMainFrame::ReadSettings() {
    const QString section = QString::fromLatin1(kSettings);
    model_.g_strLastDirectory = Profile::GetString(section, QStringLiteral("LastDirectoryUsed"));
    const bool hidden = Profile::GetInt(section, QStringLiteral("ShowHiddenFiles"), 1) != 0;
    fileList_->NamesList()->SetShowHidden(hidden);
    directoryTree_->Tree()->SetShowHidden(hidden);
    // The page the user left the list on (before the folder is listed, so thumbnails
    // are built for it once).
    if (Profile::GetInt(section, QStringLiteral("ActivePage"), 0) == 1) fileList_->Tabs()->ActivatePage(1);
    const int mode = Profile::GetInt(section, QStringLiteral("StretchState"), DisplayMode().Stored());
    // A damaged value must not become an absurd zoom.
    model_.StretchState = DisplayMode::FromStored(mode).value_or(DisplayMode::Natural());
}

void CMainFrame::WriteSettings() {
    const QString section = QString::fromLatin1(kSettings);
    Profile::WriteString(section, QStringLiteral("LastDirectoryUsed"), model_.g_strLastDirectory);
    Profile::WriteInt(section, QStringLiteral("StretchState"), model_.StretchState.Stored());
    Profile::WriteInt(section, QStringLiteral("ShowHiddenFiles"), fileList_->NamesList()->ShowsHidden() ? 1 : 0);
    Profile::WriteInt(section, QStringLiteral("ActivePage"), fileList_->Tabs()->CurrentPageIndex() == 1 ? 1 : 0);
    // A picture that did not decode is not worth showing again at the next start.
    Profile::WriteString(section, QStringLiteral("LastPicture"), model_.g_bImageLoaded ? model_.g_strCurrentFile : QString());
}

void CMainFrame::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    if (laidOut_) return;
    laidOut_ = true;
    // Above the window it belongs to, now that the window is there.
    CSplashWnd::ShowSplashScreen(this);
    // The stored sizes apply once the window has its size; only what happens afterwards
    // changes them.
    QTimer::singleShot(0, this, [this] {
        if (!restoredGeometry_) PlaceOnWorkArea();
        RecalcLayout();
        for (CSizingControlBar* bar : {directoryBar_, fileListBar_}) bar->SetTrackSizes(true);
    });
}

void CMainFrame::closeEvent(QCloseEvent* event) {
    // The layout saved is the window's own, not the bare full-screen one.
    if (model_.g_bSlideShowFullScreen) slideShow_->ToggleFullScreen();
    if (fullScreenView_) ToggleFullScreenView();
    SaveBarState();
    const QString section = QString::fromLatin1(kSettings);
    Profile::WriteBinary(section, QStringLiteral("WindowGeometry"), saveGeometry());
    Profile::WriteInt(section, QStringLiteral("WindowMaximized"), isMaximized() ? 1 : 0);
    if (helpWindow_) helpWindow_->close();
    event->accept();
}
