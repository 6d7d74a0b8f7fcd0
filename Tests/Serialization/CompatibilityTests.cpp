// Files written by older (or newer, or differently shaped) classes, read into the running ones.

#include "SerializationTestSupport.h"

#include "RTTI/Reflection.h"
#include "Serialization/Schema.h"

#include <memory>
#include <string>
#include <vector>

// Running classes and older shapes of them. Each older shape is a separate C++ class registered
// under the running class's name in a module partition of its own, so a test can write a file
// exactly as an older program would have, then read it back into the running classes.

namespace Compat {

enum class EColor : uint8_t { Red = 1, Blue = 7, Green = 9 }; // Blue was 4; Olive is gone
QX_RTTI_ENUM(EColor, "Compat::EColor", Red, Blue, Green);

/// Was a class, is an enum now.
enum class Shape : uint8_t { Square };
QX_RTTI_ENUM(Shape, "Compat::Shape", Square);

class Part : public RTTI::Object {
public:
    QX_RTTI_CLASS(Part);
    int32_t mSize = 0;
};

/// No longer derived from Part.
class Other : public RTTI::Object {
public:
    QX_RTTI_CLASS(Other);
};

/// Version 3; the label was added in version 3, "Removed", "RemovedPointer" and
/// "RemovedList" were dropped. Older files name it "Compat::Gadget" too.
class Widget : public RTTI::Object {
public:
    QX_RTTI_CLASS(Widget);
    int32_t mWidth = 5;
    std::string mLabel = "default";
    EColor mColor = EColor::Red;
    std::vector<int32_t> mValues;
    std::unique_ptr<Part> mPart;
    std::vector<std::unique_ptr<Widget>> mChildren;
};

} // namespace Compat

namespace CompatOld {

enum class EColor : uint8_t { Red = 1, Olive = 2, Blue = 4, Green = 9 };
QX_RTTI_ENUM(EColor, "Compat::EColor", Red, Olive, Blue, Green);

class Part : public RTTI::Object {
public:
    QX_RTTI_CLASS(Part);
    int32_t mSize = 0;
};

class Other : public Part {
public:
    QX_RTTI_CLASS(Other);
};

/// A class that no longer exists.
class Gone : public Part {
public:
    QX_RTTI_CLASS(Gone);
    std::string mWhy;
};

/// Version 2 of Compat::Widget.
class WidgetV2 : public RTTI::Object {
public:
    QX_RTTI_CLASS(WidgetV2);
    int32_t mWidth = 0;
    double mRemoved = 0;
    std::unique_ptr<Part> mRemovedPointer;
    std::vector<std::string> mRemovedList;
    EColor mColor = EColor::Red;
    std::vector<int32_t> mValues;
    std::unique_ptr<Part> mPart;
    std::vector<std::unique_ptr<WidgetV2>> mChildren;
};

/// Version 4: written by a newer program.
class WidgetV4 : public RTTI::Object {
public:
    QX_RTTI_CLASS(WidgetV4);
    int32_t mWidth = 0;
};

/// Version 3, but "Values" held 64-bit numbers.
class WidgetRetyped : public RTTI::Object {
public:
    QX_RTTI_CLASS(WidgetRetyped);
    int32_t mWidth = 0;
    std::vector<int64_t> mValues;
};

/// The former name of Compat::Widget.
class Gadget : public RTTI::Object {
public:
    QX_RTTI_CLASS(Gadget);
    int32_t mWidth = 0;
    std::string mLabel;
};

/// Compat::Shape while it was a class.
class Shape : public RTTI::Object {
public:
    QX_RTTI_CLASS(Shape);
    int32_t mCorners = 4;
};

} // namespace CompatOld

QX_RTTI_DEFINE_CLASS(Compat::Part, 1)
{
    type.Property("Size", &Part::mSize);
}

QX_RTTI_DEFINE_CLASS(Compat::Other, 1) {}

QX_RTTI_DEFINE_CLASS(Compat::Widget, 3)
{
    type.Alias("Compat::Gadget")
        .Property("Width", &Widget::mWidth)
        .Property("Label", &Widget::mLabel)
        .Property("Color", &Widget::mColor)
        .Property("Values", &Widget::mValues)
        .Property("Part", &Widget::mPart)
        .Property("Children", &Widget::mChildren);
}

