#include "app/startup.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QTimer>
#include <QTranslator>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

#include "app/mainwindow.h"
#include "common/layout.h"
#include "common/messages.h"
#include "common/text.h"
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

void printHelp()
{
    std::printf("用法 Usage: vemlo [文件夹 FOLDER]\n"
                "\n"
                "文件管理器Vemlo 在表格中列出一个文件夹里的条目，对它们批量筛选、整理、重命名、"
                "更改属性，并导出表格。\n"
                "给出文件夹时，启动后即列出它，如同在“导入文件夹”窗口中按“导入”；给出文件时，"
                "列出它所在的文件夹。\n"
                "Vemlo lists the entries of one folder in a table for batch work; given a "
                "FOLDER (or a file: the folder it is in), it starts with that folder listed.\n"
                "\n"
                "  -h, --help     显示此帮助并退出 / show this help and exit\n"
                "  --version      显示版本并退出 / show the version and exit\n");
}

QString usage() { return QStringLiteral("用法：vemlo [文件夹]"); }

}  // namespace

CommandLine readCommandLine(int argc, char** argv)
{
    CommandLine line;
    bool options = true;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (options && arg == "--")
            options = false;
        else if (options && (arg == "--help" || arg == "-h"))
            line.help = true;
        else if (options && arg == "--version")
            line.version = true;
        else if (options && (arg == "-session" || arg == "--session"))
            ++i;  // how a session manager restarts the program: no folder in it
        else if (options && arg.size() > 1 && arg[0] == '-')
            line.unknown.push_back(arg);
        else
            line.paths.push_back(arg);
    }
    return line;
}

void openCommandLine(const CommandLine& line)
{
    auto joined = [](const std::vector<std::string>& args) {
        QStringList shown;
        for (const std::string& a : args)
            shown << QStringLiteral("“%1”").arg(displayText(a));
        return shown.join(QStringLiteral("、"));
    };
    if (!line.unknown.empty()) {
        showWarningBox(QStringLiteral("不认识的选项：%1\n%2").arg(joined(line.unknown), usage()));
    } else if (line.paths.size() > 1) {
        showWarningBox(QStringLiteral("只能打开一个文件夹，命令行却给出了 %1 个：%2\n%3")
                           .arg(line.paths.size())
                           .arg(joined(line.paths), usage()));
    } else if (!line.paths.empty()) {
        Form2->openGiven(line.paths);
    }
}

int start(int argc, char** argv)
{
    if (argc > 0 && argv[0] && *argv[0])
        programName = argv[0];
    const CommandLine line = readCommandLine(argc, argv);
    if (line.help || line.version) {
        if (line.help)
            printHelp();
        else
            std::printf("vemlo %s\n", VEMLO_VERSION);
        return std::fflush(stdout) == 0 ? 0 : 1;
    }
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
    return run(app, line);
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
    Form2->takeFolderDrops(Form1);
}

int run(QApplication& app, const CommandLine& line)
{
    createForms();
    Form1->show();
    // The folder is listed, or the box shown, over the window on screen.
    QTimer::singleShot(0, Form1, [&line] { guarded([&] { openCommandLine(line); }); });
    app.exec();
    delete Form2;
    delete Form1;
    return 0;
}

}  // namespace vemlo
