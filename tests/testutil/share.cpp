#include "share.h"

#include <QStandardPaths>
#include <QThread>

#include <arpa/inet.h>
#include <csignal>
#include <dirent.h>
#include <fstream>
#include <netinet/in.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vemlo::test {

namespace {

// A program on PATH or in the administrator's folders; empty when missing.
QString toolPath(const char* tool)
{
    QString p = QStandardPaths::findExecutable(tool);
    return p.isEmpty() ? QStandardPaths::findExecutable(tool, {"/usr/sbin", "/sbin"}) : p;
}

bool onPath(const char* tool) { return !toolPath(tool).isEmpty(); }

bool accepts(int port)
{
    const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(uint16_t(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool ok = ::connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    ::close(s);
    return ok;
}

// Starts program with args and waits up to 15 s until it listens on port.
std::unique_ptr<QProcess> startServer(const char* program, const QStringList& args, int port,
                                      std::string& skip)
{
    auto p = std::make_unique<QProcess>();
    p->setProcessChannelMode(QProcess::MergedChannels);
    // A session of its own: smbd ends by signalling its whole process group.
    p->setChildProcessModifier([] { ::setsid(); });
    p->start(toolPath(program), args);
    if (!p->waitForStarted(10000)) {
        skip = std::string(program) + " did not start";
        return nullptr;
    }
    for (int i = 0; i < 300 && !accepts(port); ++i) {
        if (p->state() == QProcess::NotRunning)
            break;
        QThread::msleep(50);
    }
    if (!accepts(port)) {
        skip = std::string(program) + " did not listen: " + p->readAll().toStdString();
        p->kill();
        p->waitForFinished(5000);
        return nullptr;
    }
    return p;
}

void stopServer(std::unique_ptr<QProcess>& p)
{
    if (!p)
        return;
    p->terminate();
    if (!p->waitForFinished(10000)) {
        p->kill();
        p->waitForFinished(5000);
    }
    p.reset();
}

}  // namespace

int freeLocalPort()
{
    const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    int port = 0;
    if (::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
        ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &len) == 0)
        port = ntohs(a.sin_port);
    ::close(s);
    return port;
}

std::string commandOutput(const std::vector<std::string>& argv, int* status, int timeoutMs)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    QStringList args;
    for (size_t i = 1; i < argv.size(); ++i)
        args << QString::fromStdString(argv[i]);
    p.start(toolPath(argv[0].c_str()), args);
    const bool ended = p.waitForStarted(10000) && p.waitForFinished(timeoutMs);
    if (!ended)
        p.kill();
    if (status)
        *status = ended && p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    return p.readAll().toStdString();
}

SambaShare::SambaShare(const std::string& folder)
{
    if (::geteuid() != 0) {
        toolIsMissing("skipped: the Samba server needs root");
        return;
    }
    if (!onPath("smbd") || !onPath("smbclient")) {
        toolIsMissing("skipped: smbd or smbclient missing (packages samba, smbclient)");
        return;
    }
    const std::string d = dir_.path();
    for (const char* sub : {"/private", "/lock", "/state", "/cache", "/pid"})
        ::mkdir((d + sub).c_str(), 0755);
    port_ = freeLocalPort();
    const std::string conf = d + "/smb.conf";
    writeFile(conf, "[global]\n"
                    "smb ports = " + std::to_string(port_) + "\n"
                    "interfaces = 127.0.0.1\n"
                    "bind interfaces only = yes\n"
                    "private dir = " + d + "/private\n"
                    "lock directory = " + d + "/lock\n"
                    "state directory = " + d + "/state\n"
                    "cache directory = " + d + "/cache\n"
                    "pid directory = " + d + "/pid\n"
                    "ncalrpc dir = " + d + "/lock/ncalrpc\n"
                    "log file = " + d + "/log.%m\n"
                    "server role = standalone server\n"
                    "map to guest = Bad User\n"
                    "guest account = root\n"
                    "disable netbios = yes\n"
                    "load printers = no\n"
                    "printcap name = /dev/null\n"
                    "disable spoolss = yes\n"
                    "[share]\n"
                    "path = " + folder + "\n"
                    "guest ok = yes\n"
                    "read only = no\n"
                    "force user = root\n"
                    "store dos attributes = yes\n"
                    "map archive = no\n"
                    "map hidden = no\n"
                    "map system = no\n"
                    "map readonly = no\n");
    server_ = startServer("smbd", {"-F", "--no-process-group", "-s", QString::fromStdString(conf)},
                          port_, skip_);
}

