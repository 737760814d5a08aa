#include "core/common/Json.h"

#include <gtest/gtest.h>
#include <limits>

namespace ventoral {
namespace {

TEST(JsonDecoding, IntegersAcceptIntegralNumbersOnly) {
    EXPECT_EQ(json::decodeInt64(Json(7), "x"), 7);
    EXPECT_EQ(json::decodeInt64(Json::parse("3.0"), "x"), 3);
    EXPECT_THROW(json::decodeInt64(Json::parse("3.5"), "x"), DecodingError);
    EXPECT_THROW(json::decodeInt64(Json::parse("18446744073709551615"), "x"), DecodingError);
    EXPECT_THROW(json::decodeInt64(Json("7"), "x"), DecodingError);
    EXPECT_THROW(json::decodeInt64(Json(true), "x"), DecodingError);
}

TEST(JsonDecoding, FloatsMustFitInThirtyTwoBits) {
    EXPECT_FLOAT_EQ(json::decodeFloat(Json(2150.5), "x"), 2150.5f);
    EXPECT_THROW(json::decodeFloat(Json(1e40), "x"), DecodingError);
    EXPECT_THROW(json::decodeFloat(Json(nullptr), "x"), DecodingError);
}

TEST(JsonDecoding, ErrorsNameTheContextAndTheFoundType) {
    try {
        json::decodeBool(Json(1), "FanInfo.isForced");
        FAIL() << "accepted an integer as a boolean";
    } catch (const DecodingError& error) {
        EXPECT_STREQ(error.what(), "FanInfo.isForced: expected a boolean, found an integer");
    }
    try {
        json::requireMember(Json::object(), "name", "FanInfo");
        FAIL();
    } catch (const DecodingError& error) {
        EXPECT_STREQ(error.what(), "FanInfo: missing member \"name\"");
    }
}

TEST(JsonEncoding, FloatsUseTheShortestRoundTrippingText) {
    EXPECT_EQ(json::encodeFloat(0.1f, "x").dump(), "0.1");
    EXPECT_EQ(json::encodeFloat(2150.0f, "x").dump(), "2150");
    EXPECT_EQ(json::encodeFloat(1800.5f, "x").dump(), "1800.5");
    EXPECT_EQ(json::encodeFloat(-0.0f, "x").dump(), "0");
    EXPECT_EQ(json::encodeDouble(45.0, "x").dump(), "45");
    EXPECT_EQ(json::encodeDouble(1e20, "x").dump(), "1e+20");
    EXPECT_EQ(json::encodeDouble(93.99, "x").dump(), "93.99");
    EXPECT_THROW(json::encodeFloat(std::numeric_limits<float>::quiet_NaN(), "x"), EncodingError);
    EXPECT_THROW(json::encodeDouble(std::numeric_limits<double>::infinity(), "x"), EncodingError);
}

TEST(JsonParse, MalformedBytesRaiseADecodingError) {
    EXPECT_THROW(json::parse("{\"a\":"), DecodingError);
    EXPECT_THROW(json::parse("[1e999]"), DecodingError);
    EXPECT_EQ(json::parse("[1,2]").size(), 2u);
}

TEST(JsonParse, NestingIsLimitedBeforeAnythingIsBuilt) {
    auto nested = [](int depth, const std::string& inside = "") {
        return std::string(static_cast<std::size_t>(depth), '[') + inside +
               std::string(static_cast<std::size_t>(depth), ']');
    };
    EXPECT_NO_THROW(json::parse(nested(64)));
    EXPECT_THROW(json::parse(nested(65)), DecodingError);
    EXPECT_THROW(json::parse(std::string(10'000'000, '[')), DecodingError);
    // Brackets inside strings, escaped quotes included, do not count.
    EXPECT_NO_THROW(json::parse(nested(60, "\"\\\"" + std::string(100, '[') + "\"")));
}

} // namespace
} // namespace ventoral
