// The model table, the compatibility test and the stand-in images.
#include "model/compatibility.h"
#include "model/model_table.h"
#include "model/stand_in_image.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cwchar>
#include <cwctype>
#include <vector>

namespace {

TEST(ModelTableTest, HoldsTheThreeModelsExactly) {
    const ModelRow expected[] = {
        {L"ZEPHANT 60 LV", 0x3C, 140, 97536},
        {L"ZEPHANT 140 LV", 0x8C, 142, 97184},
        {L"ZEPHANT 90 LV", 0x5A, 141, 97536},
    };
    ASSERT_EQ(MODEL_ROW_COUNT, 3u);
    for (std::size_t i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        EXPECT_STREQ(MODEL_ROWS[i].name, expected[i].name);
        EXPECT_EQ(MODEL_ROWS[i].idByte, expected[i].idByte);
        EXPECT_EQ(MODEL_ROWS[i].imageResourceId, expected[i].imageResourceId);
        EXPECT_EQ(MODEL_ROWS[i].imageBytes, expected[i].imageBytes);
    }
}

TEST(ModelTableTest, IdByteIsTheNumberInTheName) {
    for (const ModelRow& row : MODEL_ROWS) {
        SCOPED_TRACE(row.imageResourceId);
        const std::size_t length = std::wcslen(row.name);
        EXPECT_TRUE(length == 13 || length == 14);
        const wchar_t* digits = row.name;
        while (*digits != L'\0' && !std::iswdigit(static_cast<wint_t>(*digits))) ++digits;
        EXPECT_EQ(std::wcstoul(digits, nullptr, 10), row.idByte);
    }
}

TEST(ModelTableTest, ImagesAreWholeWordsAndOnly140LvEndsInAShortBlock) {
    for (const ModelRow& row : MODEL_ROWS) {
        EXPECT_EQ(row.imageBytes % 16, 0u);
        const std::uint32_t tail = row.imageBytes % 48;
        EXPECT_EQ(tail, row.imageResourceId == 142 ? 32u : 0u);
    }
}

struct CompatibilityCase {
    std::uint32_t hardwareId;
    std::uint8_t modelIdByte;
    bool accepted;
};

TEST(CompatibilityTest, AcceptsBothFamiliesOfTheModelOnly) {
    const CompatibilityCase cases[] = {
        {0x111F403C, 0x3C, true},  {0x0A06403C, 0x3C, true},  {0x111F408C, 0x8C, true},
        {0x0A06408C, 0x8C, true},  {0x111F405A, 0x5A, true},  {0x0A06405A, 0x5A, true},
        // another model's ESC
        {0x0A06405A, 0x3C, false}, {0x0A06405A, 0x8C, false}, {0x111F403C, 0x5A, false},
        {0x111F408C, 0x3C, false},
        // the model's low byte under foreign upper bits
        {0x111F413C, 0x3C, false}, {0x0A07403C, 0x3C, false}, {0x0000003C, 0x3C, false},
        {0xFFFFFF3C, 0x3C, false}, {0x011F403C, 0x3C, false}, {0x1A06403C, 0x3C, false},
        {0x111F4000, 0x3C, false}, {0x0A0640FF, 0x3C, false}, {0x00000000, 0x00, false},
    };
    for (const CompatibilityCase& c : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << c.hardwareId << " for byte " << int{c.modelIdByte});
        EXPECT_EQ(isCompatibleHardwareId(c.hardwareId, c.modelIdByte), c.accepted);
    }
}

double entropyBitsPerByte(const std::vector<std::uint8_t>& bytes, std::vector<std::size_t>* counts) {
    counts->assign(256, 0);
    for (std::uint8_t b : bytes) ++(*counts)[b];
    double bits = 0;
    for (std::size_t count : *counts) {
        if (count == 0) continue;
        const double p = static_cast<double>(count) / static_cast<double>(bytes.size());
        bits -= p * std::log2(p);
    }
    return bits;
}

TEST(StandInImageTest, IsAsDenseAsARealImage) {
    for (const ModelRow& row : MODEL_ROWS) {
        std::vector<std::uint8_t> image(row.imageBytes);
        fillStandInImage(row.imageResourceId, image.data(), image.size());
        std::vector<std::size_t> counts;
        EXPECT_GT(entropyBitsPerByte(image, &counts), 7.99);
        for (std::size_t value = 0; value < 256; ++value) EXPECT_GT(counts[value], 250u) << value;
    }
}

TEST(StandInImageTest, DependsOnlyOnTheResourceId) {
    std::vector<std::uint8_t> first(97536), second(97536), other(97536);
    fillStandInImage(140, first.data(), first.size());
    fillStandInImage(140, second.data(), second.size());
    fillStandInImage(141, other.data(), other.size());
    EXPECT_EQ(first, second);
    EXPECT_NE(first, other);
    // A shorter image is the start of the longer one.
    std::vector<std::uint8_t> shorter(97184);
    fillStandInImage(140, shorter.data(), shorter.size());
    EXPECT_TRUE(std::equal(shorter.begin(), shorter.end(), first.begin()));
}

TEST(StandInImageTest, WritesExactlyTheBytesAskedFor) {
    std::vector<std::uint8_t> buffer(32, 0xA5);
    fillStandInImage(142, buffer.data() + 8, 13);
    for (std::size_t i = 0; i < 8; ++i) EXPECT_EQ(buffer[i], 0xA5) << i;
    for (std::size_t i = 21; i < 32; ++i) EXPECT_EQ(buffer[i], 0xA5) << i;
    std::vector<std::uint8_t> reference(13);
    fillStandInImage(142, reference.data(), reference.size());
    EXPECT_TRUE(std::equal(reference.begin(), reference.end(), buffer.begin() + 8));
}

TEST(ImageSizeCheckTest, RefusesOtherSizesAndPartWords) {
    EXPECT_EQ(checkImageSize(97536, 97536), ImageSizeCheck::Accepted);
    EXPECT_EQ(checkImageSize(97184, 97184), ImageSizeCheck::Accepted);
    EXPECT_EQ(checkImageSize(97184, 97536), ImageSizeCheck::WrongSize);  // the 140 LV image in another build
    EXPECT_EQ(checkImageSize(97536 + 48, 97536), ImageSizeCheck::WrongSize);
    EXPECT_EQ(checkImageSize(0, 97536), ImageSizeCheck::WrongSize);
    EXPECT_EQ(checkImageSize(97537, 97536), ImageSizeCheck::NotWholeWords);
    EXPECT_EQ(checkImageSize(97534, 97536), ImageSizeCheck::NotWholeWords);
}

}  // namespace