QX_RTTI_DEFINE_NAMED_CLASS(CompatOld::Part, "Compat::Part", 1)
{
    type.Property("Size", &Part::mSize);
}

QX_RTTI_DEFINE_NAMED_CLASS(CompatOld::Other, "Compat::Other", 1)
{
    type.Base<Part>();
}

QX_RTTI_DEFINE_NAMED_CLASS(CompatOld::Gone, "Compat::Gone", 1)
{
    type.Base<Part>().Property("Why", &Gone::mWhy);
}

QX_RTTI_DEFINE_NAMED_CLASS(CompatOld::WidgetV2, "Compat::Widget", 2)
{
    type.Property("Width", &WidgetV2::mWidth)
        .Property("Removed", &WidgetV2::mRemoved)
        .Property("RemovedPointer", &WidgetV2::mRemovedPointer)
        .Property("RemovedList", &WidgetV2::mRemovedList)
        .Property("Color", &WidgetV2::mColor)
        .Property("Values", &WidgetV2::mValues)
        .Property("Part", &WidgetV2::mPart)
        .Property("Children", &WidgetV2::mChildren);
}

QX_RTTI_DEFINE_NAMED_CLASS(CompatOld::WidgetV4, "Compat::Widget", 4)
{
    type.Property("Width", &WidgetV4::mWidth);
}

QX_RTTI_DEFINE_NAMED_CLASS(CompatOld::WidgetRetyped, "Compat::Widget", 3)
{
    type.Property("Width", &WidgetRetyped::mWidth).Property("Values", &WidgetRetyped::mValues);
}

QX_RTTI_DEFINE_NAMED_CLASS(CompatOld::Gadget, "Compat::Gadget", 3)
{
    type.Property("Width", &Gadget::mWidth).Property("Label", &Gadget::mLabel);
}

QX_RTTI_DEFINE_NAMED_CLASS(CompatOld::Shape, "Compat::Shape", 1)
{
    type.Property("Corners", &Shape::mCorners);
}

namespace {

/// The running classes, in the host partition.
void RegisterRunningShapes(RTTI::Registry& registry)
{
    registry.RegisterPrimitives();
    Serialization::RegisterSchemaTypes(registry);
    registry.Register<Compat::Widget>();
    registry.Register<Compat::Other>();
    registry.Register<Compat::Shape>();
}

/// Each older shape (and what it refers to) in a partition of its own.
void RegisterOldShapes(RTTI::Registry& registry)
{
    auto inModule = [&registry](const char* module, const RTTI::Type& type) {
        RTTI::Registry::ModuleScope scope(registry, RTTI::ModuleIdFromName(module));
        registry.Register(type);
    };
    inModule("Old.V2", CompatOld::WidgetV2::StaticType());
    inModule("Old.V2", CompatOld::Other::StaticType());
    inModule("Old.V2", CompatOld::Gone::StaticType());
    inModule("Old.V4", CompatOld::WidgetV4::StaticType());
    inModule("Old.Retyped", CompatOld::WidgetRetyped::StaticType());
    inModule("Old.Gadget", CompatOld::Gadget::StaticType());
    inModule("Old.Shape", CompatOld::Shape::StaticType());
}

using namespace Serialization;
using TestSupport::HasOnlyError;
using TestSupport::ReadImage;
using TestSupport::WriteImage;

/// Records its hooks and folds removed values into the running object.
class WidgetHandler : public CompatibilityHandler {
public:
    bool ReadRemovedProperty(BinaryReader& reader, BufferCursor& cursor, void* object, const CompoundSchema&,
                             const PropertySchema& stored, ErrorList& errors) override
    {
        calls.push_back("removed " + stored.mName);
        auto& widget = *static_cast<Compat::Widget*>(object);
        if (stored.mName == "Removed") {
            double removed = 0;
            if (!reader.ReadPropertyValue(cursor, stored, removed, errors))
                return false;
            widget.mWidth += static_cast<int32_t>(removed);
        } else if (stored.mName == "RemovedList") {
            std::vector<std::string> list;
            if (!reader.ReadPropertyValue(cursor, stored, list, errors))
                return false;
            for (const std::string& item : list)
                widget.mLabel += item;
        } else if (stored.mName == "RemovedPointer" && failRemovedPointer) {
            errors.Add(EErrorCode::Compatibility, "refused");
            return false;
        }
        return true;
    }
    bool FinishObject(void*, const CompoundSchema& stored, ErrorList&) override
    {
        calls.push_back("finish v" + std::to_string(stored.mVersion) + " " + stored.mName);
        return true;
    }
    bool FinishRootObject(RTTI::Object& root, ErrorList& errors) override
    {
        calls.push_back("root " + root.GetType().GetName());
        if (failRoot)
            errors.Add(EErrorCode::Compatibility, "root refused");
        return !failRoot;
    }