SambaShare::~SambaShare() { stopServer(server_); }

std::string SambaShare::client(const std::string& commands) const
{
    return commandOutput({"smbclient", "-s", dir_.path() + "/smb.conf", "-p", std::to_string(port_),
                          "//127.0.0.1/share", "-N", "-c", commands});
}

SshfsMount::SshfsMount(const std::string& remoteFolder, const std::string& options)
{
    if (::geteuid() != 0) {
        toolIsMissing("skipped: the private sshd needs root");
        return;
    }
    if (!onPath("sshd") || !onPath("sshfs") || !onPath("ssh-keygen")) {
        toolIsMissing("skipped: sshd or sshfs missing (packages openssh-server, sshfs)");
        return;
    }
    if (!pathExists("/dev/fuse")) {
        toolIsMissing("skipped: no /dev/fuse for sshfs");
        return;
    }
    const std::string d = dir_.path();
    for (const char* key : {"/host", "/user"}) {
        int st = 0;
        commandOutput({"ssh-keygen", "-q", "-t", "ed25519", "-N", "", "-f", d + key}, &st);
        if (st != 0) {
            skip_ = "ssh-keygen failed";
            return;
        }
    }
    std::ifstream pub(d + "/user.pub");
    std::string line;
    std::getline(pub, line);
    writeFile(d + "/authorized_keys", line + "\n");
    ::mkdir("/run/sshd", 0755);  // sshd's privilege separation folder
    ::mkdir(path().c_str(), 0755);
    port_ = freeLocalPort();
    writeFile(d + "/sshd_config", "Port " + std::to_string(port_) + "\n"
                                  "ListenAddress 127.0.0.1\n"
                                  "HostKey " + d + "/host\n"
                                  "PidFile " + d + "/sshd.pid\n"
                                  "AuthorizedKeysFile " + d + "/authorized_keys\n"
                                  "PermitRootLogin prohibit-password\n"
                                  "PasswordAuthentication no\n"
                                  "KbdInteractiveAuthentication no\n"
                                  "UsePAM no\n"
                                  "StrictModes no\n"
                                  "Subsystem sftp internal-sftp\n");
    server_ = startServer("sshd", {"-D", "-e", "-f", QString::fromStdString(d + "/sshd_config")},
                          port_, skip_);
    if (!server_)
        return;
    int st = 0;
    const std::string out = commandOutput(
        {"sshfs", "-p", std::to_string(port_), "-o",
         "IdentityFile=" + d + "/user,StrictHostKeyChecking=no,UserKnownHostsFile=/dev/null,"
         "BatchMode=yes" + (options.empty() ? "" : "," + options),
         "root@127.0.0.1:" + remoteFolder, path()},
        &st);
    mounted_ = st == 0;
    if (!mounted_)
        skip_ = "sshfs could not mount: " + out;
}

bool SshfsMount::unmount()
{
    if (mounted_ && (runCommand({"fusermount", "-u", path()}) == 0 ||
                     runCommand({"umount", "-l", path()}) == 0))
        mounted_ = false;
    return !mounted_;
}

SshfsMount::~SshfsMount()
{
    unmount();
    stopServer(server_);
}

namespace {

bool isMounted(const std::string& folder)
{
    std::ifstream table("/proc/self/mountinfo");
    std::string line;
    while (std::getline(table, line))
        if (line.find(" " + folder + " ") != std::string::npos)
            return true;
    return false;
}

// The first entry of folder whose name starts with prefix; empty when none.
std::string entryStartingWith(const std::string& folder, const std::string& prefix)
{
    DIR* d = ::opendir(folder.c_str());
    std::string found;
    while (dirent* e = d ? ::readdir(d) : nullptr)
        if (std::string(e->d_name).rfind(prefix, 0) == 0) {
            found = e->d_name;
            break;
        }
    if (d)
        ::closedir(d);
    return found;
}

}  // namespace

