// The `zadulpm` Python module.
//
//   Reflection: zadulpm.Entity wraps any entity of the runtime. Its class
//   name, members (in declared order), attributes (read and set), operations
//   (called by name with Python values) and collections (mappings with
//   indexing, `in`, len() and iteration) follow the class's reflection
//   record. Records of the data model (keys, entries) are zadulpm.Record
//   objects; a dict or a "A.B.C.D/LEN" string is accepted where a key is
//   expected. Errors of the reflection interface raise zadulpm.ReflectionError
//   and zadulpm.TypeMismatchError with the same text; a key the TCAM cannot
//   hold, given to a writer (or to zadulpm.key and zadulpm.entry), raises
//   ValueError with the library's text ("10.1.0.1/16: host bits set below
//   the prefix length"), and reads simply find nothing under it.
//
//   An agent: zadulpm.Agent makes the event loop, the central store, the
//   ordered-table interface and the TCAM interface; agent.table(unit) gives a
//   unit's zadulpm.Table, whose writes and removes take Python callables as
//   response handlers. A handler that raises is reported (its traceback
//   printed, agent.handler_errors counted); the exception never unwinds
//   through the library.
//
//   Reading: zadulpm.Reader reads a root read-only, through the same
//   reader as the zadulpm command, and gives its status, log, entries and
//   route lookups as dicts with the command's JSON field names.
//
// The module holds the GIL throughout: the library runs on the calling
// thread, and handlers run inside run_* calls.
#include <pybind11/functional.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "Vesk/Exception.h"
#include "Vesk/Node.h"
#include "Vesk/TypeData.h"
#include "ZaduLpm/TcamInterface.h"
#include "ZaduLpmLib/Ipv4Text.h"
#include "ZaduLpmLib/TcamDataModelCodecs.h"
#include "ZaduRead/Reader.h"
#include "Zido/Agent.h"

namespace py = pybind11;

namespace {

// A record of the data model on the Python side: named fields in order.
class Record {
 public:
  std::vector<std::pair<std::string, py::object>> fields;

  py::object get(std::string const& name) const {
    for (auto const& [field, value] : fields) {
      if (field == name) {
        return value;
      }
    }
    throw py::attribute_error("record has no field '" + name + "'");
  }
  py::dict asDict() const {
    py::dict result;
    for (auto const& [field, value] : fields) {
      result[py::str(field)] = value;
    }
    return result;
  }
  std::string repr() const {
    std::string text = "Record(";
    for (std::size_t index = 0; index < fields.size(); ++index) {
      text += (index == 0 ? "" : ", ") + fields[index].first + "=" +
              py::repr(fields[index].second).cast<std::string>();
    }
    return text + ")";
  }
  // A key as "A.B.C.D/LEN"; any other record as its repr.
  std::string str() const {
    if (fields.size() == 2 && fields[0].first == "prefix" && fields[1].first == "length") {
      return ZaduLpmLib::formatIpv4(fields[0].second.cast<std::uint32_t>()) + "/" +
             std::to_string(fields[1].second.cast<unsigned>());
    }
    return repr();
  }
  bool equals(py::object const& other) const {
    if (py::isinstance<Record>(other)) {
      return asDict().equal(other.cast<Record const&>().asDict());
    }
    return py::isinstance<py::dict>(other) && asDict().equal(other);
  }
};

class Entity;

py::object toPython(Vesk::Value const& value);

Vesk::Value toValue(py::handle object);

// An entity of the runtime, reached through its reflection record.
class Entity {
 public:
  explicit Entity(Vesk::Ptr<Vesk::Node> node) : node_(std::move(node)) {}

