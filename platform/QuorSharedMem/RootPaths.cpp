#include "QuorSharedMem/RootPaths.h"

#include <fmt/format.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "Vesk/Exception.h"

namespace QuorSharedMem {

std::string sharedMemoryRoot() {
  char const* variable = std::getenv("ZADU_SHM_ROOT");
  std::string const root = withoutTrailingSlashes(
      variable != nullptr && *variable != '\0' ? variable : "/dev/shm/zadulpm");
  requireAbsoluteRoot(root);
  return root;
}

std::string withoutTrailingSlashes(std::string root) {
  while (root.size() > 1 && root.back() == '/') {
    root.pop_back();
  }
  return root;
}

std::string namespaceDirectory(std::string_view root, std::string_view name, bool local) {
  return fmt::format("{}/{}/{}", root, local ? "local" : "shared", name);
}

std::string segmentFilePath(std::string_view directory, std::string_view entityPath) {
  return fmt::format("{}/{}{}", directory, entityPath, segmentSuffix);
}

void requireAbsoluteRoot(std::string_view root) {
  if (!root.starts_with('/')) {
    throw Vesk::Exception(fmt::format(
        "shared-memory root '{}' is not an absolute path (one that starts with '/')", root));
  }
}

bool validComponent(std::string_view name) {
  if (name.empty() || name == "." || name == "..") {
    return false;
  }
  for (char c : name) {
    bool const allowed = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                         (c >= '0' && c <= '9') || c == '_' || c == '-' || c == '.' || c == ':';
    if (!allowed) {
      return false;
    }
  }
  return true;
}

void checkDirectories(std::filesystem::path const& root, std::filesystem::path const& directory,
                      bool create, unsigned mode) {
  std::filesystem::path built = root.parent_path();
  for (auto const& part : directory.lexically_relative(root.parent_path())) {
    built /= part;
    if (create && mkdir(built.c_str(), mode) != 0 && errno != EEXIST) {
      throw Vesk::Exception(fmt::format("cannot create shared-memory directory {}: {}",
                                        built.string(), std::strerror(errno)));
    }
    struct stat status {};
    if (lstat(built.c_str(), &status) != 0) {
      if (!create && errno == ENOENT) {
        return;
      }
      throw Vesk::Exception(fmt::format("cannot look at shared-memory directory {}: {}",
                                        built.string(), std::strerror(errno)));
    }
    if (!S_ISDIR(status.st_mode)) {
      throw Vesk::Exception(
          fmt::format("shared-memory directory {} is a link or not a directory; refusing to use it",
                      built.string()));
    }
    if (create && status.st_uid != geteuid()) {
      throw Vesk::Exception(fmt::format(
          "shared-memory directory {} is owned by uid {}, not by uid {}; refusing to use it",
          built.string(), status.st_uid, geteuid()));
    }
  }
}

}  // namespace QuorSharedMem