GvfsSmbMount::GvfsSmbMount(const std::string& folder)
{
    for (const char* daemon : {"/usr/libexec/gvfsd", "/usr/libexec/gvfsd-fuse", "/usr/libexec/gvfsd-smb"})
        if (!pathExists(daemon)) {
            toolIsMissing(std::string("skipped: ") + daemon +
                          " missing (packages gvfs, gvfs-fuse, gvfs-backends)");
            return;
        }
    if (!onPath("gio") || !onPath("dbus-daemon")) {
        toolIsMissing("skipped: gio or dbus-daemon missing (packages libglib2.0-bin, dbus-daemon)");
        return;
    }
    if (!pathExists("/dev/fuse")) {
        toolIsMissing("skipped: no /dev/fuse for gvfs");
        return;
    }
    samba_ = std::make_unique<SambaShare>(folder);
    if (!samba_->usable()) {
        skip_ = samba_->skipReason();
        missing_ = samba_->toolMissing();
        return;
    }
    const std::string d = dir_.path();
    ::mkdir((d + "/run").c_str(), 0700);
    // The daemons the bus starts inherit its environment: the runtime
    // folder where gvfs mounts its FUSE folder, private settings.
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    const QString bus = QString::fromStdString("unix:path=" + d + "/bus");
    env.insert("DBUS_SESSION_BUS_ADDRESS", bus);
    env.insert("XDG_RUNTIME_DIR", QString::fromStdString(d + "/run"));
    env.insert("XDG_DATA_HOME", QString::fromStdString(d + "/data"));
    env.insert("XDG_CONFIG_HOME", QString::fromStdString(d + "/config"));
    bus_ = std::make_unique<QProcess>();
    bus_->setProcessEnvironment(env);
    bus_->setProcessChannelMode(QProcess::MergedChannels);
    // A session of its own, which the daemons it starts share: ended as one.
    bus_->setChildProcessModifier([] { ::setsid(); });
    bus_->start(toolPath("dbus-daemon"), {"--session", "--nofork", "--address=" + bus});
    if (bus_->waitForStarted(10000))
        group_ = pid_t(bus_->processId());
    for (int i = 0; i < 200 && !pathExists(d + "/bus"); ++i)
        QThread::msleep(50);
    if (!pathExists(d + "/bus")) {
        skip_ = "dbus-daemon did not start: " + bus_->readAll().toStdString();
        return;
    }
    const QString url = QStringLiteral("smb://127.0.0.1:%1/share").arg(samba_->port());
    QProcess gio;
    gio.setProcessEnvironment(env);
    gio.setProcessChannelMode(QProcess::MergedChannels);
    gio.start(toolPath("gio"), {"mount", "--anonymous", url});
    gio.closeWriteChannel();
    const bool ended = gio.waitForFinished(30000);
    const std::string said = gio.readAll().toStdString();
    for (int i = 0; i < 100 && path_.empty(); ++i) {
        const std::string name = entryStartingWith(fuseFolder(), "smb-share:");
        if (!name.empty())
            path_ = fuseFolder() + "/" + name;
        else
            QThread::msleep(50);
    }
    if (!ended || gio.exitCode() != 0 || path_.empty())
        skip_ = "gio mount " + url.toStdString() + " failed: " + said;
}

bool GvfsSmbMount::unmount()
{
    if (bus_) {
        // The daemons end with their bus; gvfs's FUSE folder goes with them.
        if (group_ > 0 && bus_->state() != QProcess::NotRunning)
            ::kill(-group_, SIGTERM);
        bus_->waitForFinished(10000);
        bus_.reset();
        group_ = 0;
        for (int i = 0; i < 100 && isMounted(fuseFolder()); ++i)
            QThread::msleep(50);
    }
    if (isMounted(fuseFolder()))
        ::umount2(fuseFolder().c_str(), MNT_DETACH);
    return !isMounted(fuseFolder());
}

GvfsSmbMount::~GvfsSmbMount() { unmount(); }

}  // namespace vemlo::test
