// The update's arithmetic: which ESC versions ask first, block plan and tail block, progress
// positions, the progress window's placement and the error box's text.
#include "frontend/failure_text.h"
#include "update/update_logic.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

TEST(VersionQuestion, AskedFromTheImageVersionUpButNotForAnEscWithoutFirmware) {
    struct Case {
        std::uint16_t version;
        bool asked;
    };
    const Case cases[] = {{0x0000, false}, {0x01FF, false}, {0x0200, true}, {0x0201, true},
                          {0x0A03, true},  {0xFFFE, true},  {0xFFFF, false}};
    for (const Case& c : cases) {
        EXPECT_EQ(isVersionQuestionNeeded(c.version), c.asked) << std::hex << c.version;
    }
}

TEST(ImageSize, OnlyWholeWordsWithinTheProgressBound) {
    EXPECT_FALSE(isSendableImageSize(0));
    EXPECT_FALSE(isSendableImageSize(97535));
    EXPECT_FALSE(isSendableImageSize(97538));
    EXPECT_TRUE(isSendableImageSize(97536));
    EXPECT_TRUE(isSendableImageSize(97184));
    EXPECT_TRUE(isSendableImageSize(4));
    EXPECT_TRUE(isSendableImageSize(42949672));
    EXPECT_FALSE(isSendableImageSize(42949676));
}

struct PlannedBlock {
    std::uint32_t wordCount;
    std::vector<std::uint8_t> bytes;  // what the block sends
    bool fromTail;
};

// Walks an image through the transfer's block plan as the transfer does.
std::vector<PlannedBlock> planBlocks(const std::vector<std::uint8_t>& image) {
    std::vector<PlannedBlock> blocks;
    std::uint8_t tail[BLOCK_BYTES];
    std::uint32_t remaining = static_cast<std::uint32_t>(image.size());
    const std::uint8_t* cursor = image.data();
    while (remaining != 0) {
        const TransferBlock block = nextTransferBlock(cursor, remaining, tail);
        const std::uint8_t* start = block.data;
        blocks.push_back({block.wordCount, std::vector<std::uint8_t>(start, start + 4 * block.wordCount),
                          block.data == tail});
        EXPECT_GT(block.imageBytes, 0u);
        cursor += block.imageBytes;
        remaining -= block.imageBytes;
    }
    return blocks;
}

std::vector<std::uint8_t> patternedImage(std::uint32_t bytes) {
    std::vector<std::uint8_t> image(bytes);
    for (std::uint32_t i = 0; i < bytes; ++i) image[i] = static_cast<std::uint8_t>(i * 7 + (i >> 8));
    return image;
}

TEST(BlockPlan, FullImagesGoAsWholeBlocksInImageOrder) {
    const std::vector<std::uint8_t> image = patternedImage(97536);
    const std::vector<PlannedBlock> blocks = planBlocks(image);
    ASSERT_EQ(blocks.size(), 2032u);
    std::vector<std::uint8_t> sent;
    for (const PlannedBlock& block : blocks) {
        EXPECT_EQ(block.wordCount, 12u);
        EXPECT_FALSE(block.fromTail);
        sent.insert(sent.end(), block.bytes.begin(), block.bytes.end());
    }
    EXPECT_EQ(sent, image);
}

TEST(BlockPlan, AShorterImageEndsInAnEightWordBlockFromTheTailBuffer) {
    const std::vector<std::uint8_t> image = patternedImage(97184);
    const std::vector<PlannedBlock> blocks = planBlocks(image);
    ASSERT_EQ(blocks.size(), 2025u);
    EXPECT_EQ(blocks.back().wordCount, 8u);
    EXPECT_TRUE(blocks.back().fromTail);
    EXPECT_EQ(blocks.back().bytes, std::vector<std::uint8_t>(image.end() - 32, image.end()));
}

TEST(BlockPlan, TheTailBufferIsFilledWithFFBehindTheLastBytes) {
    const std::uint8_t rest[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    std::uint8_t tail[BLOCK_BYTES];
    std::memset(tail, 0x5A, sizeof tail);
    const TransferBlock block = nextTransferBlock(rest, 8, tail);
    EXPECT_EQ(block.data, tail);
    EXPECT_EQ(block.wordCount, 2u);
    EXPECT_EQ(std::memcmp(tail, rest, 8), 0);
    for (std::uint32_t i = 8; i < BLOCK_BYTES; ++i) EXPECT_EQ(tail[i], 0xFF) << i;
}

TEST(Progress, FollowsTheBlockCountRoundingDown) {
    const std::uint32_t size = 97536;
    auto afterBlock = [&](std::uint32_t k) { return progressPosition(size, size - 48 * k); };
    EXPECT_EQ(afterBlock(1), 0u);
    EXPECT_EQ(afterBlock(20), 0u);
    EXPECT_EQ(afterBlock(21), 1u);
    EXPECT_EQ(afterBlock(2031), 99u);
    EXPECT_EQ(afterBlock(2032), 100u);
    EXPECT_EQ(progressPosition(97184, 0), 100u);
    EXPECT_EQ(progressPosition(97184, 32), 99u);
    EXPECT_EQ(progressPosition(MAX_IMAGE_BYTES, 0), 100u);  // the product still fits 32 bits
}

TEST(ProgressWindow, IsCentredOnTheDialogWithHalvesRoundedDown) {
    struct Case {
        int left, top, right, bottom, x, y;
    };
    const Case cases[] = {
        {100, 50, 600, 450, 150, 225},  // 500 × 400
        {100, 50, 601, 451, 150, 225},  // odd width and height: the half is rounded down first
        {0, 0, 3, 3, -199, -24},
        {-300, -100, -99, 0, -400, -75},  // left of and above the primary screen
    };
    for (const Case& c : cases) {
        const WindowOrigin origin = progressWindowOrigin(c.left, c.top, c.right, c.bottom);
        EXPECT_EQ(origin.x, c.x) << c.left << "," << c.right;
        EXPECT_EQ(origin.y, c.y) << c.top << "," << c.bottom;
    }
}

std::wstring failureText(const wchar_t* step, std::int32_t code, std::uint32_t lastError, std::size_t chars = 2048) {
    std::vector<wchar_t> buffer(chars, L'?');
    composeFailureText(buffer.data(), chars, step, L"The system shows following errorcode: 0x%08x-0x%08x", code,
                       lastError);
    return buffer.data();
}

TEST(FailureText, CarriesTheErrorCodeLineUnlessTheResultIsMinusOne) {
    struct Case {
        std::int32_t code;
        std::uint32_t lastError;
        const wchar_t* expected;
    };
    const Case cases[] = {
        {-1, 5, L"Step failed."},
        {-2, 31, L"Step failed.\r\nThe system shows following errorcode: 0xfffffffe-0x0000001f"},
        {-3, 109, L"Step failed.\r\nThe system shows following errorcode: 0xfffffffd-0x0000006d"},
        {1627, 0, L"Step failed.\r\nThe system shows following errorcode: 0x0000065b-0x00000000"},
        {0x10000, 0, L"Step failed.\r\nThe system shows following errorcode: 0x00010000-0x00000000"},
    };
    for (const Case& c : cases) EXPECT_EQ(failureText(L"Step failed.", c.code, c.lastError), c.expected) << c.code;
}

TEST(FailureText, StaysTerminatedInsideItsBuffer) {
    const std::wstring text = failureText(L"Step failed.", -2, 31, 20);
    EXPECT_LT(text.size(), 20u);
}

}  // namespace
