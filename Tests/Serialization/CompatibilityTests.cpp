// Files written by older (or newer, or differently shaped) classes, read into the running ones.

#include "CompatShapes.h"
#include "SerializationTestSupport.h"

#include "Utility/Format.h"

namespace {

using namespace Serialization;
using TestSupport::HasOnlyError;
using TestSupport::ReadImage;
using TestSupport::WriteImage;

class Compatibility : public testing::Test {
protected:
    void SetUp() override
    {
        Compat::RegisterRunningShapes(mRegistry); // first, so the running classes are found first
        CompatOld::RegisterOldShapes(mRegistry);
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
};

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

TEST_F(Compatibility, RemovedPropertiesAreSkippedAndAddedOnesKeepTheirDefaults)
{
    WidgetHandler handler; // version 2 -> 3 needs a handler, even one that does nothing
    CompatibilityHandlerMap handlers;
    handlers.Add<Compat::Widget>(handler);
    for (bool nullRemovedPointer : {true, false}) {
        auto old = MakeV2();
        if (!nullRemovedPointer)
            old->mRemovedPointer = std::make_unique<CompatOld::Gone>();
        const auto result = ReadImage(WriteImage({old.get()}), mRegistry, EReadMode::Strict, handlers);
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
    WidgetHandler handler;
    CompatibilityHandlerMap handlers;
    handlers.Add<Compat::Widget>(handler);
    auto first = MakeV2();
    first->mChildren.push_back(MakeV2());
    first->mChildren.push_back(MakeV2());
    auto second = MakeV2();
    const auto result =
        ReadImage(WriteImage({first.get(), second.get()}), mRegistry, EReadMode::Strict, handlers);
    ASSERT_TRUE(result.ok) << result.errors.ToString();
    const auto count = [&](const std::string& call) {
        return std::count(handler.calls.begin(), handler.calls.end(), call);
    };
    EXPECT_EQ(count("finish v2 Compat::Widget"), 4);
    EXPECT_EQ(count("root Compat::Widget"), 2);
    EXPECT_EQ(count("removed RemovedPointer"), 4);
    EXPECT_EQ(handler.calls.back(), "root Compat::Widget");

    handler.failRoot = true;
    auto rootRefused = ReadImage(WriteImage({first.get()}), mRegistry, EReadMode::Strict, handlers);
    EXPECT_FALSE(rootRefused.ok);
    EXPECT_TRUE(rootRefused.objects.empty());
    EXPECT_TRUE(HasOnlyError(rootRefused.errors, EErrorCode::Compatibility, "root refused"));

    handler.failRoot = false;
    handler.failRemovedPointer = true;
    auto propertyRefused = ReadImage(WriteImage({first.get()}), mRegistry, EReadMode::Strict, handlers);
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
    WidgetHandler widgetHandler;
    CompatibilityHandlerMap handlers;
    handlers.Add<Compat::Part>(partHandler);
    handlers.Add<Compat::Widget>(widgetHandler);
    auto old = MakeV2();
    old->mChildren.push_back(MakeV2());
    const auto result = ReadImage(WriteImage({old.get()}), mRegistry, EReadMode::Strict, handlers);
    const Compat::Widget& widget = Only(result);
    ASSERT_NE(widget.mPart, nullptr);
    EXPECT_EQ(widget.mPart->mSize, 110);
    ASSERT_EQ(widget.mChildren.size(), 1u); // what follows the replaced bytes is read normally
    EXPECT_EQ(widget.mChildren[0]->mPart->mSize, 110);
}

TEST_F(Compatibility, NewerVersionsRetypedPropertiesAndFormerBasesFail)
{
    WidgetHandler handler;
    CompatibilityHandlerMap withHandler;
    withHandler.Add<Compat::Widget>(handler);
    CompatOld::WidgetV4 newer;
    const std::vector<uint8_t> newerImage = WriteImage({&newer});
    CompatibilityHandlerMap withoutHandler;
    for (const CompatibilityHandlerMap* handlers : {&withHandler, &withoutHandler})
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
        ReadImage(WriteImage({formerlyDerived.get()}), mRegistry, EReadMode::Strict, withHandler).errors,
        EErrorCode::Compatibility,
        "Compatibility issue: object of type Compat::Other used to be derived from Compat::Part "
        "but isn't anymore"));

