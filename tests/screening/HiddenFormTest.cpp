#include <gtest/gtest.h>

#include <QByteArray>
#include <QImage>
#include <algorithm>
#include <cstdint>
#include <set>
#include <sstream>
#include <string>
#include <string_view>

#include "screening/HiddenForm.h"
#include "screening/VornUtil.h"

namespace gatemoor {
namespace {

// The picture as a decoder outside this program reads it.
QImage Decoded(const TBinaryData& picture) {
    const std::string& bytes = picture.Data();
    return QImage::fromData(QByteArray(bytes.data(), static_cast<qsizetype>(bytes.size())), "GIF");
}

std::uint16_t Little16(std::string_view bytes, std::size_t at) {
    return static_cast<std::uint16_t>(static_cast<unsigned char>(bytes[at]) |
                                      (static_cast<unsigned char>(bytes[at + 1]) << 8));
}

TEST(HiddenForm, DotClearIsOneTransparentPixelIn43Bytes) {
    const THiddenForm1 form;
    const std::string& gif = form.DotClear_gif.Data();
    ASSERT_EQ(gif.size(), 43u);
    EXPECT_EQ(gif.substr(0, 6), "GIF89a");
    EXPECT_EQ(Little16(gif, 6), 1);
    EXPECT_EQ(Little16(gif, 8), 1);
    // The graphic control block marks a colour index transparent.
    const std::size_t control = gif.find("\x21\xF9\x04", 13);
    ASSERT_NE(control, std::string::npos);
    EXPECT_EQ(gif[control + 3] & 1, 1);
    EXPECT_EQ(gif.back(), ';');

    const QImage image = Decoded(form.DotClear_gif);
    ASSERT_FALSE(image.isNull());
    EXPECT_EQ(image.width(), 1);
    EXPECT_EQ(image.height(), 1);
    EXPECT_EQ(qAlpha(image.pixel(0, 0)), 0);
}

struct ButtonCase {
    const char* component;
    const char* fileName;
};

// Every button with the file name the report service serves it under.
constexpr ButtonCase kButtons[] = {
    {"Bulk_Gif", "bulk.gif"},           {"ChainLetter_gif", "chainletter.gif"},
    {"hoax_gif", "hoax.gif"},           {"joke_gif", "joke.gif"},
    {"Personal_gif", "Personal.gif"},   {"Petition_gif", "Petition.gif"},
    {"spacer_gif", "spacer.gif"},       {"spam_gif", "spam.gif"},
    {"UrbanLegend_gif", "UrbanLegend.gif"}, {"ViewReport_gif", "ViewReport.gif"},
    {"Virus_gif", "Virus.gif"},         {"Classify_gif", "Classify.gif"},
    {"Spam2_gif", "Spam2.gif"},         {"Personal2_gif", "Personal2.gif"},
    {"ViewReport2_gif", "ViewReport2.gif"},
};

int OpaquePixels(const QImage& image) {
    int count = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (qAlpha(image.pixel(x, y)) == 255) ++count;
    return count;
}

TEST(HiddenForm, ButtonsAreDistinct23By22Gifs) {
    const THiddenForm1 form;
    std::set<std::string> seen;
    for (const ButtonCase& c : kButtons) {
        SCOPED_TRACE(c.component);
        const TBinaryData* button = form.FindComponent(c.component);
        ASSERT_NE(button, nullptr);
        EXPECT_TRUE(button->Data().starts_with("GIF89a"));
        const QImage image = Decoded(*button);
        ASSERT_FALSE(image.isNull());
        EXPECT_EQ(image.width(), 23);
        EXPECT_EQ(image.height(), 22);
        // The spacer is empty; every other button is drawn across its whole face.
        if (std::string_view(c.component) == "spacer_gif") {
            EXPECT_EQ(OpaquePixels(image), 0);
        } else {
            EXPECT_GT(OpaquePixels(image), 23 * 22 - 8);
        }
        EXPECT_TRUE(seen.insert(button->Data()).second) << "same picture as another button";
    }
}

TEST(HiddenForm, ServesThePlaceholderUnderBothNamesAndEveryButtonOnce) {
    const THiddenForm1 form;
    const auto served = form.ServedPictures();
    std::set<std::string> names;
    for (const auto& picture : served) {
        ASSERT_NE(picture.picture, nullptr);
        // The picture list of the service ignores letter case.
        EXPECT_TRUE(names.insert(AsciiLower(picture.fileName)).second) << picture.fileName;
    }
    ASSERT_EQ(served.size(), std::size(kButtons) + 2);

    const auto pictureNamed = [&](std::string_view name) -> const TBinaryData* {
        for (const auto& picture : served)
            if (picture.fileName == name) return picture.picture;
        return nullptr;
    };
    EXPECT_EQ(pictureNamed("BlockedImage.gif"), &form.DotClear_gif);
    EXPECT_EQ(pictureNamed("DotClear.gif"), &form.DotClear_gif);
    for (const ButtonCase& c : kButtons) {
        SCOPED_TRACE(c.fileName);
        EXPECT_EQ(pictureNamed(c.fileName), form.FindComponent(c.component));
    }
}

TEST(HiddenForm, HoldsSixteenNamedComponents) {
    const THiddenForm1 form;
    const auto components = form.Components();
    std::set<std::string> names;
    for (const TBinaryData* component : components) {
        ASSERT_NE(component, nullptr);
        EXPECT_GT(component->GetDataSize(), 0u) << component->Name();
        EXPECT_EQ(form.FindComponent(component->Name()), component);
        names.insert(component->Name());
    }
    EXPECT_EQ(names.size(), 16u);
    EXPECT_EQ(form.FindComponent("dotclear_gif"), nullptr) << "names match in exact case";
    EXPECT_EQ(components[12], &form.DotClear_gif);
}

// --- TBinaryData -----------------------------------------------------------------------

TEST(BinaryData, TheDataIsALittleEndianLengthThenTheBytes) {
    const std::string cases[] = {std::string(), std::string("abc"), std::string("\0\x01\xFF", 3),
                                 std::string(0x1234, 'x')};
    for (const std::string& bytes : cases) {
        SCOPED_TRACE(bytes.size());
        TBinaryData data("Data");
        data.Data() = bytes;
        const std::string stored = data.WriteTheData();
        ASSERT_EQ(stored.size(), bytes.size() + 4);
        const auto size = static_cast<std::uint32_t>(bytes.size());
        EXPECT_EQ(static_cast<unsigned char>(stored[0]), size & 0xFF);
        EXPECT_EQ(static_cast<unsigned char>(stored[1]), (size >> 8) & 0xFF);
        EXPECT_EQ(stored[2], '\0');
        EXPECT_EQ(stored[3], '\0');
        EXPECT_EQ(stored.substr(4), bytes);

        TBinaryData read("Copy");
        EXPECT_TRUE(read.ReadTheData(stored));
        EXPECT_EQ(read.Data(), bytes);
    }
}

TEST(BinaryData, ReadingAStoredValueOfTheWrongLengthKeepsTheBytes) {
    struct Case {
        const char* name;
        std::string stored;
    };
    const Case cases[] = {
        {"shorter than a length", std::string("\x03\x00\x00", 3)},
        {"fewer bytes than said", std::string("\x05\x00\x00\x00" "abc", 7)},
        {"more bytes than said", std::string("\x01\x00\x00\x00" "abc", 7)},
        {"a length near 4 GB", std::string("\xFF\xFF\xFF\xFF" "abc", 7)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TBinaryData data("Data");
        data.Data() = "kept";
        EXPECT_FALSE(data.ReadTheData(c.stored));
        EXPECT_EQ(data.Data(), "kept");
    }
}

TEST(BinaryData, SizeAndCopy) {
    TBinaryData data("Data");
    data.Data() = "abcdef";
    data.SetDataSize(3);
    EXPECT_EQ(data.Data(), "abc");
    data.SetDataSize(5);
    EXPECT_EQ(data.Data(), std::string("abc\0\0", 5));
    EXPECT_EQ(data.GetDataSize(), 5u);

    std::ostringstream out;
    out << "x";
    EXPECT_TRUE(data.CopyTo(out));
    EXPECT_EQ(out.str(), std::string("xabc\0\0", 6));
    out.setstate(std::ios::badbit);
    EXPECT_FALSE(data.CopyTo(out));
}

}  // namespace
}  // namespace gatemoor
