#include "TestTypes.h"

#include "Utility/Crc64.h"

#include <gtest/gtest.h>

#include <tuple>
#include <vector>

namespace {

using RTTI::TypeOf;

uint64_t ChainVersion(uint32_t version, uint64_t parent)
{
    const uint8_t bytes[4] = {uint8_t(version), uint8_t(version >> 8), uint8_t(version >> 16),
                              uint8_t(version >> 24)};
    return Utility::Crc64(bytes, 4, parent);
}

std::vector<std::string> Names(const std::vector<const RTTI::Type*>& types)
{
    std::vector<std::string> names;
    for (const RTTI::Type* type : types)
        names.push_back(type->GetName());
    return names;
}

TEST(Registry, NamesPrimitivesCompositesAndIdentifiers)
{
    RTTI::Registry registry;
    registry.RegisterPrimitives();
    EXPECT_EQ(Names(registry.GetTypes(RTTI::kNoModule)),
              (std::vector<std::string>{"uint8_t", "int8_t", "uint16_t", "int16_t", "uint32_t", "int32_t",
                                        "uint64_t", "int64_t", "bool", "float", "double", "std::string"}));

    EXPECT_EQ(TypeOf<std::vector<uint8_t>>().GetName(), "Array_uint8_t");
    EXPECT_EQ(TypeOf<std::vector<Zoo::Point>>().GetName(), "Array_Zoo::Point");
    EXPECT_EQ(TypeOf<std::unique_ptr<Zoo::Animal>>().GetName(), "UniquePtr_Zoo::Animal");
    EXPECT_EQ(TypeOf<std::vector<std::unique_ptr<Zoo::Animal>>>().GetName(),
              "Array_std::unique_ptr<Zoo::Animal>");
    EXPECT_EQ((TypeOf<std::map<uint64_t, std::string>>().GetName()), "Map_uint64_t_To_std::string");
    EXPECT_EQ((TypeOf<std::unordered_map<Zoo::ThreadID, Zoo::Point>>().GetName()),
              "Map_Zoo::ThreadID_To_Zoo::Point");
    EXPECT_EQ((TypeOf<std::map<std::string, std::unique_ptr<Zoo::Animal>>>().GetName()),
              "Map_std::string_To_std::unique_ptr<Zoo::Animal>");
    EXPECT_EQ(TypeOf<std::set<Zoo::ThreadID>>().GetName(), "Set_Zoo::ThreadID");
    EXPECT_EQ(TypeOf<Zoo::Bird::EFlight>().GetName(), "Zoo::Bird::EFlight");
    // Integer spellings of the same width share the registered primitive.
    EXPECT_EQ(&TypeOf<long long>(), &TypeOf<int64_t>());
    EXPECT_EQ(TypeOf<unsigned char>().GetName(), "uint8_t");

    const RTTI::PrimitiveType* id = TypeOf<Zoo::ThreadID>().AsPrimitive();
    ASSERT_NE(id, nullptr);
    EXPECT_EQ(id->GetWidth(), 4u);
    EXPECT_EQ(id->GetKind(), RTTI::EPrimitiveKind::UnsignedInteger);
    EXPECT_TRUE(id->IsContiguous());
    EXPECT_FALSE(RTTI::Primitives::String().IsContiguous());
}

TEST(Registry, RegistersReferencedTypesOnceAndKeepsTheFirstOfAName)
{
    RTTI::Registry registry;
    registry.Register<Zoo::Enclosure>();
    for (const char* name :
         {"Zoo::Enclosure", "Zoo::Point", "int32_t", "UniquePtr_Zoo::Animal", "Zoo::Animal", "RTTI::Object",
          "std::unique_ptr<Zoo::Animal>", "Zoo::ThreadID", "Zoo::EColor", "uint8_t",
          "Map_Zoo::ThreadID_To_Zoo::Point", "Set_Zoo::ThreadID"})
        EXPECT_NE(registry.FindType(name), nullptr) << name;
    const std::size_t count = registry.GetTypes(RTTI::kNoModule).size();
    registry.Register<Zoo::Enclosure>();
    registry.Register(ZooPlugin::Mammal::StaticType());
    registry.Register<Zoo::Mammal>(); // a second descriptor of the name in the same partition is ignored
    EXPECT_EQ(registry.FindType("Zoo::Mammal"), &ZooPlugin::Mammal::StaticType());
    EXPECT_EQ(registry.GetTypes(RTTI::kNoModule).size(), count + 1);
    EXPECT_EQ(registry.FindType("zoo::enclosure"), nullptr); // names are case-sensitive
}

TEST(Registry, FindsInTheCallersPartitionFirstThenInRegistryOrder)
{
    const RTTI::ModuleId plugin = RTTI::ModuleIdFromName("ZooPlugin");
    RTTI::Registry registry;
    registry.Register<Zoo::Mammal>();
    registry.Register<Zoo::Bird>();
    {
        RTTI::Registry::ModuleScope scope(registry, plugin);
        registry.Register<ZooPlugin::Mammal>();
        EXPECT_EQ(registry.GetCurrentModule(), plugin);
    }
    EXPECT_EQ(registry.GetCurrentModule(), RTTI::kNoModule);
    EXPECT_EQ(registry.GetPartitionCount(), 2u);

    EXPECT_EQ(registry.FindType("Zoo::Mammal"), &Zoo::Mammal::StaticType());
    EXPECT_EQ(registry.FindType("Zoo::Mammal", plugin), &ZooPlugin::Mammal::StaticType());
    EXPECT_EQ(registry.FindType("Zoo::Mammal", 12345),
              &Zoo::Mammal::StaticType()); // unknown caller: registry order
    RTTI::SetThisModule(plugin);
    EXPECT_EQ(registry.FindType("Zoo::Mammal"), &ZooPlugin::Mammal::StaticType());
    EXPECT_EQ(registry.FindType("Zoo::Bird"), &Zoo::Bird::StaticType()); // falls back to the host's partition
    RTTI::SetThisModule(RTTI::kNoModule);
    EXPECT_EQ(registry.FindType("Zoo::OldBird"), &Zoo::Bird::StaticType());
    EXPECT_EQ(registry.FindClass("Zoo::EColor"), nullptr);
}

TEST(Registry, NumbersClassesInPreOrderWithChainedFullVersionsThatIsAFollows)
{
    RTTI::Registry registry;
    registry.Register<Zoo::Bat>();
    registry.Register<Zoo::Bird>();
    const RTTI::CompoundType& object = RTTI::Object::StaticType();
    const RTTI::CompoundType& animal = Zoo::Animal::StaticType();
    const RTTI::CompoundType& mammal = Zoo::Mammal::StaticType();
    const RTTI::CompoundType& bat = Zoo::Bat::StaticType();
    const RTTI::CompoundType& bird = Zoo::Bird::StaticType();
    const RTTI::CompoundType& tagged = Zoo::Tagged::StaticType();

    EXPECT_EQ(object.GetDescendantCount(), 4u); // Animal, Mammal, Bat, Bird
    EXPECT_EQ(animal.GetIndex(), object.GetIndex() + 1);
    EXPECT_EQ(animal.GetDescendantCount(), 3u);
    EXPECT_EQ(mammal.GetIndex(), animal.GetIndex() + 1);
    EXPECT_EQ(bat.GetIndex(), mammal.GetIndex() + 1); // pre-order: a child follows its parent
    EXPECT_EQ(bird.GetIndex(), bat.GetIndex() + 1);
    EXPECT_EQ(tagged.GetDescendantCount(), 0u); // Bat hangs under its first base only

    EXPECT_EQ(object.GetFullVersion(), ChainVersion(1, 0));
    EXPECT_EQ(animal.GetFullVersion(), ChainVersion(2, object.GetFullVersion()));
    EXPECT_EQ(bat.GetFullVersion(), ChainVersion(3, mammal.GetFullVersion()));
    EXPECT_EQ(tagged.GetFullVersion(), ChainVersion(1, 0));

    // A second descriptor of a name (another binary's copy of the class) gets the same numbers.
    {
        RTTI::Registry::ModuleScope scope(registry, RTTI::ModuleIdFromName("ZooPlugin"));
        registry.Register<ZooPlugin::Mammal>();
    }
    const RTTI::CompoundType& pluginMammal = ZooPlugin::Mammal::StaticType();
    EXPECT_EQ(pluginMammal.GetIndex(), mammal.GetIndex());
    EXPECT_EQ(pluginMammal.GetDescendantCount(), mammal.GetDescendantCount());
    EXPECT_EQ(pluginMammal.GetFullVersion(), mammal.GetFullVersion());

    // IsA compares the numbers and follows second bases.
    registry.Register<Zoo::Enclosure>();
    EXPECT_TRUE(RTTI::IsA(mammal, mammal));
    EXPECT_FALSE(RTTI::IsA(mammal, Zoo::Bird::StaticType()));
    EXPECT_FALSE(RTTI::IsA(Zoo::Animal::StaticType(), mammal));
    for (const RTTI::CompoundType* type : {&Zoo::Animal::StaticType(), &mammal, &Zoo::Bat::StaticType(),
                                           &Zoo::Bird::StaticType(), &Zoo::Enclosure::StaticType()})
        EXPECT_TRUE(RTTI::IsA<RTTI::Object>(*type)) << type->GetName();
    EXPECT_FALSE(RTTI::IsA<RTTI::Object>(Zoo::Point::StaticType()));
    EXPECT_TRUE(RTTI::IsA<Zoo::Tagged>(Zoo::Bat::StaticType()));
    EXPECT_FALSE(RTTI::IsA<Zoo::Bat>(Zoo::Tagged::StaticType()));
    // Descriptors of one class from different binaries are interchangeable.
    EXPECT_TRUE(RTTI::IsA(ZooPlugin::Mammal::StaticType(), mammal));
    EXPECT_TRUE(RTTI::IsA(Zoo::Bat::StaticType(), ZooPlugin::Mammal::StaticType()));
    // Other types only match themselves.
    EXPECT_TRUE(RTTI::IsA<int32_t>(TypeOf<int32_t>()));
    EXPECT_FALSE(RTTI::IsA<uint32_t>(TypeOf<int32_t>()));
    EXPECT_FALSE(RTTI::IsA<Zoo::Point>(TypeOf<Zoo::TreeNode>()));
}

TEST(Registry, FlattensPropertiesBasesFirstAndReachesMembersThroughThem)
{
    const RTTI::CompoundType& type = Zoo::Bat::StaticType();
    std::vector<std::string> names;
    for (const RTTI::Property& property : RTTI::Registry::GetProperties(type))
        names.push_back(property.GetName());
    EXPECT_EQ(names, (std::vector<std::string>{"Name", "Legs", "Tag", "WingSpan"}));

    void* instance = RTTI::Registry::Create(type);
    ASSERT_NE(instance, nullptr);
    auto* bat = static_cast<Zoo::Bat*>(instance);
    EXPECT_EQ(RTTI::Registry::FindProperty(type, "Tag")->GetAddress(instance), &bat->mTag); // second base
    EXPECT_EQ(RTTI::Registry::FindProperty(type, "Name")->GetAddress(instance), &bat->mName);
    EXPECT_EQ(RTTI::Registry::FindProperty(type, "WingSpan")->GetAddress(instance), &bat->mWingSpan);
    EXPECT_EQ(RTTI::Registry::FindProperty(type, "Missing"), nullptr);
    EXPECT_EQ(&type.ToObject(instance)->GetType(), &type);
    EXPECT_EQ(type.FromObject(type.ToObject(instance)), instance);
    type.Destroy(instance);

    EXPECT_EQ(RTTI::Object::StaticType().Create(), nullptr); // abstract
    EXPECT_FALSE(Zoo::Tagged::StaticType().IsObjectClass());
}

TEST(Registry, EnumsConvertBetweenNamesAndSignExtendedValues)
{
    const RTTI::EnumType& color = *TypeOf<Zoo::EColor>().AsEnum();
    EXPECT_EQ(RTTI::Registry::ValueToName(color, 2), "Green");
    EXPECT_EQ(RTTI::Registry::ValueToName(color, 3), "<invalid enum value>");
    EXPECT_EQ(RTTI::Registry::NameToValue(color, "Blue"), 4u);
    EXPECT_EQ(RTTI::Registry::NameToValue(color, "Purple"), std::nullopt);
    EXPECT_EQ(color.GetSizeType().GetName(), "uint8_t");

    const RTTI::EnumType& sign = *TypeOf<Zoo::ESigned>().AsEnum();
    EXPECT_EQ(sign.NameToValue("Minus"), static_cast<uint64_t>(-2));
    Zoo::ESigned value = Zoo::ESigned::Zero;
    sign.SetValue(&value, *sign.NameToValue("Minus"));
    EXPECT_EQ(value, Zoo::ESigned::Minus);
    EXPECT_EQ(sign.ValueToName(sign.GetValue(&value)), "Minus");
}

TEST(Registry, ContainerDescriptorsAccessStandardContainers)
{
    Zoo::Enclosure enclosure;
    const RTTI::CompoundType& type = Zoo::Enclosure::StaticType();
    auto address = [&](const char* name) { return type.FindProperty(name)->GetAddress(&enclosure); };

    const RTTI::MapType& labels = *TypeOf<std::map<uint64_t, std::string>>().AsMap();
    for (uint64_t key : {2u, 1u, 2u})
        labels.Insert(address("Labels"), [&](void* k, void* v) {
            *static_cast<uint64_t*>(k) = key;
            *static_cast<std::string*>(v) =
                "v" + std::to_string(key) + std::to_string(enclosure.mLabels.size());
            return true;
        });
    EXPECT_EQ(enclosure.mLabels,
              (std::map<uint64_t, std::string>{{1, "v11"}, {2, "v22"}})); // a repeated key replaces
    std::vector<uint64_t> keys;
    for (auto it = labels.CreateIterator(address("Labels")); !it->IsAtEnd();) {
        const void* key = nullptr;
        const void* value = nullptr;
        it->Next(key, value);
        keys.push_back(*static_cast<const uint64_t*>(key));
    }
    EXPECT_EQ(keys, (std::vector<uint64_t>{1, 2}));

    const RTTI::SetType& keepers = *TypeOf<std::set<Zoo::ThreadID>>().AsSet();
    keepers.Insert(address("Keepers"), [](void* element) {
        *static_cast<Zoo::ThreadID*>(element) = Zoo::ThreadID{7};
        return true;
    });
    EXPECT_FALSE(
        keepers.Insert(address("Keepers"), [](void*) { return false; })); // a failed fill inserts nothing
    EXPECT_EQ(enclosure.mKeepers, (std::set<Zoo::ThreadID>{Zoo::ThreadID{7}}));

    const RTTI::ArrayType& bytes = *TypeOf<std::vector<uint8_t>>().AsArray();
    EXPECT_TRUE(bytes.HasContiguousPrimitives());
    EXPECT_FALSE(TypeOf<std::vector<std::string>>().AsArray()->HasContiguousPrimitives());
    bytes.Resize(address("Bytes"), 3);
    *static_cast<uint8_t*>(bytes.GetElement(address("Bytes"), 2)) = 9;
    EXPECT_EQ(enclosure.mBytes, (std::vector<uint8_t>{0, 0, 9}));

    // Owning pointers report the pointee's dynamic class and take ownership when set.
    const RTTI::PointerType& star = *TypeOf<std::unique_ptr<Zoo::Animal>>().AsPointer();
    EXPECT_EQ(star.Get(address("Star")).object, nullptr);
    void* bat = Zoo::Bat::StaticType().Create();
    star.Set(address("Star"), bat, Zoo::Bat::StaticType());
    const RTTI::PointerType::Target target = star.Get(address("Star"));
    EXPECT_EQ(target.type, &Zoo::Bat::StaticType());
    EXPECT_EQ(target.object, bat);
    EXPECT_EQ(enclosure.mStar.get(), static_cast<Zoo::Animal*>(static_cast<Zoo::Bat*>(bat)));
}

TEST(Registry, ADyingRegistryHandsNumberingBack)
{
    RTTI::Registry outer;
    outer.Register<Zoo::Bird>();
    const uint32_t index = Zoo::Bird::StaticType().GetIndex();
    {
        RTTI::Registry inner;
        inner.Register<Zoo::Point>();
        inner.Register<Zoo::Bat>();
        EXPECT_TRUE(Zoo::Point::StaticType().IsIndexed());
    }
    EXPECT_FALSE(Zoo::Point::StaticType().IsIndexed()); // no live registry holds it
    EXPECT_FALSE(Zoo::Bat::StaticType().IsIndexed());
    EXPECT_TRUE(Zoo::Bird::StaticType().IsIndexed());
    EXPECT_EQ(Zoo::Bird::StaticType().GetIndex(), index);
}

TEST(Registry, ABatchNumbersClassesAsRegisteringThemOneByOneDoes)
{
    const std::vector<const RTTI::CompoundType*> classes = {
        &RTTI::Object::StaticType(), &Zoo::Animal::StaticType(), &Zoo::Mammal::StaticType(),
        &Zoo::Bat::StaticType(),     &Zoo::Bird::StaticType(),   &Zoo::Tagged::StaticType()};
    auto numbers = [&classes]() {
        std::vector<std::tuple<uint32_t, uint32_t, uint64_t>> result;
        for (const RTTI::CompoundType* type : classes)
            result.emplace_back(type->GetIndex(), type->GetDescendantCount(), type->GetFullVersion());
        return result;
    };
    std::vector<std::tuple<uint32_t, uint32_t, uint64_t>> oneByOne;
    {
        RTTI::Registry registry;
        registry.Register<Zoo::Bat>();
        registry.Register<Zoo::Bird>();
        oneByOne = numbers();
    }
    RTTI::Registry registry;
    {
        RTTI::Registry::BatchScope batch(registry);
        registry.Register<Zoo::Bat>();
        registry.Register<Zoo::Bird>();
    }
    EXPECT_TRUE(Zoo::Bird::StaticType().IsIndexed());
    EXPECT_EQ(numbers(), oneByOne);
}

} // namespace
