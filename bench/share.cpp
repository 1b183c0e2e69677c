#include "share.h"

#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <netinet/in.h>
#include <spawn.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace vemlo::bench {

namespace {

// A port on 127.0.0.1 that nothing listens on now.
int freePort()
{
    const int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    int port = -1;
    if (::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
        ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &len) == 0)
        port = ntohs(a.sin_port);
    ::close(s);
    return port;
}

bool accepts(int port)
{
    const int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(uint16_t(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool ok = ::connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    ::close(s);
    return ok;
}

// Runs argv, its output to log; the child's id, or -1.
pid_t spawn(const std::vector<std::string>& argv, const std::string& log)
{
    std::vector<char*> args;
    for (const std::string& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    pid_t pid = -1;
    if (posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ) != 0)
        pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

// Runs argv to its end; true when it exited with 0.
bool run(const std::vector<std::string>& argv, const std::string& log)
{
    const pid_t pid = spawn(argv, log);
    int status = 0;
    return pid > 0 && ::waitpid(pid, &status, 0) == pid && WIFEXITED(status) &&
           WEXITSTATUS(status) == 0;
}

}  // namespace

std::string Share::mount(const std::string& scratch)
{
    scratch_ = scratch;
    served_ = scratch + "/served";
    mounted_ = scratch + "/mounted";
    const std::string log = scratch + "/share.log";
    for (const char* tool : {"/usr/sbin/sshd", "/usr/bin/sshfs", "/usr/bin/ssh-keygen"})
        if (::access(tool, X_OK) != 0)
            return std::string(tool) + " is not installed";
    if (::access("/dev/fuse", R_OK | W_OK) != 0)
        return "no /dev/fuse";
    ::mkdir(scratch.c_str(), 0700);
    ::mkdir(served_.c_str(), 0755);
    ::mkdir(mounted_.c_str(), 0755);
    ::mkdir("/run/sshd", 0755);  // sshd's privilege separation folder
    const std::string hostKey = scratch + "/host_key", userKey = scratch + "/user_key";
    if (!run({"/usr/bin/ssh-keygen", "-q", "-t", "ed25519", "-N", "", "-f", hostKey}, log) ||
        !run({"/usr/bin/ssh-keygen", "-q", "-t", "ed25519", "-N", "", "-f", userKey}, log))
        return "ssh-keygen failed (see " + log + ")";
    const std::string authorized = scratch + "/authorized_keys";
    {
        std::ifstream in(userKey + ".pub");
        std::ofstream out(authorized);
        out << in.rdbuf();
    }
    ::chmod(authorized.c_str(), 0600);
    const int port = freePort();
    if (port < 0)
        return "no free port on 127.0.0.1";
    const std::string config = scratch + "/sshd_config";
    {
        std::ofstream c(config);
        c << "Port " << port << "\nListenAddress 127.0.0.1\nHostKey " << hostKey
          << "\nAuthorizedKeysFile " << authorized
          << "\nPidFile none\nStrictModes no\nUsePAM no\nPasswordAuthentication no\n"
             "PermitRootLogin yes\nSubsystem sftp internal-sftp\n";
    }
    sshd_ = spawn({"/usr/sbin/sshd", "-D", "-e", "-f", config}, log);
    if (sshd_ < 0)
        return "sshd did not start";
    for (int i = 0; i < 100 && !accepts(port); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    if (!accepts(port))
        return "sshd does not answer (see " + log + ")";
    const char* user = std::getenv("USER");
    const std::string who = user && *user ? user : "root";
    if (!run({"/usr/bin/sshfs", "-p", std::to_string(port), "-o",
              "IdentityFile=" + userKey +
                  ",StrictHostKeyChecking=no,UserKnownHostsFile=/dev/null,BatchMode=yes,"
                  "dir_cache=no,attr_timeout=0,entry_timeout=0,negative_timeout=0",
              who + "@127.0.0.1:" + served_, mounted_},
             log))
        return "sshfs could not mount (see " + log + ")";
    isMounted_ = true;
    return {};
}

Share::~Share()
{
    if (isMounted_)
        run({"/usr/bin/fusermount", "-u", "-z", mounted_}, "/dev/null");
    if (sshd_ > 0) {
        ::kill(sshd_, SIGTERM);
        ::waitpid(sshd_, nullptr, 0);
    }
}

}  // namespace vemlo::bench
