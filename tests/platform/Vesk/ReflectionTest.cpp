#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>

#include "Hunkpool/Pool.h"
#include "Vesk/Exception.h"
#include "Vesk/Node.h"
#include "Vesk/TypeBuilder.h"

namespace {

using ::testing::HasSubstr;
using Vesk::Value;

class Router : public Vesk::Node {
  HUNKPOOL_CLASS_ALLOCATION(Router)
 public:
  explicit Router(std::string name) : name_(std::move(name)) {}

  std::string const& name() const { return name_; }
  void nameIs(std::string const& name) { name_ = name; }
  std::uint16_t id() const { return 42; }
  Vesk::Ptr<Router> peer() const { return peer_; }
  void peerIs(Vesk::Ptr<Router> const& peer) { peer_ = peer; }

  std::int64_t add(std::int64_t a, std::uint8_t b) const { return a + b; }
  void fail() { throw Vesk::Exception("refused"); }

  std::map<std::uint32_t, std::string> routes;

  Vesk::TypeData const& typeData() const override { return staticTypeData(); }
  static Vesk::TypeData const& staticTypeData();

 private:
  std::string name_;
  Vesk::Ptr<Router> peer_;
};

class EdgeRouter : public Router {
  HUNKPOOL_CLASS_ALLOCATION(EdgeRouter)
 public:
  using Router::Router;
  bool edge() const { return true; }
  Vesk::TypeData const& typeData() const override { return staticTypeData(); }
  static Vesk::TypeData const& staticTypeData();
};

class Stranger : public Vesk::Node {
  HUNKPOOL_CLASS_ALLOCATION(Stranger)
};

Vesk::Ptr<Router> routerFactory(std::string const& name) {
  return new Router(name);
}

Vesk::TypeData const& Router::staticTypeData() {
  using Binding = Vesk::CollectionBinding<Router, std::uint32_t, std::string>;
  static Vesk::TypeData const& type =
      Vesk::TypeBuilder<Router>("Test::Router", &Vesk::Node::staticTypeData())
          .attribute("name", &Router::name, &Router::nameIs)
          .attribute("id", &Router::id)
          .attribute("peer", &Router::peer, &Router::peerIs)
          .collection<std::uint32_t, std::string>(
              "routes",
              Binding{
                  .lookup =
                      [](Router const& router, std::uint32_t const& key) {
                        return router.routes.contains(key) ? router.routes.at(key) : std::string();
                      },
                  .has = [](Router const& router,
                            std::uint32_t const& key) { return router.routes.contains(key); },
                  .count = [](Router const& router) { return router.routes.size(); },
                  .forEach =
                      [](Router const& router, auto const& visit) {
                        std::ranges::all_of(router.routes, [&](auto const& route) {
                          return visit(route.first, route.second);
                        });
                      },
                  .insertAt = [](Router& router, std::uint32_t const& key,
                                 std::string const& route) { router.routes[key] = route; },
                  .del =
                      [](Router& router, std::uint32_t const& key) {
                        return router.routes.extract(key).mapped();
                      },
              })
          .operation("add", &Router::add)
          .operation("fail", &Router::fail)
          .operation("describe",
                     [](Router const& router, bool loud) {
                       return loud ? router.name() + "!" : router.name();
                     })
          .creator("RouterIs", &routerFactory)
          .done();
  return type;
}

Vesk::TypeData const& EdgeRouter::staticTypeData() {
  static Vesk::TypeData const& type =
      Vesk::TypeBuilder<EdgeRouter>("Test::EdgeRouter", &Router::staticTypeData())
          .attribute("edge", &EdgeRouter::edge)
          .done();
  return type;
}

[[maybe_unused]] auto const& edgeRegistered = EdgeRouter::staticTypeData();

TEST(ReflectionTest, AttributesOperationsAndCollectionsAreReachedByName) {
  Vesk::Ptr<Router> router(new EdgeRouter("core"));
  EXPECT_EQ(Vesk::attribute(*router, "name"), Value("core"));
  EXPECT_EQ(Vesk::attribute(*router, "id"), Value(42));
  EXPECT_EQ(Vesk::attribute(*router, "edge"), Value(true));
  Vesk::attributeIs(*router, "name", Value("spine"));
  EXPECT_EQ(router->name(), "spine");

  Vesk::Ptr<Router> peer(new Router("peer"));
  Vesk::attributeIs(*router, "peer", Value(peer));
  EXPECT_EQ(router->peer(), peer);
  EXPECT_EQ(Vesk::attribute(*router, "peer").asEntity(), peer);
  Vesk::attributeIs(*router, "peer", Value());
  EXPECT_FALSE(router->peer());

  // Operations decode their arguments and encode their results.
  EXPECT_EQ(Vesk::call(*router, "add", {Value(-5), Value(7u)}), Value(2));
  EXPECT_EQ(Vesk::call(*router, "describe", {Value(true)}), Value("spine!"));
  EXPECT_TRUE(Vesk::call(*router, "RouterIs", {Value("x")}).asEntity());
  EXPECT_THROW(Vesk::call(*router, "fail", {}), Vesk::Exception);

  Vesk::Ptr<Vesk::Node> made = Vesk::TypeRegistry::get("Test::Router").create({Value("new")});
  ASSERT_TRUE(made);
  EXPECT_EQ(Vesk::attribute(*made, "name"), Value("new"));
  EXPECT_EQ(made->refCount(), 1u);

  Vesk::collectionInsertAt(*router, "routes", Value(2), Value("b"));
  Vesk::collectionInsertAt(*router, "routes", Value(1), Value("a"));
  Vesk::collectionInsertAt(*router, "routes", Value(3), Value("c"));
  EXPECT_EQ(Vesk::collectionCount(*router, "routes"), 3u);
  EXPECT_TRUE(Vesk::collectionHas(*router, "routes", Value(2)));
  EXPECT_EQ(Vesk::collectionLookup(*router, "routes", Value(3)), Value("c"));

  std::vector<std::uint64_t> visited;
  Vesk::collectionForEach(*router, "routes", [&](Value const& key, Value const&) {
    visited.push_back(key.asUInt());
    return visited.size() < 2;
  });
  EXPECT_EQ(visited, (std::vector<std::uint64_t>{1, 2}));

  EXPECT_EQ(Vesk::collectionDel(*router, "routes", Value(1)), Value("a"));
  EXPECT_EQ(router->routes.size(), 2u);
}

// Every reflection error names the class and the member and says what is
// wrong.
TEST(ReflectionTest, ErrorsAreClearExceptions) {
  Vesk::Ptr<Router> router(new Router("core"));
  auto message = [](auto&& action) -> std::string {
    try {
      action();
    } catch (Vesk::ReflectionError const& error) {
      return error.what();
    }
    return "no error";
  };

  EXPECT_EQ(message([&] { Vesk::attribute(*router, "nope"); }),
            "Test::Router has no attribute or operation 'nope'");
  EXPECT_EQ(message([&] { Vesk::attributeIs(*router, "id", Value(1)); }),
            "Test::Router::id is read-only");
  EXPECT_EQ(message([&] { Vesk::attribute(*router, "add"); }),
            "Test::Router::add is an operation, not an attribute");
  EXPECT_EQ(message([&] { Vesk::call(*router, "name", {}); }),
            "Test::Router::name is an attribute, not an operation");
  EXPECT_EQ(message([&] { Vesk::call(*router, "add", {Value(1)}); }),
            "Test::Router::add takes 2 arguments (int64, uint8), 1 given");
  EXPECT_EQ(message([&] {
              Vesk::call(*router, "add", {Value(1), Value("two")});
            }),
            "Test::Router::add argument 2 (uint8): expected unsigned integer, got string \"two\"");
  EXPECT_EQ(message([&] {
              Vesk::call(*router, "add", {Value(1), Value(300)});
            }),
            "Test::Router::add argument 2 (uint8): value 300 does not fit uint8");
  EXPECT_EQ(message([&] { Vesk::attributeIs(*router, "name", Value(5)); }),
            "Test::Router::name value: expected string, got signed integer 5");
  EXPECT_EQ(message([&] { Vesk::collectionInsert(*router, "routes", Value("x")); }),
            "Test::Router::routes does not offer insertion of a member that carries its key");
  EXPECT_EQ(message([&] { Vesk::collectionLookup(*router, "routes", Value(-1)); }),
            "Test::Router::routes key: expected unsigned integer, got signed integer -1");
  EXPECT_EQ(message([&] { Vesk::TypeRegistry::get("Test::Nothing"); }),
            "no type named 'Test::Nothing' is registered");
  EXPECT_EQ(message([&] { Vesk::Node::staticTypeData().create({}); }),
            "Vesk::Node cannot be made through reflection");

  Vesk::Ptr<Stranger> stranger(new Stranger());
  EXPECT_THAT(message([&] { Vesk::attributeIs(*router, "peer", Value(stranger)); }),
              HasSubstr("Test::Router::peer value: expected entity Test::Router, got <Vesk::Node"));
  EXPECT_THAT(message([&] { Vesk::attributeIs(*router, "peer", Value(true)); }),
              HasSubstr("Test::Router::peer value: expected entity, got bool true"));
}

}  // namespace
