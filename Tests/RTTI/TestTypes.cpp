#include "TestTypes.h"

QX_RTTI_DEFINE_CLASS(Zoo::Point, 1)
{
    type.Property("X", &Point::mX).Property("Y", &Point::mY);
}

QX_RTTI_DEFINE_CLASS(Zoo::Animal, 2)
{
    type.Property("Name", &Animal::mName);
}

QX_RTTI_DEFINE_CLASS(Zoo::Tagged, 1)
{
    type.Property("Tag", &Tagged::mTag);
}

QX_RTTI_DEFINE_CLASS(Zoo::Mammal, 1)
{
    type.Base<Animal>().Property("Legs", &Mammal::mLegs);
}

QX_RTTI_DEFINE_CLASS(Zoo::Bird, 1)
{
    type.Base<Animal>().Alias("Zoo::OldBird").Property("Flight", &Bird::mFlight);
}

QX_RTTI_DEFINE_CLASS(Zoo::Bat, 3)
{
    type.Base<Mammal>().Base<Tagged>().Property("WingSpan", &Bat::mWingSpan);
}

QX_RTTI_DEFINE_CLASS(Zoo::Enclosure, 1)
{
    type.Property("Bytes", &Enclosure::mBytes)
        .Property("Corners", &Enclosure::mCorners)
        .Property("Star", &Enclosure::mStar)
        .Property("Animals", &Enclosure::mAnimals)
        .Property("Labels", &Enclosure::mLabels)
        .Property("Positions", &Enclosure::mPositions)
        .Property("Keepers", &Enclosure::mKeepers)
        .Property("ByName", &Enclosure::mByName)
        .Property("Color", &Enclosure::mColor);
}

QX_RTTI_DEFINE_CLASS(Zoo::TreeNode, 1)
{
    type.Property("Children", &TreeNode::mChildren).Property("Next", &TreeNode::mNext);
}

QX_RTTI_DEFINE_NAMED_CLASS(ZooPlugin::Mammal, "Zoo::Mammal", 1)
{
    type.Base<Zoo::Animal>().Property("Legs", &Mammal::mLegs);
}
