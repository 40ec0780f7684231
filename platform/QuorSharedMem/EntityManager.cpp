#include "QuorSharedMem/EntityManager.h"

#include <fcntl.h>
#include <fmt/format.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>

#include "Pantry/SegmentFormat.h"
#include "Vesk/TypeBuilder.h"

namespace QuorSharedMem {

namespace {

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

// The header of a segment file, when it has the magic.
std::optional<Pantry::Format::Header> segmentHeader(std::filesystem::path const& file) {
  Pantry::Format::Header header{};
  int const fd = open(file.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) {
    return std::nullopt;
  }
  ssize_t const bytes = pread(fd, &header, sizeof(header), 0);
  close(fd);
  if (bytes != static_cast<ssize_t>(sizeof(header)) ||
      std::memcmp(header.magic, Pantry::Format::magic, sizeof(header.magic)) != 0) {
    return std::nullopt;
  }
  header.fingerprint.typeName[Pantry::Format::typeNameBytes - 1] = '\0';
  header.fingerprint.collectionName[Pantry::Format::collectionNameBytes - 1] = '\0';
  return header;
}

std::map<std::pair<std::string, bool>, Vesk::Ptr<EntityManager>>& managers() {
  static auto* registry = new std::map<std::pair<std::string, bool>, Vesk::Ptr<EntityManager>>();
  return *registry;
}

}  // namespace

EntityManager::EntityManager(std::string name, bool local)
    : name_(std::move(name)),
      local_(local),
      root_(sharedMemoryRoot()),
      directory_(namespaceDirectory(root_, name_, local)) {}

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
  return segmentFilePath(directory_, path);
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
    // Already mounted by this process: the request must ask for the same.
    Pantry::PantryMapBase const& held = found->second->collectionBase();
    auto const& wanted = info.collectionInfo();
    if (found->second->pantryTypeName() != typeName || (info.writes() && !held.writable()) ||
        (wanted && wanted->size != held.capacity())) {
      throw Vesk::Exception(fmt::format(
          "{} is already mounted as {} ({}, {} records); cannot mount it as {} ({}{})", path,
          found->second->pantryTypeName(), held.writable() ? "writer" : "read-only",
          held.capacity(), typeName, info.writes() ? "writer" : "read-only",
          wanted ? fmt::format(", {} records", wanted->size) : std::string()));
    }
    return;
  }
  QuorPantry::PantryTypes::MountFunction const* mountFunction =
      QuorPantry::PantryTypes::find(typeName);
  if (mountFunction == nullptr) {
    throw Vesk::Exception(fmt::format("cannot mount {}: no pantry type {}", path, typeName));
  }
  // A reader checks too: a link below the root would take it elsewhere.
  checkDirectories(root_, std::filesystem::path(filePath).parent_path(), info.writes(),
                   directoryMode());
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

Vesk::Ptr<QuorPantry::PantryEntity> EntityManager::mountExisting(std::string const& path,
                                                                 std::uint32_t pantryType) {
  auto const header = segmentHeader(filePathOf(path));
  if (!header) {
    return nullptr;
  }
  QuorPantry::MountInfo info(pantryType);
  info.collectionInfoIs(QuorPantry::CollectionInfo{header->fingerprint.collectionName,
                                                   header->fingerprint.capacity, 0});
  mount(path, header->fingerprint.typeName, info);
  return mounted_.at(path);
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
    std::filesystem::path relative = file.lexically_relative(directory_);
    relative.replace_extension();
    auto const header = segmentHeader(file);
    listing->countIs(relative.string(), header ? header->fingerprint.typeName : "");
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
