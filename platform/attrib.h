// The attribute vocabulary of the file table, and setting the read-only,
// hidden, system and archive bits of one entry where the file system keeps
// them (platform/dosattrib.h).
//
// On NTFS and FAT the file system's own attribute is changed, and the file
// system shows read-only to Linux programs itself. Elsewhere the bits go to
// Samba's record, and read-only of a file is also its permission bits: set
// removes every write bit and remembers which ones it removed
// (kWriteBitsXattr); clear gives back exactly those, or the owner's write
// permission when nothing fitting is remembered. Read-only of a folder is a
// flag only, as on the file systems this attribute comes from: the folder
// keeps its mode and still takes new entries. The folder bit and the hidden
// look of a dot-name follow from the entry itself and never change.
#pragma once

#include <cstdint>
#include <string>

#include "platform/dosattrib.h"
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
// The same where the store of path's file system is known already (a pass
// over the entries of one folder asks its file system once).
Status setAttributes(const std::string& path, uint32_t value, AttribStore store);

}  // namespace vemlo::fs
