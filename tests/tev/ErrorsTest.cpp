// Error codes, their texts and the display line.
#include <gtest/gtest.h>

#include "TEV.h"

using TEV::TEVErr;

TEST(ErrorTexts, TableHasTheSixteenFixedTexts) {
    EXPECT_EQ(TEV::TEVErr_StringMap.size(), 16u);
    EXPECT_EQ(TEV::TEVErr_StringMap.at(TEV::UnknownError), "Unknown error");
    EXPECT_EQ(TEV::TEVErr_StringMap.at(TEV::ConnectionFailed), "Connection failed");
    EXPECT_EQ(TEV::TEVErr_StringMap.at(TEV::ErrorDecodingMessage), "Error decoding message");
    EXPECT_EQ(TEV::TEVErr_StringMap.at(TEV::UriNotSet), "URI is not set");
    EXPECT_EQ(TEV::TEVErr_StringMap.at(TEV::ErrorDecodingBase64Image), "Error decoding base-64 image");
    EXPECT_EQ(TEV::TEVErr_StringMap.at(TEV::InstallationError), "Installation error.");
    EXPECT_EQ(TEV::TEVErr_StringMap.at(TEV::VersionMismatch), "TEV Version mismatch between lib and headers");
    EXPECT_EQ(static_cast<int>(TEV::VersionMismatch), 16);
    EXPECT_EQ(static_cast<int>(TEV::TimeoutExceeded), 13);
}

TEST(ErrorMessage, JoinsCodeTextDetailAndContext) {
    EXPECT_EQ(TEVErr(TEV::ConnectionFailed, "Exception in Rest::send_and_receive", "").message(),
              "Connection failed: Exception in Rest::send_and_receive");
    EXPECT_EQ(TEVErr(TEV::ConnectionFailed, "Exception in Rest::send_and_receive", "boom").message(),
              "Connection failed: Exception in Rest::send_and_receive. boom");
    EXPECT_EQ(TEVErr(TEV::ExceptionInPlugin, "server text", "While doing the initial call").message(),
              "Exception in plugin: server text. While doing the initial call");
    EXPECT_EQ(TEVErr(TEV::TimeoutExceeded, "", "").message(), "Timeout exceeded: ");
}

TEST(ErrorMessage, UnknownCodesReadAsTevUnknownError) {
    EXPECT_EQ(TEVErr(static_cast<TEV::TEVErrType>(0), "d", "").message(), "TEV Unknown error: d");
    EXPECT_EQ(TEVErr(static_cast<TEV::TEVErrType>(17), "d", "c").message(), "TEV Unknown error: d. c");
}

TEST(ErrorMessage, CopiesCarryAllThreeFields) {
    TEVErr original(TEV::UriNotSet, "detail", "context");
    TEVErr copy(original);
    EXPECT_EQ(copy.type, TEV::UriNotSet);
    EXPECT_EQ(copy.detail, "detail");
    EXPECT_EQ(copy.context, "context");
}

TEST(ReplyError, OnlyAStringErrorEntryCounts) {
    TEV::MessageDict reply;
    EXPECT_EQ(reply.error(), "");
    reply["error"] = "it broke";
    EXPECT_EQ(reply.error(), "it broke");
    reply["error"] = 5;
    EXPECT_EQ(reply.error(), "");
    TEV::MessageDict list;
    list.push_back(TEV::Dict("error"));
    EXPECT_EQ(list.error(), "");
}
