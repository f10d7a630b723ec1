#include "client/QueryProtocol.h"
#include "support/TestBytes.h"

#include <gtest/gtest.h>

namespace {

TEST(QueryProtocol, RequestsAreLittleEndianAndAnswersComeInTwoFormsOrARefusal)
{
    EXPECT_EQ(queryRequest(1040, ""), (Bytes{0x10, 0x04, 0, 0, 0}));
    EXPECT_EQ(queryRequest(1040, "pw"), (Bytes{0x10, 0x04, 0, 0, 'p', 'w', 0}));
    EXPECT_EQ(chunkRequest(), (Bytes{0x10, 0x04, 1, 0}));
    EXPECT_EQ(resendRequest(0x0102), (Bytes{0x10, 0x04, 2, 0, 0x02, 0x01}));

    const uint8_t longAnswer[18] = {0x00, 0x80, 0x03, 0x00, 0xE8, 0x03, 0x00, 0x00, 0x12,
                                    0x00, 0x00, 0x00, 0x88, 0x13, 0x00, 0x00, 0x02, 0x00};
    QueryAnswer answer;
    ASSERT_EQ(parseQueryReply(longAnswer, 18, answer), QueryReply::answer);
    EXPECT_EQ(answer.chunkCount, 3);
    EXPECT_EQ(answer.infoBlockId, 0x12ull << 32 | 1000);
    EXPECT_TRUE(answer.hasGameState);
    EXPECT_EQ(answer.stateAgeMs, 5000u);
    EXPECT_EQ(answer.gameState, 2);
    ASSERT_EQ(parseQueryReply(longAnswer, 12, answer), QueryReply::answer);
    EXPECT_FALSE(answer.hasGameState);
    EXPECT_EQ(answer.infoBlockId, 0x12ull << 32 | 1000);
    const uint8_t refusal[4] = {0x01, 0x80, 0xFF, 0xFF};
    EXPECT_EQ(parseQueryReply(refusal, 4, answer), QueryReply::refused);
    EXPECT_EQ(parseQueryReply(longAnswer, 13, answer), QueryReply::unrelated);
    EXPECT_EQ(parseQueryReply(refusal + 1, 3, answer), QueryReply::unrelated);
}

}  // namespace
