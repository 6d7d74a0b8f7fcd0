#include "CompatShapes.h"

#include "Serialization/Schema.h"

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

void Compat::RegisterRunningShapes(RTTI::Registry& registry)
{
    registry.RegisterPrimitives();
    Serialization::RegisterSchemaTypes(registry);
    registry.Register<Widget>();
    registry.Register<Other>();
    registry.Register<Shape>();
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

void CompatOld::RegisterOldShapes(RTTI::Registry& registry)
{
    auto inModule = [&registry](const char* module, const RTTI::Type& type) {
        RTTI::Registry::ModuleScope scope(registry, RTTI::ModuleIdFromName(module));
        registry.Register(type);
    };
    inModule("Old.V2", WidgetV2::StaticType());
    inModule("Old.V2", Other::StaticType());
    inModule("Old.V2", Gone::StaticType());
    inModule("Old.V4", WidgetV4::StaticType());
    inModule("Old.Retyped", WidgetRetyped::StaticType());
    inModule("Old.Gadget", Gadget::StaticType());
    inModule("Old.Shape", Shape::StaticType());
}
