#include "viewer/test11_app.h"

#include "codecs/metafile_decoder.h"

#include "platform/modal_seam.h"
#include "platform/profile.h"
#include "viewer/about_dlg.h"
#include "viewer/app_info.h"
#include "viewer/colour_management.h"
#include "viewer/command_ids.h"
#include "viewer/main_frame.h"
#include "viewer/slide_show.h"
#include "viewer/splash_wnd.h"
#include "viewer/test11_doc.h"
#include "viewer/test11_view.h"
#include "viewer/wallpaper.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QIcon>
#include <QScreen>

#include <cmath>
#include <cstdio>

CTest11App::CTest11App() {
    qApp->installEventFilter(this);
}

CTest11App::~CTest11App() {
    qApp->removeEventFilter(this);
    // The frame goes first: it writes the settings while the view and document still exist.
    frame_.reset();
    document_.reset();
}

bool CTest11App::InitInstance(const QStringList& arguments) {
    // --version prints it.
    QCoreApplication::setApplicationVersion(QString::fromLatin1(AppInfo::kVersion));
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Vantoro Image Viewer"));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption noSplash(QStringLiteral("no-splash"), QStringLiteral("Start without the splash window."));
    parser.addOption(noSplash);
    parser.addPositionalArgument(QStringLiteral("file"),
                                 QStringLiteral("Picture to show, or folder whose pictures to list. Without one, the "
                                                "picture shown last time shows again."),
                                 QStringLiteral("[FILE|FOLDER]"));
    if (!parser.parse(arguments)) {
        std::fprintf(stderr, "%s\n", qPrintable(parser.errorText()));
        return false;
    }
    if (parser.isSet(QStringLiteral("help"))) parser.showHelp();
    if (parser.isSet(QStringLiteral("version"))) parser.showVersion();
    const QStringList files = parser.positionalArguments();
    if (files.size() > 1) {
        std::fprintf(stderr, "vtview: one file or folder at most\n");
        return false;
    }
    CSplashWnd::EnableSplashScreen(!parser.isSet(noSplash));

    QCoreApplication::setOrganizationName(QString::fromLatin1(Profile::kOrganization));
    QCoreApplication::setApplicationName(QString::fromLatin1(Profile::kApplication));
    QGuiApplication::setDesktopFileName(QString::fromLatin1(AppInfo::kDesktopName));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/icons/vtview.png")));
    // The library reads no screen: metafiles are drawn at the resolution the program gives.
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        SetMetafileDotsPerInch(static_cast<int>(std::lround(screen->logicalDotsPerInch())));
    // Before the frame lists the last folder, whose thumbnails are decoded too.
    colour_ = std::make_unique<CColourManagement>();

    frame_ = std::make_unique<CMainFrame>();
    document_ = std::make_unique<CTest11Doc>(frame_->Model());
    (new CWallpaper(*document_, frame_.get()))->RegisterCommands(frame_->Commands());
    view_ = new CTest11View(*document_, frame_->Commands(), frame_.get());
    document_->RegisterCommands(frame_->Commands());
    RegisterCommands();
    connect(document_.get(), &CTest11Doc::TitleChanged, frame_.get(), &CMainFrame::SetDocumentTitle);
    connect(frame_.get(), &CMainFrame::OpenDocumentRequested, this, &CTest11App::OpenDocumentFile);
    connect(frame_.get(), &CMainFrame::UpdateViewsRequested, document_.get(), &CTest11Doc::UpdateAllViews);
    // Once a picture shows, its neighbours are decoded ahead, and a running slide show
    // counts its delay from then.
    connect(document_.get(), &CTest11Doc::LoadFinished, this, [this] {
        document_->Preload(frame_->NeighbourFiles());
        frame_->SlideShow().PictureShown();
    });
    if (!frame_->LoadFrame(view_)) return false;

    // A file given opens with its folder listed around it; without one, the last picture.
    if (files.isEmpty())
        frame_->ReopenLastPicture();
    else if (!frame_->OpenPath(files.front()))
        return false;
    frame_->show();
    return true;
}

bool CTest11App::OpenDocumentFile(const QString& path) {
    if (!document_->OnOpenDocument(path)) return false;
    document_->SetPathName(path);
    Profile::AddRecentFile(path);
    return true;
}

void CTest11App::RegisterCommands() {
    CCommandTable& commands = frame_->Commands();
    commands.SetHandler(ID_APP_ABOUT, [this] { OnAppAbout(); });
    commands.SetHandler(ID_APP_EXIT, [this] { frame_->close(); });
    colour_->RegisterCommands(commands, [this] { ShowPictureAgain(); });
}

void CTest11App::ShowPictureAgain() {
    // A file that did not decode would only say so again.
    if (frame_->Model().g_bImageLoaded && !document_->PathName().isEmpty()) document_->Reload();
}

void CTest11App::OnAppAbout() {
    CAboutDlg dialog(frame_.get());
    ModalSeam().RunDialog(dialog);
}

bool CTest11App::eventFilter(QObject* watched, QEvent* event) {
    if (CSplashWnd::PreTranslateAppMessage(event)) return true;
    return QObject::eventFilter(watched, event);
}
