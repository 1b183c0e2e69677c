// Where the attribute bits that Windows sees are kept, by file system:
//
// - NTFS (ntfs-3g, ntfs3): the file's own attribute, the 4-byte extended
//   attribute system.ntfs_attrib (host order);
// - an SMB share mounted by the kernel (cifs): the server's attribute, the
//   4-byte extended attribute user.cifs.dosattrib;
// - FAT, vfat, exFAT: the attribute byte, through ioctl_fat(2);
// - everything else: Samba's record user.DOSATTRIB, which Samba and Java
//   read and write too; where the file system keeps no user extended
//   attributes, nothing (the bits then follow from the mode alone).
//
// Entries written by earlier versions of this program kept their bits in
// user.vemlo.attrib; they are read where no user.DOSATTRIB is found (on the
// file systems of the last kind only).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <utility>
#include <vector>

#include "platform/status.h"

namespace vemlo::fs {

// Attribute bits as the file table shows them.
enum Attrib : uint32_t {
    AttrReadOnly = 1,
    AttrHidden = 2,
    AttrSystem = 4,
    AttrFolder = 16,
    AttrArchive = 32,
    AttrNormal = 128,
    AttrLink = 1024,
};

// The bits earlier versions kept (hidden, system, archive, a folder's
// read-only).
inline constexpr uint32_t kStoredAttribBits = AttrReadOnly | AttrHidden | AttrSystem | AttrArchive;

// None: a file system of the last kind that keeps no user extended attributes.
enum class AttribStore { Ntfs, Cifs, Fat, Samba, None };

// File-system types as statfs reports them (f_type).
namespace fstype {
inline constexpr long kMsdos = 0x4d44;
inline constexpr long kExfat = 0x2011BAB0;
inline constexpr long kNtfs = 0x5346544e;   // the old read-only driver
inline constexpr long kNtfs3 = 0x7366746e;  // ntfs3
inline constexpr long kFuse = 0x65735546;   // ntfs-3g, sshfs, gvfs among many others
inline constexpr long kCifs = 0xFF534D42;
inline constexpr long kSmb2 = 0xFE534D42;
inline constexpr long kSmb = 0x517B;
inline constexpr long kNfs = 0x6969;
inline constexpr long kCeph = 0x00C36400;
inline constexpr long k9p = 0x01021997;
inline constexpr long kAfs = 0x5346414F;
}  // namespace fstype

inline constexpr const char* kNtfsAttribXattr = "system.ntfs_attrib";
inline constexpr const char* kCifsAttribXattr = "user.cifs.dosattrib";

// The 4-byte extended attribute that is the whole attribute on NTFS and
// cifs; nullptr for the other stores.
const char* wholeAttribXattr(AttribStore store);
inline constexpr const char* kDosAttribXattr = "user.DOSATTRIB";
// The record of earlier versions: the bits as a decimal number.
inline constexpr const char* kOldAttribXattr = "user.vemlo.attrib";

// The bits a program may set (read-only, hidden, system, archive, normal,
// temporary, offline, not content-indexed); the others (folder, compressed,
// sparse, reparse point, encrypted, ...) belong to the file system.
inline constexpr uint32_t kSettableAttribBits = 0x1 | 0x2 | 0x4 | 0x20 | 0x80 | 0x100 | 0x1000 | 0x2000;

// The store of the file system that holds fd (an open file or folder).
AttribStore attribStoreOf(int fd);
// The same for a path (a link is not followed).
AttribStore attribStoreOfPath(const std::string& path);

// Where the bits of one folder's entries live, decided once for the folder:
// its file system's store (None where that file system turns down user
// extended attributes), and its device (st_dev), which tells an entry on
// another file system, a mount point, from its neighbours. Such an entry is
// asked where its own file system keeps the bits.
struct FolderStore {
    AttribStore store = AttribStore::Samba;
    dev_t device = 0;
};
// For the folder open as dirfd.
FolderStore folderStoreOf(int dirfd);
// For the folder at path; with a device of 0 when it cannot be looked at.
FolderStore folderStoreOfPath(const std::string& path);

// The attribute value of a user.DOSATTRIB record: a hex text ("0x22", its NUL
// optional) alone, or a hex text (possibly empty) followed by a versioned
// binary record (versions 1 to 5). False for anything else.
bool parseDosAttrib(std::string_view record, uint32_t& attrib);

// record with its attribute replaced by attrib, every other field and its
// form kept (the hex text rewritten where there is one). An empty or
// unreadable record gives the bare hex text "0x.." with its NUL.
std::string withDosAttrib(std::string_view record, uint32_t attrib);

// How an entry's extended attribute is reached relative to its folder: Auto
// takes the kernel's getxattrat and listxattrat (Linux 6.13 and later) and falls back to the
// folder handle's path under /proc/self/fd; the other two force one way (for
// measurements and tests).
enum class XattrRoute { Auto, Syscall, ProcPath };

// Reads the extended attribute attr (with nullptr: the list of names) of the
// entry name in the folder open as dirfd, not following a link, whatever the
// length of the entry's full path; n gets its length.
Status xattrAt(int dirfd, const char* name, const char* attr, char* buf, size_t size,
               size_t& n, XattrRoute route = XattrRoute::Auto);

// The whole value of the extended attribute attr of the entry name in the
// folder open as dirfd, however long it is (read as xattrAt does).
Status xattrValueAt(int dirfd, const char* name, const char* attr, std::string& value,
                    XattrRoute route = XattrRoute::Auto);
// The same for the entry at path, a link not followed.
Status xattrValue(const std::string& path, const char* attr, std::string& value);

// The attribute number the file table shows for entries of one folder. One
// reader serves one thread at a time.
class AttribReader {
public:
    // Decides for the folder open as dirfd (folderStoreOf).
    explicit AttribReader(int dirfd, XattrRoute route = XattrRoute::Auto);
    // With the folder's decision taken already, once for several readers.
    AttribReader(int dirfd, const FolderStore& folder, XattrRoute route = XattrRoute::Auto);
    // The number of the entry name whose lstat mode is mode and device is
    // device: an entry on another file system than the folder's is asked
    // where that file system keeps the bits. An entry that cannot answer
    // (no user attributes on it, say) changes nothing for the others.
    uint32_t attribOf(const char* name, uint32_t mode, dev_t device);
    // The number of an entry asked where the folder's file system keeps the
    // bits, whatever file system it lies on: a mount point is then what the
    // folder's store finds on it (nothing where that store cannot be read).
    uint32_t attribOf(const char* name, uint32_t mode) { return read(folder_.store, name, mode); }
    AttribStore store() const { return folder_.store; }

private:
    uint32_t read(AttribStore store, const char* name, uint32_t mode);
    // The store of the file system of the entry name, which lies on device.
    AttribStore storeOn(const char* name, dev_t device);

    int dirfd_;
    XattrRoute route_;
    FolderStore folder_;
    std::vector<std::pair<dev_t, AttribStore>> others_;  // other devices met so far
};

// The attribute number from an entry's mode and the bits found in its record
// (0 when there is none), on a file system whose records hold what Samba
// keeps: the folder bit from the entry, read-only also from a file's missing
// owner write permission, hidden also from a name starting with ".", 128
// when nothing else is set.
uint32_t attribNumber(uint32_t mode, std::string_view name, uint32_t recorded);

}  // namespace vemlo::fs
