#pragma once

// Running classes and older shapes of them. Each older shape is a separate C++ class registered
// under the running class's name in a module partition of its own, so a test can write a file
// exactly as an older program would have, then read it back into the running classes.

#include "RTTI/Reflection.h"

#include <memory>
#include <string>
#include <vector>

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

/// Registers the running classes into the host partition.
void RegisterRunningShapes(RTTI::Registry& registry);

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

/// Registers each older shape (and what it refers to) into a partition of its own.
void RegisterOldShapes(RTTI::Registry& registry);

} // namespace CompatOld
