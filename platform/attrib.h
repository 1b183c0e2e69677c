// Setting the read-only, hidden, system and archive bits of one entry.
//
// Read-only is the permission bits: set removes every write bit, clear gives
// the owner write permission and leaves group and others alone. Hidden,
// system and archive are kept as decimal text in the extended attribute
// kAttribXattr, removed when none of them is set. The folder bit and the
// hidden look of a dot-name follow from the entry itself and never change.
#pragma once

#include <cstdint>
#include <string>

#include "platform/fsresult.h"

namespace vemlo::fs {

// Sets the attribute value (a sum of AttrReadOnly, AttrHidden, AttrSystem and
// AttrArchive; other bits are ignored) on path. Symbolic links are never
// followed: a link is left as it is and the result is ELOOP. Fails with
// ENOTSUP, changing nothing, when the entry cannot keep the stored bits.
Status setAttributes(const std::string& path, uint32_t value);

// The Chinese reason for a failed setAttributes.
std::string attribFailureText(int err);

}  // namespace vemlo::fs