  Vesk::Ptr<Vesk::Node> const& node() const { return node_; }
  std::string className() const { return std::string(node_->typeData().name()); }
  // (name, kind) of every member, the root class's first.
  std::vector<std::pair<std::string, std::string>> members() const {
    std::vector<std::pair<std::string, std::string>> result;
    for (Vesk::TypeData::Member const* member : node_->typeData().allMembers()) {
      result.emplace_back(member->name, std::string(member->kindName()));
    }
    return result;
  }
  std::vector<std::string> namesOf(Vesk::TypeData::Member::Kind kind) const {
    std::vector<std::string> result;
    for (Vesk::TypeData::Member const* member : node_->typeData().allMembers()) {
      if (member->kind == kind) {
        result.push_back(member->name);
      }
    }
    return result;
  }
  py::object get(std::string const& name) const;
  void set(std::string const& name, py::object const& value) {
    Vesk::attributeIs(*node_, name, toValue(value));
  }
  py::object call(std::string const& name, py::args const& arguments) {
    std::vector<Vesk::Value> values;
    for (py::handle argument : arguments) {
      values.push_back(toValue(argument));
    }
    return toPython(Vesk::call(*node_, name, values));
  }
  std::string repr() const {
    return "<zadulpm.Entity " + className() + " at " +
           std::to_string(reinterpret_cast<std::uintptr_t>(node_.get())) + ">";
  }

 private:
  Vesk::Ptr<Vesk::Node> node_;
};

// A collection member of an entity, as a mapping.
class Collection {
 public:
  Collection(Vesk::Ptr<Vesk::Node> node, std::string name)
      : node_(std::move(node)), name_(std::move(name)) {}

  py::object getItem(py::object const& key) const {
    Vesk::Value const value = toValue(key);
    if (!Vesk::collectionHas(*node_, name_, value)) {
      throw py::key_error(py::repr(key).cast<std::string>());
    }
    return toPython(Vesk::collectionLookup(*node_, name_, value));
  }
  bool contains(py::object const& key) const {
    return Vesk::collectionHas(*node_, name_, toValue(key));
  }
  std::size_t size() const { return Vesk::collectionCount(*node_, name_); }
  std::vector<std::pair<py::object, py::object>> items() const {
    std::vector<std::pair<py::object, py::object>> result;
    Vesk::collectionForEach(*node_, name_, [&](Vesk::Value const& key, Vesk::Value const& member) {
      result.emplace_back(toPython(key), toPython(member));
      return true;
    });
    return result;
  }
  void setItem(py::object const& key, py::object const& member) {
    Vesk::collectionInsertAt(*node_, name_, toValue(key), toValue(member));
  }
  void delItem(py::object const& key) { Vesk::collectionDel(*node_, name_, toValue(key)); }
  void clear() { Vesk::collectionDelAll(*node_, name_); }

