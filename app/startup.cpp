#include "app/startup.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QTranslator>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

#include "app/mainwindow.h"
#include "common/layout.h"
#include "common/messages.h"
#include "import/importwindow.h"

namespace vemlo {

namespace {

std::string programName = "vemlo";

void tellNoDisplay()
{
    // One format string: pieces joined in code are stored in overlapping
    // chunks, which text checkers then read as misspelt words.
    std::fprintf(stderr,
                 "文件管理器Vemlo 需要图形显示，但无法打开任何显示（DISPLAY 和 WAYLAND_DISPLAY "
                 "都未设置或无法连接）。\n"
                 "请在图形桌面中启动它；在没有显示器的机器上，可以在虚拟显示中运行：xvfb-run "
                 "%s（Debian 软件包 xvfb）。\n"
                 "Vemlo needs a graphical display, and none could be opened (DISPLAY and "
                 "WAYLAND_DISPLAY are unset or cannot be reached).\n"
                 "Start it from a graphical desktop; on a machine without a screen, run it on a "
                 "virtual display: xvfb-run %s (Debian package xvfb).\n",
                 programName.c_str(), programName.c_str());
    std::fflush(stderr);
}

bool mayHaveDisplay()
{
    auto set = [](const char* name) {
        const char* value = std::getenv(name);
        return value && *value;
    };
    // A platform chosen by hand (offscreen, vnc, ...) may need no display.
    return set("QT_QPA_PLATFORM") || set("DISPLAY") || set("WAYLAND_DISPLAY");
}

QtMessageHandler qtHandler = nullptr;

// While the application object is built, a fatal message can only mean that
// no platform plugin could open a display: Qt would abort with a core dump.
void startupMessage(QtMsgType type, const QMessageLogContext& context, const QString& text)
{
    if (type != QtFatalMsg) {
        qtHandler(type, context, text);
        return;
    }
    tellNoDisplay();
    _exit(1);
}

}  // namespace

int start(int argc, char** argv)
{
    if (argc > 0 && argv[0] && *argv[0])
        programName = argv[0];
    if (!mayHaveDisplay()) {
        tellNoDisplay();
        return 1;
    }
    // Only the program's own name: Qt's options (-qwindowtitle, -platform,
    // ...) must not change the window.
    int qtArgc = 1;
    char* qtArgv[] = {programName.data(), nullptr};
    qtHandler = qInstallMessageHandler(startupMessage);
    QApplication app(qtArgc, qtArgv);
    qInstallMessageHandler(qtHandler);
    prepareApplication(app);
    return run(app);
}

bool loadQtTranslations(QApplication& app)
{
    auto* translator = new QTranslator(&app);
    const QString folder = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
    if (!translator->load(QStringLiteral("qtbase_zh_CN"), folder)) {
        delete translator;
        std::fprintf(stderr, "未找到 Qt 的中文翻译 qtbase_zh_CN.qm（%s），标准对话框将显示英文。\n",
                     qUtf8Printable(folder));
        return false;
    }
    app.installTranslator(translator);
    return true;
}

void prepareApplication(QApplication& app)
{
    // The window class (X11) and the application id (Wayland) by which the
    // desktop finds our desktop entry and icon.
    QCoreApplication::setApplicationName(QStringLiteral(VEMLO_WM_CLASS));
    QGuiApplication::setDesktopFileName(QStringLiteral(VEMLO_APP_ID));
    // A desktop's own file dialog would speak the user's locale; Qt's speaks
    // Chinese like the rest of the program.
    QCoreApplication::setAttribute(Qt::AA_DontUseNativeDialogs);
    loadQtTranslations(app);
}

void createForms()
{
    // The main window ends the run itself; a hidden import window never
    // does, nor does the main window's close while a command still runs.
    QApplication::setQuitOnLastWindowClosed(false);
    QApplication::setWindowIcon(appIcon());
    new TForm1;
    new TForm2;
}

int run(QApplication& app)
{
    createForms();
    Form1->show();
    app.exec();
    delete Form2;
    delete Form1;
    return 0;
}

}  // namespace vemlo
