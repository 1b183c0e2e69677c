// Setting the read-only, hidden, system and archive bits of one entry.
//
// Read-only of a file is its permission bits: set removes every write bit and
// remembers which ones it removed (kWriteBitsXattr); clear gives back exactly
// those, or the owner's write permission when nothing fitting is remembered.
// Read-only of a folder is a stored flag only, as on the file systems this
// attribute comes from: the folder keeps its mode and still takes new
// entries. Hidden, system, archive and a folder's read-only are kept as
// decimal text in the extended attribute kAttribXattr, removed when none of
// them is set. The folder bit and the hidden look of a dot-name follow from
// the entry itself and never change.
#pragma once

#include <cstdint>
#include <string>

#include "platform/fsresult.h"

namespace vemlo::fs {

// The write bits a read-only file had before, and the mode it was left with,
// as two octal numbers ("220 444"). Consulted only while the file still has
// the mode it was left with.
inline constexpr const char* kWriteBitsXattr = "user.vemlo.writebits";

// Sets the attribute value (a sum of AttrReadOnly, AttrHidden, AttrSystem and
// AttrArchive; other bits are ignored) on path. Symbolic links are never
// followed: a link is left as it is and the result is ELOOP. Fails with
// ENOTSUP, changing nothing, when the entry cannot keep the stored bits.
Status setAttributes(const std::string& path, uint32_t value);

// The Chinese reason for a failed setAttributes.
std::string attribFailureText(int err);

}  // namespace vemlo::fs