 private:
  Vesk::Ptr<Vesk::Node> node_;
  std::string name_;
};

py::object Entity::get(std::string const& name) const {
  Vesk::TypeData::Member const* member = node_->typeData().findMember(name);
  if (member == nullptr) {
    throw py::attribute_error(className() + " has no member '" + name + "'");
  }
  switch (member->kind) {
    case Vesk::TypeData::Member::Kind::Attribute:
      return toPython(Vesk::attribute(*node_, name));
    case Vesk::TypeData::Member::Kind::Collection:
      return py::cast(Collection(node_, name));
    case Vesk::TypeData::Member::Kind::Operation: {
      Vesk::Ptr<Vesk::Node> const node = node_;
      return py::cpp_function(
          [node, name](py::args const& arguments) { return Entity(node).call(name, arguments); });
    }
    case Vesk::TypeData::Member::Kind::ClassOperation: {
      std::string const typeName = className();
      return py::cpp_function([typeName, name](py::args const& arguments) {
        std::vector<Vesk::Value> values;
        for (py::handle argument : arguments) {
          values.push_back(toValue(argument));
        }
        return toPython(Vesk::callClass(typeName, name, values));
      });
    }
  }
  return py::none();
}

py::object toPython(Vesk::Value const& value) {
  switch (value.kind()) {
    case Vesk::Value::Kind::Null:
      return py::none();
    case Vesk::Value::Kind::Bool:
      return py::bool_(value.asBool());
    case Vesk::Value::Kind::Int:
      return py::int_(value.asInt());
    case Vesk::Value::Kind::UInt:
      return py::int_(value.asUInt());
    case Vesk::Value::Kind::Double:
      return py::float_(value.asDouble());
    case Vesk::Value::Kind::String:
      return py::str(value.asString());
    case Vesk::Value::Kind::Entity:
      return value.asEntity() ? py::cast(Entity(value.asEntity())) : py::none();
    case Vesk::Value::Kind::Record: {
      Record record;
      for (Vesk::Value::Field const& field : value.asRecord()) {
        record.fields.emplace_back(field.name, toPython(field.value));
      }
      return py::cast(record);
    }
  }
  return py::none();
}

Vesk::Value toValue(py::handle object) {
  if (object.is_none()) {
    return Vesk::Value();
  }
  if (py::isinstance<py::bool_>(object)) {
    return Vesk::Value(object.cast<bool>());
  }
  if (py::isinstance<py::int_>(object)) {
    if (object.cast<py::int_>() < py::int_(0)) {
      return Vesk::Value(object.cast<std::int64_t>());
    }
    return Vesk::Value(object.cast<std::uint64_t>());
  }
  if (py::isinstance<py::float_>(object)) {
    return Vesk::Value(object.cast<double>());
  }
  if (py::isinstance<py::str>(object)) {
    return Vesk::Value(object.cast<std::string>());
  }
  if (py::isinstance<Entity>(object)) {
    return Vesk::Value(object.cast<Entity const&>().node());
  }
  Vesk::Value::Record fields;
  if (py::isinstance<Record>(object)) {
    for (auto const& [name, value] : object.cast<Record const&>().fields) {
      fields.push_back({name, toValue(value)});
    }
    return Vesk::Value(std::move(fields));
  }
  if (py::isinstance<py::dict>(object)) {
    for (auto const& [name, value] : object.cast<py::dict>()) {
      fields.push_back({py::str(name).cast<std::string>(), toValue(value)});
    }
    return Vesk::Value(std::move(fields));
  }
  throw Vesk::TypeMismatchError("a Python " +
                                py::str(py::type::of(object).attr("__name__")).cast<std::string>() +
                                " has no reflection value");
}

ZaduLpmLib::TcamDataModelEntryKey keyOf(py::handle key) {
  return Vesk::Codec<ZaduLpmLib::TcamDataModelEntryKey>::decode(toValue(key));
}

// What a Python response handler is given.
struct Handle {
  std::string state;
  std::uint32_t stateCode = 0;
  py::object key;
  std::uint64_t logVersion = 0;
};

class Agent;

// A unit's TCAM software table.
class Table {
 public:
  Table(Agent* agent, Vesk::Ptr<ZaduLpm::TcamSwTable> table)
      : agent_(agent), table_(std::move(table)) {}

  void write(py::handle key, py::handle entry, py::object const& handler);
  void remove(py::handle key, py::object const& handler);
  void removeAll() { table_->entryRemoveAll(nullptr); }
  py::object read(py::handle key) const {
    return toPython(
        Vesk::Codec<ZaduLpmLib::TcamDataModelEntry>::encode(table_->entryRead(keyOf(key))));
  }
  bool has(py::handle key) const { return table_->entryHas(keyOf(key)); }
  std::uint32_t size() const { return table_->entrys(); }
  std::vector<py::object> entries() const {
    std::vector<py::object> result;
    for (auto const& entry : table_->entryIteratorConst()) {
      result.push_back(toPython(Vesk::Codec<ZaduLpmLib::TcamDataModelEntry>::encode(entry)));
    }
    return result;
  }
  Entity snapshot() const { return Entity(table_->getTableEntries_py()); }
  Entity entity() const { return Entity(table_); }

 private:
  ZaduLpm::TcamSwTable::ResponseHandler responseHandler(py::object const& handler);

  Agent* agent_;
  Vesk::Ptr<ZaduLpm::TcamSwTable> table_;
};

class Agent {
 public:
  explicit Agent(std::string const& store) : agent_(std::make_unique<Zido::Agent>(store)) {
    interface_ = ZaduLpm::TcamInterface::getIntf(agent_->orderedTableInterface());
  }
  ~Agent() { close(); }