    std::vector<std::string> calls;
    bool failRemovedPointer = false;
    bool failRoot = false;
};

class Compatibility : public testing::Test {
protected:
    void SetUp() override
    {
        RegisterRunningShapes(mRegistry); // first, so the running classes are found first
        RegisterOldShapes(mRegistry);
        mHandlers.Add<Compat::Widget>(mHandler); // version 2 -> 3 needs one, even one that does nothing
    }

    static std::unique_ptr<CompatOld::WidgetV2> MakeV2(CompatOld::EColor color = CompatOld::EColor::Blue)
    {
        auto widget = std::make_unique<CompatOld::WidgetV2>();
        widget->mWidth = 40;
        widget->mRemoved = 2.0;
        widget->mRemovedList = {"a", "b"};
        widget->mColor = color;
        widget->mValues = {1, 2, 3};
        widget->mPart = std::make_unique<CompatOld::Part>();
        widget->mPart->mSize = 11;
        return widget;
    }

    const Compat::Widget& Only(const TestSupport::ReadResult& result)
    {
        EXPECT_TRUE(result.ok) << result.errors.ToString();
        EXPECT_EQ(result.objects.size(), 1u);
        static const Compat::Widget empty;
        if (result.objects.size() != 1 || !RTTI::IsA<Compat::Widget>(result.objects[0]->GetType()))
            return empty;
        return static_cast<const Compat::Widget&>(*result.objects[0]);
    }

