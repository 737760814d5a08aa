#include "core/common/Uuid.h"

#include <gtest/gtest.h>
#include <set>

namespace ventoral {
namespace {

TEST(Uuid, TextIsUpperCaseAndRoundTrips) {
    auto parsed = Uuid::parse("e621e1f8-c36c-495a-93fc-0c247a3e6e5f");
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->string(), "E621E1F8-C36C-495A-93FC-0C247A3E6E5F");
    EXPECT_EQ(Uuid::parse(parsed->string()), parsed);
}

TEST(Uuid, RejectsMalformedText) {
    for (const char* text :
         {"", "E621E1F8C36C495A93FC0C247A3E6E5F", "E621E1F8-C36C-495A-93FC-0C247A3E6E5",
          "G621E1F8-C36C-495A-93FC-0C247A3E6E5F", "E621E1F8-C36C-495A-93FC_0C247A3E6E5F",
          "E621E1F8-C36C-495A-93FC-0C247A3E6E5FF"}) {
        EXPECT_FALSE(Uuid::parse(text)) << text;
    }
}

TEST(Uuid, RandomIdentifiersAreVersionFourAndDistinct) {
    std::set<Uuid> seen;
    for (int i = 0; i < 200; ++i) {
        Uuid id = Uuid::random();
        EXPECT_EQ(id.bytes()[6] >> 4, 4);
        EXPECT_EQ(id.bytes()[8] & 0xC0, 0x80);
        seen.insert(id);
    }
    EXPECT_EQ(seen.size(), 200u);
}

} // namespace
} // namespace ventoral
