#pragma once

// A small class zoo for the registry tests: a hierarchy with a two-base class, an identifier,
// enums and every container kind.

#include "RTTI/Reflection.h"

#include <map>
#include <memory>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

namespace Zoo {

QX_RTTI_IDENTIFIER(ThreadID, uint32_t, "Zoo::ThreadID");

enum class EColor : uint8_t { Red = 1, Green = 2, Blue = 4 };
QX_RTTI_ENUM(EColor, "Zoo::EColor", Red, Green, Blue);

enum class ESigned : int16_t { Minus = -2, Zero = 0, Plus = 3 };
QX_RTTI_ENUM(ESigned, "Zoo::ESigned", Minus, Zero, Plus);

struct Point {
    QX_RTTI_STRUCT(Point);
    int32_t mX = 0;
    int32_t mY = 0;
};

class Animal : public RTTI::Object {
public:
    QX_RTTI_CLASS(Animal);
    std::string mName;
};

class Tagged {
public:
    QX_RTTI_STRUCT(Tagged);
    virtual ~Tagged() = default;
    uint64_t mTag = 7;
};

class Mammal : public Animal {
public:
    QX_RTTI_CLASS(Mammal);
    int32_t mLegs = 4;
};

class Bird : public Animal {
public:
    QX_RTTI_CLASS(Bird);
    enum class EFlight : uint8_t { Never, Glide, Fly };
    QX_RTTI_NESTED_ENUM(EFlight, "Zoo::Bird::EFlight", Never, Glide, Fly);
    EFlight mFlight = EFlight::Fly;
};

/// Two bases: Mammal first, then Tagged, whose subobject does not start the object.
class Bat : public Mammal, public Tagged {
public:
    QX_RTTI_CLASS(Bat);
    double mWingSpan = 0.3;
};

class Enclosure : public RTTI::Object {
public:
    QX_RTTI_CLASS(Enclosure);
    std::vector<uint8_t> mBytes;
    std::vector<Point> mCorners;
    std::unique_ptr<Animal> mStar;
    std::vector<std::unique_ptr<Animal>> mAnimals;
    std::map<uint64_t, std::string> mLabels;
    std::unordered_map<ThreadID, Point> mPositions;
    std::set<ThreadID> mKeepers;
    std::map<std::string, std::unique_ptr<Animal>> mByName;
    EColor mColor = EColor::Green;
};

/// Recursive through an owning pointer and an array of values.
struct TreeNode {
    QX_RTTI_STRUCT(TreeNode);
    std::vector<TreeNode> mChildren;
    std::unique_ptr<TreeNode> mNext;
};

} // namespace Zoo

namespace ZooPlugin {

/// The same class name as Zoo::Mammal, built by "another binary" (a second descriptor).
class Mammal : public Zoo::Animal {
public:
    QX_RTTI_CLASS(Mammal);
    int32_t mLegs = 2;
};

} // namespace ZooPlugin
