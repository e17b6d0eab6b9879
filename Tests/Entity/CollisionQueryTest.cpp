#include "Entity/CollisionQuery.h"

#include <gtest/gtest.h>

namespace {

TEST(CollisionQuery, ClearGivesTheArraysBack)
{
    CollisionQuery query;
    for (int i = 0; i < 100; ++i) {
        *query.candidates.at(i) = i;
        query.triangles.at(i)->indices[0] = i;
        *query.vertices.at(i) = {float(i), 0, 0};
    }
    query.triangleCount = query.vertexCount = 100;
    query.clear();
    EXPECT_EQ(query.triangleCount, 0u);
    EXPECT_EQ(query.vertexCount, 0u);
    EXPECT_EQ(query.candidates.count(), 0);
    EXPECT_EQ(query.triangles.count(), 0);
    EXPECT_EQ(query.vertices.count(), 0);
    // The query sphere starts with a radius of 1.
    EXPECT_EQ(CollisionQuery{}.radius, 1.0f);
    EXPECT_EQ(CollisionQuery{}.radiusSq, 1.0f);
}

}
