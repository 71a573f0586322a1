// Images: the geometry over pixel buffers, the codecs on damaged and cut
// data, and the image! entry points that scripts cannot reach directly.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "datatypes/image-backend/codecs.h"
#include "datatypes/image-backend/geometry.h"
#include "datatypes/image.h"
#include "tests/unit/fixture.h"

using namespace vyr;
using namespace vyr::image_backend;

namespace {

Bitmap sample(uint32_t w, uint32_t h) {
    Bitmap b;
    b.width = w;
    b.height = h;
    for (uint32_t i = 0; i < w * h; ++i) b.pixels.push_back(pixel_of(i * 40, 255 - i * 20, i * 7, i % 3 ? 255 : 0));
    return b;
}

// ---- Geometry ------------------------------------------------------------------------

TEST(ImageGeometry, WarpOntoTheSourceRectangleGivesTheSourceBack) {
    Bitmap b = sample(4, 3);
    Corners c{0, 0, 4, 0, 4, 3, 0, 3};
    Box box;
    auto out = image_warp(b.pixels.data(), 4, 3, c, box);
    ASSERT_TRUE(out);
    EXPECT_EQ(box.w, 4);
    EXPECT_EQ(box.h, 3);
    EXPECT_EQ((*out)[0], b.pixels[0]);
    EXPECT_EQ((*out)[5], b.pixels[5]);  // inner pixels sample exactly
}

TEST(ImageGeometry, PixelsOutsideTheQuadAreTransparentBlack) {
    Bitmap b = sample(2, 2);
    for (uint32_t& p : b.pixels) p = 0xFFFFFFFF;
    Corners diamond{5, 0, 10, 5, 5, 10, 0, 5};
    Box box;
    auto out = image_warp(b.pixels.data(), 2, 2, diamond, box);
    ASSERT_TRUE(out);
    EXPECT_EQ((*out)[0], 0u);                        // the box's corner lies outside
    EXPECT_NE((*out)[size_t(5 * box.w + 5)], 0u);  // the centre lies inside
}

TEST(ImageGeometry, DegenerateQuadsDrawNothing) {
    Bitmap b = sample(2, 2);
    Box box;
    const float nan = std::nanf("");
    for (const Corners& c : {Corners{1, 1, 1, 1, 1, 1, 1, 1}, Corners{0, 0, 0, 0, 4, 4, 0, 4},
                             Corners{0, 0, nan, 0, 4, 4, 0, 4}, Corners{0, 0, 1e30f, 0, 1e30f, 4, 0, 4}})
        EXPECT_FALSE(image_warp(b.pixels.data(), 2, 2, c, box));
    EXPECT_FALSE(image_warp(b.pixels.data(), 0, 2, Corners{0, 0, 2, 0, 2, 2, 0, 2}, box));
}

TEST(ImageGeometry, ResizeOfOnePixelFillsTheNewSize) {
    uint32_t p = 0xFF102030;
    auto out = pixels_resize(&p, 1, 1, 3, 2);
    ASSERT_TRUE(out);
    EXPECT_EQ(*out, std::vector<uint32_t>(6, p));
}

TEST(ImageGeometry, CopyRectCutsToTheSourceAndRefusesOutside) {
    Bitmap b = sample(3, 2);
    std::vector<uint32_t> out;
    EXPECT_FALSE(pixels_copy_rect(b.pixels.data(), 3, 2, 3, 0, 1, 1, out));
    EXPECT_FALSE(pixels_copy_rect(b.pixels.data(), 3, 2, -1, 0, 1, 1, out));
    ASSERT_TRUE(pixels_copy_rect(b.pixels.data(), 3, 2, 1, 1, 5, 5, out));
    EXPECT_EQ(out, (std::vector<uint32_t>{b.pixels[4], b.pixels[5]}));
}

TEST(ImageGeometry, YuvGreyAndOddWidths) {
    const uint8_t grey[4] = {128, 128, 128, 128};
    uint32_t two[2] = {0, 0};
    yuv422_to_pixels(2, 1, grey, sizeof grey, two);
    EXPECT_EQ(two[0], 0xFF808080u);
    EXPECT_EQ(two[1], 0xFF808080u);
    // Width 3: two groups a row; the odd last pixel writes only itself.
    std::vector<uint8_t> src(2 * 8, 128);
    src[4] = 255;  // Y0 of row 0's second group
    std::vector<uint32_t> dst(3 * 2 + 1, 0xDEADBEEF);
    yuv422_to_pixels(3, 2, src.data(), src.size(), dst.data());
    EXPECT_EQ(dst[2], 0xFFFFFFFFu);
    EXPECT_EQ(dst[3], 0xFF808080u);
    EXPECT_EQ(dst[6], 0xDEADBEEFu);
    // A source too short for every row converts only the rows it holds.
    std::vector<uint32_t> short_dst(6, 0);
    yuv422_to_pixels(3, 2, src.data(), 8, short_dst.data());
    EXPECT_EQ(short_dst[3], 0u);
}

TEST(ImageGeometry, PointTests) {
    Corners square{0, 0, 4, 0, 4, 4, 0, 4};
    EXPECT_TRUE(point_in_quad(square, 2, 2));
    EXPECT_FALSE(point_in_quad(square, 5, 2));
    EXPECT_DOUBLE_EQ(point_edge_distance(2, 3, 0, 0, 4, 0), 3.0);
    Vec v{1, 0};
    vector_rotate(v, 90);
    EXPECT_NEAR(v.y, 1.0, 1e-9);
}

// ---- Codecs ---------------------------------------------------------------------------

TEST(ImageCodecs, LosslessFormatsRoundTrip) {
    Bitmap b = sample(5, 3);
    for (int32_t f : {fmt_png, fmt_bmp, fmt_tiff}) {
        std::vector<uint8_t> data;
        ASSERT_TRUE(encode_bitmap(b, f, data)) << f;
        Decoded d = decode_memory(data.data(), data.size());
        ASSERT_TRUE(d.bitmap) << f;
        EXPECT_EQ(d.bitmap->pixels, b.pixels) << f;
    }
}

// Every cut of the data, and every single damaged byte, decodes to a bitmap
// or to nothing: never past a buffer (the sanitizer build checks).
TEST(ImageCodecs, CutAndDamagedDataNeverCrash) {
    Bitmap b = sample(7, 5);
    for (int32_t f : {fmt_bmp, fmt_png, fmt_gif, fmt_jpeg, fmt_tiff}) {
        std::vector<uint8_t> data;
        ASSERT_TRUE(encode_bitmap(b, f, data)) << f;
        for (size_t n = 0; n < data.size(); ++n) {
            std::vector<uint8_t> cut(data.begin(), data.begin() + ptrdiff_t(n));
            Decoded d = decode_memory(cut.data(), cut.size());
            if (n < data.size() / 2) EXPECT_FALSE(d.bitmap) << "format " << f << " cut at " << n;
        }
        for (size_t i = 0; i < data.size(); ++i) {
            std::vector<uint8_t> bad = data;
            bad[i] ^= 0xA5;
            decode_memory(bad.data(), bad.size());
        }
    }
}

TEST(ImageCodecs, SignaturesAndTheUnknown) {
    const uint8_t gif88[] = {'G', 'I', 'F', '8', '8', 'a'};
    EXPECT_EQ(format_of_signature(gif88, sizeof gif88), -1);
    const uint8_t tiff_mm[] = {'M', 'M', 0, '*'};
    EXPECT_EQ(format_of_signature(tiff_mm, sizeof tiff_mm), fmt_tiff);
    std::vector<uint8_t> out;
    EXPECT_FALSE(encode_bitmap(sample(1, 1), 5, out));
}

// A 1-bit BMP of 70000 x 1 pixels, rows and all: a real image wider than
// an image! can be.
std::vector<uint8_t> wide_bmp() {
    Bitmap b = sample(1, 1);
    std::vector<uint8_t> data;
    encode_bitmap(b, fmt_bmp, data);
    uint32_t width = 70000, compression = 0;
    uint16_t bits = 1;
    std::memcpy(&data[18], &width, 4);
    std::memcpy(&data[28], &bits, 2);
    std::memcpy(&data[30], &compression, 4);
    data.resize(122 + (70000 + 31) / 32 * 4, 0);
    return data;
}

TEST(ImageCodecs, OversizedHeadersAreTooLarge) {
    std::vector<uint8_t> data = wide_bmp();
    Decoded d = decode_memory(data.data(), data.size());
    EXPECT_FALSE(d.bitmap);
    EXPECT_TRUE(d.too_large);
    EXPECT_EQ(d.width, 70000);
}

// ---- image! entry points ----------------------------------------------------------

class ImageTest : public test::RuntimeTest {};

TEST_F(ImageTest, UnknownEncoderIsAnError) {
    Cell img{};
    image_t::make_at(&img, image_backend::image_create(1, 1, {}, {}, nullptr));
    EXPECT_RAISES(image_t::encode(img, 5), err_cat::script, err_id::script::invalid_arg);
}

TEST_F(ImageTest, DecodingAnOversizedImageRaisesSizeLimit) {
    std::vector<uint8_t> data = wide_bmp();
    EXPECT_RAISES(image_t::decode_binary(data.data(), uint32_t(data.size())), err_cat::script,
                  err_id::script::size_limit);
}

TEST_F(ImageTest, TransformIntoAParallelogramAndMirrored) {
    Cell img{};
    image_t::make_at(&img, image_backend::image_create(2, 2, {}, {}, nullptr));
    Cell points[3] = {Cell{type_pair, 0, 0, 0}, Cell{type_pair, 0, 4, 0}, Cell{type_pair, 0, 0, 4}};
    int32_t box[4];
    Cell out = image_t::transform(img, nullptr, &points[0], &points[2], box);
    ASSERT_EQ(type_of(out), type_image);
    EXPECT_EQ(box[2], 4);
    EXPECT_EQ(box[3], 4);
    Cell flipped[2] = {Cell{type_pair, 0, 4, 0}, Cell{type_pair, 0, 0, 4}};
    out = image_t::transform(img, nullptr, &flipped[0], &flipped[1], box);
    ASSERT_EQ(type_of(out), type_image);
    EXPECT_EQ(box[2], -4);
    Cell five[5] = {points[0], points[1], points[2], points[0], points[1]};
    EXPECT_EQ(type_of(image_t::transform(img, nullptr, &five[0], &five[4], box)), type_unset);
}

}  // namespace