    CompatOld::Shape shape;
    EXPECT_TRUE(
        HasOnlyError(ReadImage(WriteImage({&shape}), mRegistry).errors, EErrorCode::Compatibility,
                     "Compatibility issue: Object Compat::Shape used to be a compound, but is now of type "
                     "Compat::Shape"));
}

TEST_F(Compatibility, EnumsAreMatchedByName)
{
    WidgetHandler handler;
    CompatibilityHandlerMap handlers;
    handlers.Add<Compat::Widget>(handler);
    const auto renamed = ReadImage(WriteImage({MakeV2(CompatOld::EColor::Olive).get()}), mRegistry,
                                   EReadMode::Strict, handlers);
    EXPECT_TRUE(
        HasOnlyError(renamed.errors, EErrorCode::Compatibility,
                     "Compatibility issue: enum Compat::EColor does not contain the value Olive anymore."));
    const auto unnamed = ReadImage(WriteImage({MakeV2(static_cast<CompatOld::EColor>(3)).get()}), mRegistry,
                                   EReadMode::Strict, handlers);
    EXPECT_TRUE(
        HasOnlyError(unnamed.errors, EErrorCode::Compatibility,
                     "Compatibility issue: enum Compat::EColor does not contain the value <invalid enum "
                     "value> anymore."));
    EXPECT_EQ(Only(ReadImage(WriteImage({MakeV2(CompatOld::EColor::Green).get()}), mRegistry,
                             EReadMode::Strict, handlers))
                  .mColor,
              Compat::EColor::Green);
}

TEST_F(Compatibility, FormerClassNamesLoadThroughAliases)
{
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
    WidgetHandler handler;
    CompatibilityHandlerMap handlers;
    handlers.Add<Compat::Widget>(handler);
    auto widget = MakeV2();
    widget->mPart = std::make_unique<CompatOld::Gone>();
    CompatOld::Gone gone;
    const std::vector<uint8_t> pointerImage = WriteImage({widget.get()});
    const std::vector<uint8_t> rootImage = WriteImage({widget.get(), &gone});

    RTTI::Registry reader; // knows the running classes only
    Compat::RegisterRunningShapes(reader);
    const auto skipped = ReadImage(pointerImage, reader, EReadMode::SkipUnknownTypes, handlers);
    ASSERT_TRUE(skipped.ok) << skipped.errors.ToString();
    EXPECT_EQ(static_cast<const Compat::Widget&>(*skipped.objects[0]).mPart, nullptr);
    EXPECT_EQ(static_cast<const Compat::Widget&>(*skipped.objects[0]).mValues.size(), 3u);

    const auto skippedRoot = ReadImage(rootImage, reader, EReadMode::SkipUnknownTypes, handlers);
    EXPECT_FALSE(skippedRoot.ok); // the read stops at the skipped root, without an error record
    EXPECT_TRUE(skippedRoot.errors.IsEmpty());
    EXPECT_TRUE(skippedRoot.objects.empty());

    for (const auto* image : {&pointerImage, &rootImage})
        EXPECT_TRUE(HasOnlyError(ReadImage(*image, reader, EReadMode::Strict, handlers).errors,
                                 EErrorCode::Compatibility,
                                 "The type Compat::Gone was not registered into the system"));

    // ReadObject finds the root it is asked for; the unknown one is simply not there.
    BinaryMemoryStreamReader objects(EReadMode::SkipUnknownTypes, reader, RTTI::GetDefaultObjectFactory(),
                                     handlers);
    ErrorList errors;
    ASSERT_TRUE(objects.Open(rootImage, errors));
    EXPECT_TRUE(objects.Contains<Compat::Widget>());
    EXPECT_FALSE(objects.Contains<Compat::Part>());
    EXPECT_NE(objects.ReadObject<Compat::Widget>(errors), nullptr);
    EXPECT_TRUE(errors.IsEmpty()) << errors.ToString();
}

} // namespace
