#include "geometry/texture_params_table.h"

#include "texture/texture_params.h"

#include <gtest/gtest.h>

namespace {

TEST(TextureParamsTable, HandlesResolveUntilReleased) {
    TextureParams a;
    TextureParams b;
    int ownerA = 0;
    int ownerB = 0;
    const std::uint32_t ha = RegisterTextureParams(&a, &ownerA);
    const std::uint32_t hb = RegisterTextureParams(&b, &ownerB);
    EXPECT_NE(ha, 0u);
    EXPECT_NE(ha, hb);
    EXPECT_EQ(ResolveTextureRef(ha), &a);
    EXPECT_EQ(TextureRefOf(&ownerB), hb);
    EXPECT_EQ(ResolveTextureRef(0), nullptr);
    EXPECT_EQ(TextureRefOf(nullptr), 0u);

    // A freed slot taken again gives a new handle; the old one stays stale.
    UnregisterTextureParams(ha);
    EXPECT_EQ(ResolveTextureRef(ha), nullptr);
    EXPECT_EQ(TextureRefOf(&ownerA), 0u);
    const std::uint32_t again = RegisterTextureParams(&b, &ownerA);
    EXPECT_NE(again, ha);
    EXPECT_EQ(ResolveTextureRef(ha), nullptr);
    EXPECT_EQ(ResolveTextureRef(again), &b);
    UnregisterTextureParams(ha);  // stale: changes nothing
    EXPECT_EQ(ResolveTextureRef(again), &b);
    EXPECT_EQ(ResolveTextureRef(0xFFFFFFFFu), nullptr);
    UnregisterTextureParams(again);
    UnregisterTextureParams(hb);
}

}  // namespace