    RTTI::Registry mRegistry;
    WidgetHandler mHandler;
    CompatibilityHandlerMap mHandlers;
};

TEST_F(Compatibility, RemovedPropertiesAreSkippedAndAddedOnesKeepTheirDefaults)
{
    for (bool nullRemovedPointer : {true, false}) {
        auto old = MakeV2();
        if (!nullRemovedPointer)
            old->mRemovedPointer = std::make_unique<CompatOld::Gone>();
        const auto result = ReadImage(WriteImage({old.get()}), mRegistry, EReadMode::Strict, mHandlers);
        const Compat::Widget& widget = Only(result);
        EXPECT_EQ(widget.mWidth, 42); // 40 + Removed, through the handler
        EXPECT_EQ(widget.mLabel, "defaultab");
        EXPECT_EQ(widget.mColor, Compat::EColor::Blue); // renumbered from 4 to 7: matched by name
        EXPECT_EQ(widget.mValues, (std::vector<int32_t>{1, 2, 3}));
        ASSERT_NE(widget.mPart, nullptr);
        EXPECT_EQ(widget.mPart->mSize, 11);
    }
    // An older version loads only with a handler.
    const auto refused = ReadImage(WriteImage({MakeV2().get()}), mRegistry);
    EXPECT_FALSE(refused.ok);
    EXPECT_TRUE(HasOnlyError(
        refused.errors, EErrorCode::Compatibility,
        "Compatibility issue: Version number of object of type Compat::Widget has changed from 2 "
        "to 3"));
}

TEST_F(Compatibility, HandlerHooksRunPerObjectAndOncePerRoot)
{
    auto first = MakeV2();
    first->mChildren.push_back(MakeV2());
    first->mChildren.push_back(MakeV2());
    auto second = MakeV2();
    const auto result =
        ReadImage(WriteImage({first.get(), second.get()}), mRegistry, EReadMode::Strict, mHandlers);
    ASSERT_TRUE(result.ok) << result.errors.ToString();
    const auto count = [&](const std::string& call) {
        return std::count(mHandler.calls.begin(), mHandler.calls.end(), call);
    };
    EXPECT_EQ(count("finish v2 Compat::Widget"), 4);
    EXPECT_EQ(count("root Compat::Widget"), 2);
    EXPECT_EQ(count("removed RemovedPointer"), 4);
    EXPECT_EQ(mHandler.calls.back(), "root Compat::Widget");

    mHandler.failRoot = true;
    auto rootRefused = ReadImage(WriteImage({first.get()}), mRegistry, EReadMode::Strict, mHandlers);
    EXPECT_FALSE(rootRefused.ok);
    EXPECT_TRUE(rootRefused.objects.empty());
    EXPECT_TRUE(HasOnlyError(rootRefused.errors, EErrorCode::Compatibility, "root refused"));

    mHandler.failRoot = false;
    mHandler.failRemovedPointer = true;
    auto propertyRefused = ReadImage(WriteImage({first.get()}), mRegistry, EReadMode::Strict, mHandlers);
    EXPECT_FALSE(propertyRefused.ok);
    EXPECT_TRUE(HasOnlyError(propertyRefused.errors, EErrorCode::Compatibility, "refused"));
}

TEST_F(Compatibility, AReplacementObjectTakesThePlaceOfTheStoredOne)
{
    // Reads the stored size straight from the cursor and builds the object itself.
    class PartHandler : public CompatibilityHandler {
    public:
        bool ReadReplacementObject(BinaryReader&, BufferCursor& cursor, const RTTI::CompoundType& running,
                                   std::string_view storedName, const CompoundSchema&,
                                   std::unique_ptr<RTTI::Object>& outObject, ErrorList&) override
        {
            int32_t size = 0;
            if (storedName != "Compat::Part" || running.GetName() != "Compat::Part" || !cursor.Read(size))
                return false;
            auto part = std::make_unique<Compat::Part>();
            part->mSize = size * 10;
            outObject = std::move(part);
            return true;
        }
    } partHandler;
    mHandlers.Add<Compat::Part>(partHandler);
    auto old = MakeV2();
    old->mChildren.push_back(MakeV2());
    const auto result = ReadImage(WriteImage({old.get()}), mRegistry, EReadMode::Strict, mHandlers);
    const Compat::Widget& widget = Only(result);
    ASSERT_NE(widget.mPart, nullptr);
    EXPECT_EQ(widget.mPart->mSize, 110);
    ASSERT_EQ(widget.mChildren.size(), 1u); // what follows the replaced bytes is read normally
    EXPECT_EQ(widget.mChildren[0]->mPart->mSize, 110);
}

TEST_F(Compatibility, NewerVersionsRetypedPropertiesAndFormerBasesFail)
{
    CompatOld::WidgetV4 newer;
    const std::vector<uint8_t> newerImage = WriteImage({&newer});
    CompatibilityHandlerMap withoutHandler;
    for (const CompatibilityHandlerMap* handlers : {&mHandlers, &withoutHandler})
        EXPECT_TRUE(HasOnlyError(
            ReadImage(newerImage, mRegistry, EReadMode::Strict, *handlers).errors, EErrorCode::NewerVersion,
            "Compatibility issue: File contains object of type Compat::Widget that has a newer "
            "version number (4) than the runtime (3)"));

    CompatOld::WidgetRetyped retyped;
    retyped.mValues = {1};
    EXPECT_TRUE(
        HasOnlyError(ReadImage(WriteImage({&retyped}), mRegistry).errors, EErrorCode::Compatibility,
                     "Compatibility issue: Property Values has switched from type Array_int64_t to type "
                     "Array_int32_t. This is not supported."));

    auto formerlyDerived = MakeV2();
    formerlyDerived->mPart = std::make_unique<CompatOld::Other>();
    EXPECT_TRUE(HasOnlyError(
        ReadImage(WriteImage({formerlyDerived.get()}), mRegistry, EReadMode::Strict, mHandlers).errors,
        EErrorCode::Compatibility,
        "Compatibility issue: object of type Compat::Other used to be derived from Compat::Part "
        "but isn't anymore"));

    CompatOld::Shape shape;
    EXPECT_TRUE(
        HasOnlyError(ReadImage(WriteImage({&shape}), mRegistry).errors, EErrorCode::Compatibility,
                     "Compatibility issue: Object Compat::Shape used to be a compound, but is now of type "
                     "Compat::Shape"));
}

TEST_F(Compatibility, EnumsAndFormerClassNamesAreMatchedByName)
{
    const auto renamed = ReadImage(WriteImage({MakeV2(CompatOld::EColor::Olive).get()}), mRegistry,
                                   EReadMode::Strict, mHandlers);
    EXPECT_TRUE(
        HasOnlyError(renamed.errors, EErrorCode::Compatibility,
                     "Compatibility issue: enum Compat::EColor does not contain the value Olive anymore."));
    const auto unnamed = ReadImage(WriteImage({MakeV2(static_cast<CompatOld::EColor>(3)).get()}), mRegistry,
                                   EReadMode::Strict, mHandlers);
    EXPECT_TRUE(
        HasOnlyError(unnamed.errors, EErrorCode::Compatibility,
                     "Compatibility issue: enum Compat::EColor does not contain the value <invalid enum "
                     "value> anymore."));

    // Former class names load through aliases.
    CompatOld::Gadget gadget;
    gadget.mWidth = 3;
    gadget.mLabel = "old name";
    const auto result = ReadImage(WriteImage({&gadget}), mRegistry);
    const Compat::Widget& widget = Only(result);
    EXPECT_EQ(widget.mWidth, 3);
    EXPECT_EQ(widget.mLabel, "old name");
}

TEST_F(Compatibility, UnknownClassesAreSkippedOrRefusedByMode)
{
    auto widget = MakeV2();
    widget->mPart = std::make_unique<CompatOld::Gone>();
    CompatOld::Gone gone;
    const std::vector<uint8_t> pointerImage = WriteImage({widget.get()});
    const std::vector<uint8_t> rootImage = WriteImage({widget.get(), &gone});

    RTTI::Registry reader; // knows the running classes only
    RegisterRunningShapes(reader);
    const auto skipped = ReadImage(pointerImage, reader, EReadMode::SkipUnknownTypes, mHandlers);
    ASSERT_TRUE(skipped.ok) << skipped.errors.ToString();
    EXPECT_EQ(static_cast<const Compat::Widget&>(*skipped.objects[0]).mPart, nullptr);
    EXPECT_EQ(static_cast<const Compat::Widget&>(*skipped.objects[0]).mValues.size(), 3u);

    const auto skippedRoot = ReadImage(rootImage, reader, EReadMode::SkipUnknownTypes, mHandlers);
    EXPECT_FALSE(skippedRoot.ok); // the read stops at the skipped root, without an error record
    EXPECT_TRUE(skippedRoot.errors.IsEmpty());
    EXPECT_TRUE(skippedRoot.objects.empty());

    for (const auto* image : {&pointerImage, &rootImage})
        EXPECT_TRUE(HasOnlyError(ReadImage(*image, reader, EReadMode::Strict, mHandlers).errors,
                                 EErrorCode::Compatibility,
                                 "The type Compat::Gone was not registered into the system"));

    // ReadObject finds the root it is asked for; the unknown one is simply not there.
    BinaryMemoryStreamReader objects(EReadMode::SkipUnknownTypes, reader, RTTI::GetDefaultObjectFactory(),
                                     mHandlers);
    ErrorList errors;
    ASSERT_TRUE(objects.Open(rootImage, errors));
    EXPECT_TRUE(objects.Contains<Compat::Widget>());
    EXPECT_FALSE(objects.Contains<Compat::Part>());
    EXPECT_NE(objects.ReadObject<Compat::Widget>(errors), nullptr);
    EXPECT_TRUE(errors.IsEmpty()) << errors.ToString();
}

} // namespace
