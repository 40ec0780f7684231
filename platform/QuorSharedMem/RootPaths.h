// QuorSharedMem root paths: where the shared-memory files may live, and the
// checks that keep every file a writer makes, and every file a reader opens,
// inside the chosen root.
//
// Rules:
//  1. The root is an absolute path (ZADU_SHM_ROOT, a tool's --root, or
//     /dev/shm/zadulpm). A relative one would put the files wherever the
//     process happens to run, so the hardware side and the agent could miss
//     each other.
//  2. Names that become one path component (a store's name) and the
//     components of entity paths are letters, digits and "_-.:", never "."
//     or ".."; so no name climbs out of its directory.
//  3. The root and every directory below it are real directories, not
//     links: a link could lead the files out of the root. A writer also
//     requires them to be owned by its own user (another user who made them
//     first could read or replace the segments). The files themselves are
//     opened with O_NOFOLLOW.
//
// Thread safety: the functions keep no state.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace QuorSharedMem {

// The shared-memory root (ZADU_SHM_ROOT, or /dev/shm/zadulpm), without a
// trailing '/'. Raises Vesk::Exception when it is not absolute.
std::string sharedMemoryRoot();

// `root` without trailing '/' ("/" stays "/").
std::string withoutTrailingSlashes(std::string root);

// The file suffix of a segment: the entity at path "a/b/c" of a namespace is
// the file "<namespace directory>/a/b/c.pantry".
inline constexpr std::string_view segmentSuffix = ".pantry";

// The directory of the entity manager namespace `name` under `root`:
// "<root>/local/<name>" (this node's own) or "<root>/shared/<name>" (shared by
// the system's agents).
std::string namespaceDirectory(std::string_view root, std::string_view name, bool local);

// The segment file of the entity at `entityPath` in the namespace directory
// `directory`.
std::string segmentFilePath(std::string_view directory, std::string_view entityPath);

// Raises Vesk::Exception unless `root` is an absolute path.
void requireAbsoluteRoot(std::string_view root);

// Whether `name` may be one path component: letters, digits and "_-.:",
// neither empty nor "." nor "..".
bool validComponent(std::string_view name);

// Checks `root` and each directory from it down to `directory`.
// With `create`, makes the missing ones (mode `mode`) and requires each to be
// a real directory owned by this process's user. Without, stops at the first
// one that does not exist and requires the others to be real directories.
// Raises Vesk::Exception naming the first directory that fails.
// REQUIRES: `directory` is `root` or below it.
void checkDirectories(std::filesystem::path const& root, std::filesystem::path const& directory,
                      bool create, unsigned mode);

}  // namespace QuorSharedMem
