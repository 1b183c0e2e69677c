// Setting the read-only, hidden, system and archive bits of one entry where
// its file system keeps them (platform/dosattrib.h, which also holds the
// file table's attribute vocabulary).
//
// On NTFS, FAT and a kernel-mounted SMB share the file system's own attribute
// is changed, and the file system shows read-only to Linux programs itself;
// an attribute left with no bit at all is written as normal (128), since 0
// asks an SMB server to leave the attribute as it was. Elsewhere the bits go
// to Samba's record, and read-only of a file is also its permission bits: set
// removes every write bit and remembers which ones it removed
// (kWriteBitsXattr); clear gives back exactly those, or the owner's write
// permission when nothing fitting is remembered. Read-only of a folder is a
// flag only, as on the file systems this attribute comes from: the folder
// keeps its mode and still takes new entries. The folder bit and the hidden
// look of a dot-name follow from the entry itself and never change.
#pragma once

#include <cstdint>
#include <string>
#include <sys/stat.h>

#include "platform/dosattrib.h"
#include "platform/status.h"

namespace vemlo::fs {

// The write bits a read-only file had before, and the mode it was left with,
// as two octal numbers ("220 444"). Consulted only while the file still has
// the mode it was left with.
inline constexpr const char* kWriteBitsXattr = "user.vemlo.writebits";

// Sets the attribute value (a sum of AttrReadOnly, AttrHidden, AttrSystem and
// AttrArchive; other bits are ignored) on path. Symbolic links are never
// followed: a link is left as it is and the result is ELOOP. Fails with
// ENOTSUP, changing nothing, when the entry cannot keep the bits asked for
// (hidden, system, archive, a folder's read-only on a file system without
// user extended attributes).
Status setAttributes(const std::string& path, uint32_t value);
// The same where the store of path's folder is known already (a pass over
// the entries of one folder asks its file system once); an entry on another
// file system than the folder's (a mount point) is set where its own keeps
// the bits.
Status setAttributes(const std::string& path, uint32_t value, const FolderStore& folder);

// An entry's attribute state as far as setAttributes changes it: its
// permission bits and the records it writes or removes (the extended
// attributes of its store, FAT's attribute byte), each as it was.
struct AttribState {
    uint32_t mode = 0;
    // For each record present, in the order of their tags: a tag byte, two
    // length bytes, the record's bytes.
    std::string records;
};

// What setAttributes did to one entry: its state before, and a fingerprint
// of the state it left, by which a later look tells whether the entry is
// still as the change left it.
struct AttribChange {
    struct stat entry {};  // the entry's lstat before the change
    uint64_t birth = 0;    // and its birth time (fs::lookAtEntry)
    AttribState before;
    uint64_t after = 0;
};

// setAttributes, telling in change what it did when it succeeded.
Status setAttributes(const std::string& path, uint32_t value, const FolderStore& folder,
                     AttribChange& change);

// Puts the entry at path back into change.before, records and mode bit for
// bit, when it is still in the state the change left. Fails with ESTALE,
// changing nothing, when it is not; ELOOP for a symbolic link.
Status restoreAttributes(const std::string& path, const FolderStore& folder,
                         const AttribChange& change);

}  // namespace vemlo::fs
