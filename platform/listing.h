// Enumerating one folder on raw byte names, with the data the file table shows.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "platform/fsresult.h"

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

// The extended attribute that keeps the hidden, system and archive bits, and
// the read-only bit of a folder.
inline constexpr const char* kAttribXattr = "user.vemlo.attrib";
inline constexpr uint32_t kStoredAttribBits = AttrReadOnly | AttrHidden | AttrSystem | AttrArchive;

struct EntryInfo {
    std::string_view name;
    int64_t size = 0;        // bytes; 0 for folders
    int64_t modified = 0;    // seconds since the epoch
    int64_t created = 0;     // birth time where recorded, else status change
    uint32_t attrib = 0;
    bool isFolder = false;
};

// Calls sink once per entry of folder, in the order the file system returns
// them, skipping only "." and "..". Symbolic links are described, not followed.
// Fails (with nothing passed to sink) when the folder cannot be opened.
Status listFolder(const std::string& folder,
                  const std::function<void(const EntryInfo&)>& sink);

// The attribute number of one entry, from its lstat-like data and stored bits.
uint32_t attribNumber(uint32_t mode, std::string_view name, uint32_t storedBits);

// Reads the stored bits of path (kStoredAttribBits; 0 when there are none).
// Symbolic links are not followed.
uint32_t readStoredBits(const char* path);

}  // namespace vemlo::fs
