// Image record: storage by depth, dictionary form and conversion back.
#include <gtest/gtest.h>

#include <cstring>

#include "TEV.h"

using TEV::Dict;
using TEV::Image;

TEST(ImageStore, KindAndSizeFollowTheBitDepth) {
    Image b8(2, 1, 3, 8, 1.0f, 0, 1.0f);
    ASSERT_EQ(b8.pixels.index(), 0u);
    EXPECT_EQ(std::get<std::vector<unsigned char>>(b8.pixels), std::vector<unsigned char>(6, 0));

    Image b16(2, 1, 3, 16, 1.0f, 0, 1.0f);
    EXPECT_EQ(std::get<std::vector<unsigned char>>(b16.pixels).size(), 12u);

    Image f32(2, 1, 3, 32, 1.0f, 0, 1.0f);
    EXPECT_EQ(std::get<std::vector<float>>(f32.pixels), std::vector<float>(6, 0.0f));

    Image empty(0, 5, 3, 8, 1.0f, 0, 1.0f);
    EXPECT_TRUE(std::get<std::vector<unsigned char>>(empty.pixels).empty());

    Image def;
    EXPECT_EQ(def.width, 0);
    EXPECT_EQ(def.pix_aspect_ratio, 1.0f);
    EXPECT_EQ(def.downsample, 1.0f);
    EXPECT_EQ(def.pixels.index(), 0u);
}

TEST(ImageDictionary, CanonicalFormCarriesEveryField) {
    Image img(2, 1, 3, 8, 0.9f, 12, 0.5f);
    std::get<std::vector<unsigned char>>(img.pixels) = {1, 2, 3, 4, 5, 255};
    Dict d(img);
    EXPECT_EQ(d.getString("TEV_Dict_Type", ""), "Image");
    EXPECT_EQ(d.getInt("width", 0), 2);
    EXPECT_EQ(d.getInt("height", 0), 1);
    EXPECT_EQ(d.getInt("channels", 0), 3);
    EXPECT_EQ(d.getInt("bit_depth", 0), 8);
    EXPECT_EQ(d.getInt("rowbytes", 0), 12);
    EXPECT_EQ(d.get("pix_aspect_ratio").type, Dict::Float);
    EXPECT_EQ(d.getFloat("pix_aspect_ratio", 0), static_cast<double>(0.9f));
    EXPECT_EQ(d.getFloat("downsample", 0), 0.5);
    EXPECT_EQ(d.getString("pixels_type", ""), "uint8");
    EXPECT_EQ(std::get<std::vector<char>>(d.get("pixels").value),
              (std::vector<char>{1, 2, 3, 4, 5, static_cast<char>(255)}));

    Dict f(Image(2, 1, 3, 32, 1.0f, 0, 1.0f));
    EXPECT_EQ(f.getString("pixels_type", ""), "float");
    EXPECT_EQ(std::get<std::vector<char>>(f.get("pixels").value).size(), 24u);
}

TEST(ImageDictionary, IsImageNeedsTheFiveKeysNotTheMarker) {
    Dict five;
    for (const char* k : {"width", "height", "channels", "bit_depth", "pixels"}) five[k] = "any kind";
    EXPECT_TRUE(five.isImage());

    Dict marked;
    marked["TEV_Dict_Type"] = "Image";
    marked["width"] = 1;
    EXPECT_FALSE(marked.isImage());
    Image img = marked.asImage();
    EXPECT_EQ(img.width, 0);
    EXPECT_TRUE(std::get<std::vector<unsigned char>>(img.pixels).empty());
}

TEST(ImageDictionary, AsImageReadsFieldsByTheirRules) {
    Dict d(Image(2, 2, 3, 8, 1.0f, 0, 1.0f));
    d["width"] = 4.0;               // a real is no Int: width 0
    d["pix_aspect_ratio"] = 2;      // an Int is read as a ratio
    d["height"] = 65536 + 7;        // low 16 bits
    Image img = d.asImage();
    EXPECT_EQ(img.width, 0);
    EXPECT_EQ(img.height, 7);
    EXPECT_EQ(img.pix_aspect_ratio, 2.0f);

    d["pixels"].push_back(Dict(1));  // an Array at 8 bits gives no samples
    EXPECT_TRUE(std::get<std::vector<unsigned char>>(d.asImage().pixels).empty());
}

TEST(ImageDictionary, SixteenBitSamplesRoundTripAsBytes) {
    Image img(2, 1, 3, 16, 1.0f, 0, 1.0f);
    auto& store = std::get<std::vector<unsigned char>>(img.pixels);
    const std::uint16_t values[6] = {0, 1, 16384, 32768, 65535, 258};
    std::memcpy(store.data(), values, sizeof values);
    Image back = Dict(img).asImage();
    ASSERT_EQ(back.pixels.index(), 0u);
    EXPECT_EQ(std::get<std::vector<unsigned char>>(back.pixels), store);
    EXPECT_EQ(back.sampleCount(), 6u);
}
