// Network shares on 127.0.0.1 for tests and benchmarks: a private Samba
// server over a folder, and a private sshd with an sshfs mount of a folder.
// Each runs on a free port with its own configuration, keys and state in a
// scratch folder, and is stopped (and unmounted) when the object goes.
// Needs root (both servers run as root here); usable() is false, with
// skipReason() saying why, when a tool is missing (toolMissing(): a test
// then skips) or the server did not start (a test then fails).
#pragma once

#include <QProcess>

#include <memory>
#include <sys/types.h>
#include <string>
#include <vector>

#include "testutil/files.h"

namespace vemlo::test {

// A TCP port on 127.0.0.1 that nothing listens on right now.
int freeLocalPort();

// Runs argv and returns what it wrote to its standard output and error;
// status gets its exit status (-1 when it did not start or end in time).
// Skips the test when share is unusable for a missing tool, fails it when
// its server did not start.
#define VEMLO_REQUIRE_SHARE(share)                                  \
    do {                                                            \
        if (!(share).usable()) {                                    \
            if ((share).toolMissing())                              \
                QSKIP((share).skipReason().c_str());                \
            QFAIL((share).skipReason().c_str());                    \
        }                                                           \
    } while (0)

std::string commandOutput(const std::vector<std::string>& argv, int* status = nullptr,
                          int timeoutMs = 60000);

// Whether a share helper works, and why not.
class ShareStatus {
public:
    bool usable() const { return skip_.empty(); }
    const std::string& skipReason() const { return skip_; }
    bool toolMissing() const { return missing_; }

protected:
    void toolIsMissing(std::string why)
    {
        skip_ = std::move(why);
        missing_ = true;
    }
    std::string skip_;
    bool missing_ = false;
};

// smbd sharing folder as "share" to guests, with Samba's attribute record
// (store dos attributes) and no attribute taken from the mode.
class SambaShare : public ShareStatus {
public:
    explicit SambaShare(const std::string& folder);
    ~SambaShare();
    // smbclient's output for commands ("allinfo a.txt; setmode b +h").
    std::string client(const std::string& commands) const;
    int port() const { return port_; }

private:
    TempDir dir_;
    int port_ = 0;
    std::unique_ptr<QProcess> server_;
};

// sshd on 127.0.0.1 (root logs in with a key of its own) and remoteFolder
// mounted through sshfs on path().
class SshfsMount : public ShareStatus {
public:
    // options are added to sshfs's own (e.g. the caches turned off).
    explicit SshfsMount(const std::string& remoteFolder, const std::string& options = {});
    ~SshfsMount();
    std::string path() const { return dir_.path() + "/mnt"; }
    // Unmounts (also done at the end); true when nothing is left mounted.
    bool unmount();

private:
    TempDir dir_;
    int port_ = 0;
    std::unique_ptr<QProcess> server_;
    bool mounted_ = false;
};

// A Samba share over folder mounted the way the desktop mounts it: gvfs's
// daemons on a private session bus, "gio mount smb://127.0.0.1:PORT/share",
// and the share's folder in gvfs's FUSE mount under a private runtime folder.
class GvfsSmbMount : public ShareStatus {
public:
    explicit GvfsSmbMount(const std::string& folder);
    ~GvfsSmbMount();
    // The share's folder, as the desktop's programs see it.
    std::string path() const { return path_; }
    // Unmounts (also done at the end) and ends the daemons; true when
    // nothing is left mounted.
    bool unmount();

private:
    std::string fuseFolder() const { return dir_.path() + "/run/gvfs"; }
    TempDir dir_;
    std::unique_ptr<SambaShare> samba_;
    std::unique_ptr<QProcess> bus_;
    pid_t group_ = 0;  // the bus's session: it and the daemons it started
    std::string path_;
};

}  // namespace vemlo::test
