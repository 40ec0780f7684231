#include "QuorSharedMem/EntityManager.h"

#include <fcntl.h>
#include <fmt/format.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "Pantry/SegmentFormat.h"
#include "Vesk/TypeBuilder.h"

namespace QuorSharedMem {

namespace {

constexpr char const* segmentSuffix = ".pantry";
constexpr char const* knownPathsFile = ".known-paths";

bool groupReadable() {
  char const* value = std::getenv("ZADU_SHM_GROUP_READ");
  return value != nullptr && std::strcmp(value, "1") == 0;
}

unsigned fileMode() {
  return groupReadable() ? 0640 : 0600;
}
unsigned directoryMode() {
  return groupReadable() ? 0750 : 0700;
}

bool validComponent(std::string_view component) {
  if (component.empty() || component == "." || component == "..") {
    return false;
  }
  for (char c : component) {
    bool const allowed = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                         (c >= '0' && c <= '9') || c == '_' || c == '-' || c == '.' || c == ':';
    if (!allowed) {
      return false;
    }
  }
  return true;
}

// Raises Vesk::Exception unless `path` is a valid entity path. A trailing
// '/' is accepted when `allowTrailingSlash` (a path base).
void validatePath(std::string_view path, bool allowTrailingSlash) {
  std::string_view rest = path;
  if (allowTrailingSlash && rest.ends_with('/')) {
    rest.remove_suffix(1);
  }
  bool valid = !rest.empty();
  while (valid && !rest.empty()) {
    std::size_t const slash = rest.find('/');
    valid = validComponent(rest.substr(0, slash));
    rest = slash == std::string_view::npos ? std::string_view() : rest.substr(slash + 1);
    valid = valid && !(slash != std::string_view::npos && rest.empty());
  }
  if (!valid) {
    throw Vesk::Exception(fmt::format(
        "'{}' is not a valid shared-memory entity path (components of letters, digits and "
        "\"_-.:\", separated by '/')",
        path));
  }
}

void makeDirectories(std::filesystem::path const& directory) {
  std::filesystem::path built;
  for (auto const& part : directory) {
    built /= part;
    if (mkdir(built.c_str(), directoryMode()) != 0 && errno != EEXIST) {
      throw Vesk::Exception(fmt::format("cannot create shared-memory directory {}: {}",
                                        built.string(), std::strerror(errno)));
    }
  }
}

// The type name in a segment file's header, or empty when it has none.
std::string segmentTypeName(std::filesystem::path const& file) {
  Pantry::Format::Header header{};
  int const fd = open(file.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) {
    return {};
  }
  ssize_t const bytes = pread(fd, &header, sizeof(header), 0);
  close(fd);
  if (bytes != static_cast<ssize_t>(sizeof(header)) ||
      std::memcmp(header.magic, Pantry::Format::magic, sizeof(header.magic)) != 0) {
    return {};
  }
  header.fingerprint.typeName[Pantry::Format::typeNameBytes - 1] = '\0';
  return header.fingerprint.typeName;
}

std::map<std::pair<std::string, bool>, Vesk::Ptr<EntityManager>>& managers() {
  static auto* registry = new std::map<std::pair<std::string, bool>, Vesk::Ptr<EntityManager>>();
  return *registry;
}

}  // namespace

std::string sharedMemoryRoot() {
  char const* root = std::getenv("ZADU_SHM_ROOT");
  return root != nullptr && *root != '\0' ? root : "/dev/shm/zadulpm";
}

EntityManager::EntityManager(std::string name, bool local)
    : name_(std::move(name)),
      local_(local),
      directory_(fmt::format("{}/{}/{}", sharedMemoryRoot(), local ? "local" : "shared", name_)) {}

Vesk::Ptr<EntityManager> EntityManager::getEntityManager(std::string const& name, bool local) {
  if (!validComponent(name)) {
    throw Vesk::Exception(fmt::format("'{}' is not a valid entity manager name", name));
  }
  auto& registry = managers();
  auto const key = std::make_pair(name, local);
  auto found = registry.find(key);
  if (found == registry.end()) {
    found = registry.emplace(key, Vesk::Ptr<EntityManager>(new EntityManager(name, local))).first;
  }
  return found->second;
}

Vesk::Ptr<MountGroup> EntityManager::getMountGroup() {
  return Vesk::Ptr<MountGroup>(new MountGroup(this));
}

Vesk::Ptr<Quor::Entity> EntityManager::getEntity(std::string const& path) const {
  auto const found = mounted_.find(path);
  return found == mounted_.end() ? nullptr : Vesk::Ptr<Quor::Entity>(found->second);
}

std::string EntityManager::filePathOf(std::string const& path) const {
  validatePath(path, false);
  return fmt::format("{}/{}{}", directory_, path, segmentSuffix);
}

bool EntityManager::heldBefore(std::string const& path) const {
  std::ifstream known(directory_ + "/" + knownPathsFile);
  for (std::string line; std::getline(known, line);) {
    if (line == path) {
      return true;
    }
  }
  return false;
}

void EntityManager::recordHeld(std::string const& path) const {
  if (heldBefore(path)) {
    return;
  }
  std::string const file = directory_ + "/" + knownPathsFile;
  int const fd =
      open(file.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_CLOEXEC, fileMode());
  if (fd < 0) {
    throw Vesk::Exception(
        fmt::format("cannot record held path in {}: {}", file, std::strerror(errno)));
  }
  std::string const line = path + "\n";
  ssize_t const written = write(fd, line.data(), line.size());
  close(fd);
  if (written != static_cast<ssize_t>(line.size())) {
    throw Vesk::Exception(fmt::format("cannot record held path in {}", file));
  }
}

void EntityManager::mount(std::string const& path, std::string const& typeName,
                          QuorPantry::MountInfo const& info) {
  std::string const filePath = filePathOf(path);
  if (auto const found = mounted_.find(path); found != mounted_.end()) {
    if (found->second->pantryTypeName() != typeName) {
      throw Vesk::Exception(fmt::format("{} is mounted as {}, not as {}", path,
                                        found->second->pantryTypeName(), typeName));
    }
    return;  // already mounted by this process
  }
  QuorPantry::PantryTypes::MountFunction const* mountFunction =
      QuorPantry::PantryTypes::find(typeName);
  if (mountFunction == nullptr) {
    throw Vesk::Exception(fmt::format("cannot mount {}: no pantry type {}", path, typeName));
  }
  if (info.writes()) {
    makeDirectories(std::filesystem::path(filePath).parent_path());
  }
  QuorPantry::MountRequest const request{path, filePath,         typeName,
                                         info, heldBefore(path), fileMode()};
  Vesk::Ptr<QuorPantry::PantryEntity> entity = (*mountFunction)(request);
  if (info.writes()) {
    recordHeld(path);
  }
  mounted_.emplace(path, entity);
}

void EntityManager::unmount(std::string const& path) {
  mounted_.erase(path);
}

Vesk::Ptr<ShmemEntities> EntityManager::findEntities(std::string const& path,
                                                     QuorSharedMemType type) const {
  validatePath(path, true);
  Vesk::Ptr<ShmemEntities> listing(new ShmemEntities());
  std::string base = path;
  if (base.ends_with('/')) {
    base.pop_back();
  }
  std::filesystem::path const under = std::filesystem::path(directory_) / base;
  std::error_code error;
  if (type != anyType && type != pantryType) {
    return listing;
  }
  for (std::filesystem::recursive_directory_iterator it(under, error), end; !error && it != end;
       it.increment(error)) {
    std::filesystem::path const& file = it->path();
    if (!it->is_regular_file() || file.extension() != segmentSuffix) {
      continue;
    }
    std::filesystem::path relative = std::filesystem::relative(file, directory_);
    relative.replace_extension();
    listing->countIs(relative.string(), segmentTypeName(file));
  }
  return listing;
}

Vesk::TypeData const& EntityManager::staticTypeData() {
  static Vesk::TypeData const& type =
      Vesk::TypeBuilder<EntityManager>("QuorSharedMem::EntityManager",
                                       &Quor::Entity::staticTypeData())
          .attribute("name", &EntityManager::name)
          .attribute("local", &EntityManager::local)
          .attribute("directory", &EntityManager::directory)
          .operation("getEntity", &EntityManager::getEntity)
          .operation("findEntities",
                     [](EntityManager const& manager, std::string const& path, std::uint32_t type) {
                       return manager.findEntities(path, static_cast<QuorSharedMemType>(type));
                     })
          .classOperation("getEntityManager", &EntityManager::getEntityManager)
          .done();
  return type;
}

namespace {
[[maybe_unused]] Vesk::TypeData const& registered = EntityManager::staticTypeData();
}  // namespace

}  // namespace QuorSharedMem
