#include "platform/FoundationJson.h"

#include <QJsonArray>
#include <QJsonObject>
#include <gtest/gtest.h>

TEST(FoundationJson, PrettyPrintsWithSortedKeysAndEscapedSlashes)
{
    QJsonObject inner;
    inner["url"] = "vorna://capture?mode=region";
    inner["b"] = QJsonValue(qint64(2));
    QJsonObject root;
    root["zeta"] = QJsonArray{1, "two", true, QJsonValue()};
    root["alpha"] = inner;
    root["empty"] = QJsonArray();
    root["none"] = QJsonObject();
    const QByteArray expected = "{\n"
                                "  \"alpha\" : {\n"
                                "    \"b\" : 2,\n"
                                "    \"url\" : \"vorna:\\/\\/capture?mode=region\"\n"
                                "  },\n"
                                "  \"empty\" : [\n\n  ],\n"
                                "  \"none\" : {\n\n  },\n"
                                "  \"zeta\" : [\n"
                                "    1,\n"
                                "    \"two\",\n"
                                "    true,\n"
                                "    null\n"
                                "  ]\n"
                                "}";
    EXPECT_EQ(FoundationJson::prettySorted(root), expected);
}

TEST(FoundationJson, EscapesControlCharactersQuotesAndBackslashes)
{
    EXPECT_EQ(FoundationJson::quote(QString("a\"b\\c\nd\te\x01")), QByteArray("\"a\\\"b\\\\c\\nd\\te\\u0001\""));
    EXPECT_EQ(FoundationJson::quote(QString::fromUtf8("\xc3\xa9")), QByteArray("\"\xc3\xa9\""));
}

TEST(FoundationJson, NumbersUseTheShortestRoundTripText)
{
    EXPECT_EQ(FoundationJson::number(0.9), "0.9");
    EXPECT_EQ(FoundationJson::number(1.0), "1");
    EXPECT_EQ(FoundationJson::number(0.1 + 0.2), "0.30000000000000004");
    EXPECT_TRUE(FoundationJson::number(std::numeric_limits<double>::infinity()).isEmpty());
    EXPECT_TRUE(FoundationJson::number(std::nan("")).isEmpty());
}
