#include "Quor/Entity.h"

#include <gtest/gtest.h>

#include "Hunkpool/Pool.h"
#include "Vesk/Exception.h"
#include "Vesk/TypeBuilder.h"

namespace {

class Registry : public Quor::Entity {
  HUNKPOOL_CLASS_ALLOCATION(Registry)
 public:
  Vesk::TypeData const& typeData() const override { return staticTypeData(); }
  static Vesk::TypeData const& staticTypeData() {
    static Vesk::TypeData const& type =
        Vesk::TypeBuilder<Registry>("Test::Registry", &Quor::Entity::staticTypeData())
            .creator("RegistryIs", [] { return Vesk::Ptr<Registry>(new Registry()); })
            .done();
    return type;
  }
};

[[maybe_unused]] auto const& registered = Registry::staticTypeData();

TEST(EntityTest, SingletonsAreMadeOnceAndFoundByTypeNameOrRefused) {
  EXPECT_FALSE(Quor::Entity::singletonExists("Test::Registry"));
  Vesk::Ptr<Quor::Entity> made = Quor::Entity::singletonIs("Test::Registry");
  ASSERT_TRUE(made);
  EXPECT_EQ(Quor::Entity::singletonIs("Test::Registry"), made);
  EXPECT_EQ(Quor::Entity::singletonExists("Test::Registry"), made);
  EXPECT_EQ(made->refCount(), 2u);  // the registry's and ours

  Quor::Entity::singletonDel("Test::Registry");
  EXPECT_FALSE(Quor::Entity::singletonExists("Test::Registry"));
  EXPECT_EQ(made->refCount(), 1u);

  // Types that are unknown or cannot be made through reflection are refused.
  EXPECT_THROW(Quor::Entity::singletonIs("Test::Unknown"), Vesk::ReflectionError);
  EXPECT_THROW(Quor::Entity::singletonIs("Quor::Entity"), Vesk::ReflectionError);
}

}  // namespace