  void close() {
    interface_ = nullptr;
    agent_.reset();
  }
  Table table(std::uint16_t unit, bool reset) {
    return Table(this, live().makeSwTable(unit, nullptr, reset));
  }
  Entity tcamInterface() {
    live();
    return Entity(interface_);
  }
  Entity orderedTableInterface() { return Entity(running().orderedTableInterface()); }
  std::size_t runUntilIdle() { return running().runUntilIdle(); }
  void runFor(double milliseconds) {
    running().runFor(std::chrono::duration_cast<Quor::EventLoop::Clock::duration>(
        std::chrono::duration<double, std::milli>(milliseconds)));
  }
  bool runUntil(py::function const& done, double milliseconds) {
    return running().runUntil([&] { return static_cast<bool>(py::bool_(done())); },
                              std::chrono::duration_cast<Quor::EventLoop::Clock::duration>(
                                  std::chrono::duration<double, std::milli>(milliseconds)));
  }

  std::uint64_t handlerErrors = 0;

 private:
  ZaduLpm::TcamInterface& live() {
    if (!interface_) {
      throw std::runtime_error("the agent is closed");
    }
    return *interface_;
  }
  Zido::Agent& running() {
    live();
    return *agent_;
  }

  std::unique_ptr<Zido::Agent> agent_;
  Vesk::Ptr<ZaduLpm::TcamInterface> interface_;
};

ZaduLpm::TcamSwTable::ResponseHandler Table::responseHandler(py::object const& handler) {
  if (handler.is_none()) {
    return {};
  }
  Agent* const agent = agent_;
  return [agent, handler](Vesk::Ptr<Zido::OrderedEntryHandle const> const& done) {
    auto const& handle = ZaduLpm::TcamSwTable::EntryHandle::of(done);
    Handle given{std::string(Zido::entryStateName(handle.entryState())),
                 static_cast<std::uint32_t>(handle.entryState()),
                 toPython(Vesk::Codec<ZaduLpmLib::TcamDataModelEntryKey>::encode(handle.key())),
                 handle.logVersion()};
    try {
      handler(given);
    } catch (py::error_already_set& error) {
      // Reported here: a Python exception never unwinds through the library.
      ++agent->handlerErrors;
      error.restore();
      PyErr_Print();
    }
  };
}

void Table::write(py::handle key, py::handle entry, py::object const& handler) {
  ZaduLpmLib::TcamDataModelEntry value =
      Vesk::Codec<ZaduLpmLib::TcamDataModelEntry>::decode(toValue(entry));
  table_->entryWriteWithResponseHandler(keyOf(key), value, nullptr, responseHandler(handler));
}

void Table::remove(py::handle key, py::object const& handler) {
  table_->entryRemoveWithResponseHandler(keyOf(key), nullptr, responseHandler(handler));
}

py::dict writerDict(ZaduRead::Writer const& writer) {
  py::dict result;
  result["pid"] = writer.pid;
  result["alive"] = writer.alive;
  return result;
}

py::dict entryDict(ZaduLpmLib::TcamDataModelEntryData const& entry) {
  py::dict result;
  result["prefix"] = ZaduRead::formatKey(entry.key);
  result["adjacency"] = entry.adjacencyIndex;
  result["action"] = static_cast<int>(entry.action);
  result["classId"] = entry.classId;
  return result;
}

py::list nextHopList(ZaduLpmLib::AdjacencyKey const& nextHop) {
  py::list paths;
  for (ZaduLpmLib::NextHopPath const& path : nextHop.pathSpan()) {
    py::dict each;
    each["gateway"] = ZaduLpmLib::formatIpv4(path.gateway);
    each["ifIndex"] = path.ifIndex;
    paths.append(each);
  }
  return paths;
}

py::dict entryRecordDict(ZaduRead::EntryRecord const& record) {
  py::dict result = entryDict(record.entry);
  result["logVersion"] = record.logVersion;
  result["inDeletion"] = record.inDeletion;
  return result;
}

}  // namespace

PYBIND11_MODULE(zadulpm, module) {
  module.doc() = "ZaduLpm: the TCAM table's reflection, an agent, and read-only reading.";
  static py::exception<Vesk::Exception> error(module, "Error");
  static py::exception<Vesk::ReflectionError> reflectionError(module, "ReflectionError",
                                                              error.ptr());
  static py::exception<Vesk::TypeMismatchError> mismatchError(module, "TypeMismatchError",
                                                              error.ptr());
  static py::exception<ZaduRead::ReadError> readError(module, "ReadError", error.ptr());
  py::register_exception_translator([](std::exception_ptr thrown) {
    try {
      if (thrown) {
        std::rethrow_exception(thrown);
      }
    } catch (ZaduLpmLib::InvalidKeyError const& failure) {
      PyErr_SetString(PyExc_ValueError, failure.what());
    } catch (Vesk::ReflectionError const& failure) {
      reflectionError(failure.what());
    } catch (Vesk::TypeMismatchError const& failure) {
      mismatchError(failure.what());
    } catch (ZaduRead::ReadError const& failure) {
      readError(failure.what());
      PyObject* type = nullptr;
      PyObject* value = nullptr;
      PyObject* traceback = nullptr;
      PyErr_Fetch(&type, &value, &traceback);
      PyErr_NormalizeException(&type, &value, &traceback);
      if (value != nullptr) {
        PyObject_SetAttrString(value, "code", py::int_(static_cast<int>(failure.code())).ptr());
      }
      PyErr_Restore(type, value, traceback);
    } catch (Vesk::Exception const& failure) {
      error(failure.what());
    }
  });

  py::class_<Record>(module, "Record", "A record of the data model: named fields in order.")
      .def(py::init([](py::kwargs const& fields) {
        Record record;
        for (auto const& [name, value] : fields) {
          record.fields.emplace_back(py::str(name).cast<std::string>(),
                                     py::reinterpret_borrow<py::object>(value));
        }
        return record;
      }))
      .def("__getattr__", &Record::get)
      .def("_asdict", &Record::asDict)
      .def("__repr__", &Record::repr)
      .def("__str__", &Record::str)
      .def("__eq__", &Record::equals);

  py::class_<Entity>(module, "Entity", "An entity, through its reflection record.")
      .def_property_readonly("class_name", &Entity::className)
      .def_property_readonly("members", &Entity::members)
      .def_property_readonly("attributes",
                             [](Entity const& entity) {
                               return entity.namesOf(Vesk::TypeData::Member::Kind::Attribute);
                             })
      .def_property_readonly("collections",
                             [](Entity const& entity) {
                               return entity.namesOf(Vesk::TypeData::Member::Kind::Collection);
                             })
      .def_property_readonly("operations",
                             [](Entity const& entity) {
                               return entity.namesOf(Vesk::TypeData::Member::Kind::Operation);
                             })
      .def("__getattr__", &Entity::get)
      .def("__setattr__", &Entity::set)
      .def("call", &Entity::call)
      .def("__dir__",
           [](Entity const& entity) {
             std::vector<std::string> names;
             for (auto const& [name, kind] : entity.members()) {
               names.push_back(name);
             }
             return names;
           })
      .def("__eq__",
           [](Entity const& entity, py::object const& other) {
             return py::isinstance<Entity>(other) &&
                    other.cast<Entity const&>().node() == entity.node();
           })
      .def("__hash__",
           [](Entity const& entity) {
             return std::hash<void const*>()(static_cast<void const*>(entity.node().get()));
           })
      .def("__repr__", &Entity::repr);

  py::class_<Collection>(module, "Collection", "A collection of an entity, as a mapping.")
      .def("__getitem__", &Collection::getItem)
      .def("__setitem__", &Collection::setItem)
      .def("__delitem__", &Collection::delItem)
      .def("__contains__", &Collection::contains)
      .def("__len__", &Collection::size)
      .def("__iter__",
           [](Collection const& collection) {
             py::list keys;
             for (auto const& [key, member] : collection.items()) {
               keys.append(key);
             }
             return py::iter(keys);
           })
      .def("items", &Collection::items)
      .def("keys",
           [](Collection const& collection) {
             std::vector<py::object> keys;
             for (auto const& [key, member] : collection.items()) {
               keys.push_back(key);
             }
             return keys;
           })
      .def("values",
           [](Collection const& collection) {
             std::vector<py::object> members;
             for (auto const& [key, member] : collection.items()) {
               members.push_back(member);
             }
             return members;
           })
      .def("clear", &Collection::clear);

  py::class_<Handle>(module, "Handle", "What a response handler is given.")
      .def_readonly("state", &Handle::state)
      .def_readonly("state_code", &Handle::stateCode)
      .def_readonly("key", &Handle::key)
      .def_readonly("log_version", &Handle::logVersion)
      .def("__repr__", [](Handle const& handle) {
        return "<zadulpm.Handle " + py::repr(handle.key).cast<std::string>() + " " + handle.state +
               ">";
      });

  py::class_<Table>(module, "Table", "A unit's TCAM software table.")
      .def("write", &Table::write, py::arg("key"), py::arg("entry"),
           py::arg("handler") = py::none(),
           "Accepts a write; `handler(handle)` is called once when it completes.")
      .def("remove", &Table::remove, py::arg("key"), py::arg("handler") = py::none())
      .def("remove_all", &Table::removeAll)
      .def("read", &Table::read, "The entry as it will stand once everything pending commits.")
      .def("has", &Table::has)
      .def("__len__", &Table::size)
      .def("entries", &Table::entries, "Every entry, in the table's walk order.")
      .def("snapshot", &Table::snapshot, "getTableEntries_py: a snapshot entity of the entries.")
      .def_property_readonly("entity", &Table::entity);

  py::class_<Agent>(module, "Agent",
                    "The agent side: event loop, central store, ordered-table and TCAM "
                    "interfaces.")
      .def(py::init<std::string const&>(), py::arg("store") = Zido::Agent::defaultStoreName)
      .def("table", &Agent::table, py::arg("unit"), py::arg("reset") = false)
      .def_property_readonly("tcam_interface", &Agent::tcamInterface)
      .def_property_readonly("ordered_table_interface", &Agent::orderedTableInterface)
      .def("run_until_idle", &Agent::runUntilIdle)
      .def("run_for", &Agent::runFor, py::arg("milliseconds"))
      .def("run_until", &Agent::runUntil, py::arg("done"), py::arg("milliseconds"))
      .def("close", &Agent::close)
      .def_readonly("handler_errors", &Agent::handlerErrors);

  module.def(
      "key",
      [](std::string const& text) {
        ZaduLpmLib::TcamDataModelEntryKey const key =
            Vesk::Codec<ZaduLpmLib::TcamDataModelEntryKey>::decode(Vesk::Value(text));
        ZaduLpmLib::requireValidKey(key);
        return toPython(Vesk::Codec<ZaduLpmLib::TcamDataModelEntryKey>::encode(key));
      },
      "The key of a prefix \"A.B.C.D/LEN\"; ValueError when the TCAM cannot hold it.");
  module.def(
      "entry",
      [](py::handle key, std::uint32_t adjacency, std::uint32_t action, std::uint32_t classId,
         std::uint32_t cookie) {
        ZaduLpmLib::TcamDataModelEntry entry;
        entry.keyIs(keyOf(key));
        ZaduLpmLib::requireValidKey(entry.key());
        entry.data.adjacencyIndex = adjacency;
        entry.data.classId = static_cast<std::uint8_t>(classId);
        entry.clientCookie = cookie;
        Vesk::Value value = Vesk::Codec<ZaduLpmLib::TcamDataModelEntry>::encode(entry);
        Vesk::Value::Record fields = value.asRecord();
        for (auto& field : fields) {
          if (field.name == "action") {
            field.value = Vesk::Value(action);
          }
        }
        Vesk::Codec<ZaduLpmLib::TcamDataModelEntry>::decode(Vesk::Value(fields));  // checks
        return toPython(Vesk::Value(fields));
      },
      py::arg("key"), py::arg("adjacency"), py::arg("action") = 0, py::arg("class_id") = 0,
      py::arg("cookie") = 0, "An entry of the data model.");
  module.def(
      "type_names",
      [] {
        std::vector<std::string> names;
        for (Vesk::TypeData const* type : Vesk::TypeRegistry::all()) {
          names.emplace_back(type->name());
        }
        return names;
      },
      "The names of every class reflection knows.");

  py::class_<ZaduRead::Reader>(module, "Reader",
                               "A root's shared memory, read-only (what `zadulpm` shows).")
      .def(py::init<std::string const&, std::string const&>(), py::arg("root") = "",
           py::arg("store") = Zido::Agent::defaultStoreName)
      .def("status",
           [](ZaduRead::Reader& reader) {
             ZaduRead::Status const status = reader.status();
             py::dict changeLog;
             changeLog["present"] = status.changeLog.present;
             changeLog["records"] = status.changeLog.records;
             changeLog["lowestVersion"] = status.changeLog.lowestVersion;
             changeLog["highestVersion"] = status.changeLog.highestVersion;
             changeLog["tableVersion"] = status.changeLog.tableVersion;
             changeLog["writer"] = writerDict(status.changeLog.writer);
             py::dict hardware;
             hardware["present"] = status.hardware.present;
             hardware["publishedVersion"] = status.hardware.publishedVersion;
             hardware["writer"] = writerDict(status.hardware.writer);
             py::list units;
             for (auto const& unit : status.units) {
               py::dict each;
               each["unit"] = unit.unit;
               each["live"] = unit.live;
               each["inDeletion"] = unit.inDeletion;
               each["capacity"] = unit.capacity;
               each["writer"] = writerDict(unit.writer);
               units.append(each);
             }
             py::dict result;
             result["directory"] = status.directory;
             result["changeLog"] = changeLog;
             result["hardware"] = hardware;
             result["units"] = units;
             return result;
           })
      .def(
          "log",
          [](ZaduRead::Reader& reader, std::uint64_t from, std::uint64_t to, std::uint64_t limit) {
            py::list records;
            for (auto const& record : reader.log(from, to, limit)) {
              py::dict each;
              each["version"] = record.version;
              each["unit"] = record.unit;
              each["kind"] = record.kind;
              if (std::string_view(record.kind) != "tableDelete") {
                each["entry"] = entryDict(record.entry);
              }
              records.append(each);
            }
            return records;
          },
          py::arg("from_") = 0, py::arg("to") = std::numeric_limits<std::uint64_t>::max(),
          py::arg("limit") = 0)
      .def(
          "entries",
          [](ZaduRead::Reader& reader, std::uint16_t unit, std::optional<std::string> prefix,
             bool deleted) {
            std::optional<ZaduLpmLib::TcamDataModelEntryKey> key;
            if (prefix) {
              key = ZaduLpmLib::parsePrefix(*prefix);
              if (!key) {
                throw Vesk::TypeMismatchError("'" + *prefix + "' is not a prefix A.B.C.D/LEN");
              }
            }
            py::list records;
            for (auto const& record : reader.entries(unit, key, deleted)) {
              records.append(entryRecordDict(record));
            }
            return records;
          },
          py::arg("unit"), py::arg("prefix") = py::none(), py::arg("deleted") = false)
      .def(
          "route_get",
          [](ZaduRead::Reader& reader, std::uint16_t unit,
             std::string const& address) -> py::object {
            auto const parsed = ZaduLpmLib::parseIpv4(address);
            if (!parsed) {
              throw Vesk::TypeMismatchError("'" + address + "' is not an IPv4 address");
            }
            auto const found = reader.routeGet(unit, *parsed);
            if (!found) {
              return py::none();
            }
            py::dict result = entryRecordDict(*found);
            result["nextHop"] =
                found->nextHop ? py::object(nextHopList(*found->nextHop)) : py::object(py::none());
            return result;
          },
          py::arg("unit"), py::arg("address"))
      .def(
          "adjacencies",
          [](ZaduRead::Reader& reader, bool deleted) {
            py::list records;
            for (ZaduRead::AdjacencyRecord const& record : reader.adjacencies(deleted)) {
              py::dict each;
              each["index"] = record.index;
              each["nextHop"] = nextHopList(record.nextHop);
              each["logVersion"] = record.logVersion;
              each["inDeletion"] = record.inDeletion;
              records.append(each);
            }
            return records;
          },
          "The adjacency table: next hops by index.", py::arg("deleted") = false);
}
