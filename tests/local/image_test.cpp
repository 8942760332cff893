#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <random>
#include <vector>

#include "connect/client_error.h"
#include "local/image_ops.h"
#include "shared/little_endian.h"
#include "tests/local/trace_capture.h"

namespace {

using Image = std::vector<uint8_t>;

Image RandomImage(size_t uiPixels, uint32_t uiSeed, bool bBright = false) {
  std::mt19937 random(uiSeed);
  Image image(uiPixels);
  // Bright images push most sums past 255, so the saturation is exercised as well.
  for (uint8_t& p : image) p = static_cast<uint8_t>(bBright ? 200 + random() % 56 : random());
  return image;
}

// The enlargements worked out pixel by pixel, block by block, with nothing shared: the oracle
// for the fast ones.
Image Reference150(const Image& src, size_t n) {
  const size_t m = 3 * n / 2;
  Image dst(m * m);
  const unsigned weights[3][2] = {{1, 3}, {2, 2}, {3, 1}};
  for (size_t i = 0; i < n; i += 2) {
    for (size_t j = 0; j < n; j += 2) {
      const size_t rows[4] = {i == 0 ? 0 : i - 1, i, i + 1, i + 2 == n ? n - 1 : i + 2};
      const size_t cols[4] = {j == 0 ? 0 : j - 1, j, j + 1, j + 2 == n ? n - 1 : j + 2};
      for (size_t dr = 0; dr < 3; ++dr) {
        for (size_t dc = 0; dc < 3; ++dc) {
          unsigned sum = 0;
          for (size_t a = 0; a < 2; ++a)
            for (size_t b = 0; b < 2; ++b)
              sum += weights[dr][a] * weights[dc][b] * src[rows[dr + a] * n + cols[dc + b]];
          dst[(3 * i / 2 + dr) * m + 3 * j / 2 + dc] =
              static_cast<uint8_t>(std::min(sum / 14, 255u));
        }
      }
    }
  }
  return dst;
}

Image Reference200(const Image& src, size_t n) {
  const size_t m = 2 * n;
  Image dst(m * m);
  for (size_t y = 0; y < m; ++y) {
    size_t a = 0, b = 0, c = 0;
    if (y == m - 1) {
      a = b = c = n - 1;
    } else if (y != 0) {
      a = (y - 1) / 2, b = y / 2, c = (y + 1) / 2;
    }
    const uint8_t* A = &src[a * n];
    const uint8_t* B = &src[b * n];
    const uint8_t* C = &src[c * n];
    uint8_t* out = &dst[y * m];
    out[0] = B[0];
    out[m - 1] = B[n - 1];
    for (size_t k = 0; k + 1 < n; ++k) {
      const unsigned p1 = (2 * A[k] + A[k + 1] + 2 * B[k] + B[k + 1] + 2 * C[k] + C[k + 1]) >> 3;
      const unsigned p2 = (A[k] + 2 * A[k + 1] + B[k] + 2 * B[k + 1] + C[k] + 2 * C[k + 1]) >> 3;
      out[2 * k + 1] = static_cast<uint8_t>(std::min(p1, 255u));
      out[2 * k + 2] = static_cast<uint8_t>(std::min(p2, 255u));
    }
  }
  return dst;
}

using Upsampler = WGResult (*)(const uint8_t*, uint16_t, uint8_t*);

constexpr size_t kGuard = 32;
constexpr uint8_t kGuardByte = 0xA7;

// Runs an upsampler into a buffer of exactly `uiDestPixels` followed by guard bytes, and
// checks that it wrote nothing past its end.
Image Enlarge(Upsampler upsample, const Image& src, size_t n, size_t uiDestPixels) {
  Image dst(uiDestPixels + kGuard, kGuardByte);
  EXPECT_EQ(upsample(src.data(), static_cast<uint16_t>(n), dst.data()), WG_OK);
  for (size_t i = uiDestPixels; i < dst.size(); ++i)
    EXPECT_EQ(dst[i], kGuardByte) << "written past the destination, side " << n;
  dst.resize(uiDestPixels);
  return dst;
}

Image Enlarge150(const Image& src, size_t n) {
  return Enlarge(Upsample150, src, n, (3 * n / 2) * (3 * n / 2));
}
Image Enlarge200(const Image& src, size_t n) {
  return Enlarge(Upsample200, src, n, 4 * n * n);
}

TEST(Upsample, TwoByTwoImage) {
  const Image src = {10, 20, 30, 40};
  EXPECT_EQ(Enlarge150(src, 2), (Image{11, 17, 22, 22, 28, 34, 34, 40, 45}));
  EXPECT_EQ(Enlarge200(src, 2),
            (Image{10, 15, 18, 20, 10, 22, 26, 20, 30, 30, 33, 40, 30, 37, 41, 40}));
}

TEST(Upsample, UniformImages) {
  struct Case {
    uint8_t ucValue, ucBy150, ucBy200, ucBy200RowEnds;
  };
  const Case cases[] = {{255, 255, 255, 255}, {0, 0, 0, 0}, {112, 128, 126, 112}};
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.ucValue));
    const Image src(128 * 128, c.ucValue);
    EXPECT_EQ(Enlarge150(src, 128), Image(192 * 192, c.ucBy150));
    Image by200(256 * 256, c.ucBy200);
    for (size_t y = 0; y < 256; ++y) by200[y * 256] = by200[y * 256 + 255] = c.ucBy200RowEnds;
    EXPECT_EQ(Enlarge200(src, 128), by200);
  }
}

// Sides around the widths of the inner loops and of the 3/2 upsampler's passes.
TEST(Upsample, MatchesThePixelByPixelRendering) {
  for (size_t n : {2, 4, 6, 14, 16, 18, 30, 128, 130, 192, 256, 258, 510, 512, 514, 1026}) {
    for (bool bBright : {false, true}) {
      SCOPED_TRACE(testing::Message() << "side " << n << (bBright ? " bright" : ""));
      const Image src = RandomImage(n * n, static_cast<uint32_t>(n), bBright);
      EXPECT_TRUE(Enlarge150(src, n) == Reference150(src, n));
      EXPECT_TRUE(Enlarge200(src, n) == Reference200(src, n));
    }
  }
  for (size_t n : {1, 3, 17, 127}) {
    SCOPED_TRACE(n);
    const Image src = RandomImage(n * n, 7);
    EXPECT_TRUE(Enlarge200(src, n) == Reference200(src, n));
  }
}

TEST(Upsample, By150RefusesAnOddSideAndWritesNothing) {
  for (uint16_t n : {1, 3, 127}) {
    const Image src = RandomImage(size_t{n} * n, 3);
    Image dst(4 * n * n, kGuardByte);
    EXPECT_EQ(Upsample150(src.data(), n, dst.data()), WG_BAD_ARGUMENT);
    EXPECT_EQ(dst, Image(4 * n * n, kGuardByte));
  }
}

TEST(PixelOps, InvertComplementsEveryPixel) {
  for (uint32_t n : {1u, 3u, 128u, 256u}) {
    const Image original = RandomImage(n * n, n);
    Image image = original;
    InvertImage(image.data(), n);
    for (size_t i = 0; i < image.size(); ++i) ASSERT_EQ(image[i], 255 - original[i]);
    InvertImage(image.data(), n);
    EXPECT_EQ(image, original);
  }
}

TEST(PixelOps, RotateTurnsByHalfATurn) {
  const Image original = RandomImage(WG_RAW_IMAGE_SIZE, 11);
  Image image = original;
  RotateImage180(image.data());
  for (size_t row = 0; row < 128; ++row)
    for (size_t col = 0; col < 128; ++col)
      ASSERT_EQ(image[row * 128 + col], original[(127 - row) * 128 + (127 - col)]);
  RotateImage180(image.data());
  EXPECT_EQ(image, original);
}

struct BitmapDeleter {
  void operator()(uint8_t* p) const { FreeOSBitmap(p); }
};
using Bitmap = std::unique_ptr<uint8_t[], BitmapDeleter>;

Bitmap NewBitmap(uint16_t uiSide) {
  Bitmap bitmap(AllocOSBitmap(uiSide));
  EXPECT_NE(bitmap, nullptr);
  return bitmap;
}

TEST(OSBitmap, FreshBitmapIsBlackBottomUpWithAGreyPalette) {
  const Bitmap bitmap = NewBitmap(144);
  const uint8_t* p = bitmap.get();
  EXPECT_EQ(LoadU32(p + 0), 40u);
  EXPECT_EQ(LoadI32(p + 4), 144);
  EXPECT_EQ(LoadI32(p + 8), 144);
  EXPECT_EQ(LoadU16(p + 12), 1);
  EXPECT_EQ(LoadU16(p + 14), 8);
  EXPECT_EQ(LoadU32(p + 16), 0u);
  EXPECT_EQ(LoadU32(p + 20), 144u * 144u);
  for (size_t i = 24; i < 40; ++i) EXPECT_EQ(p[i], 0) << i;
  for (int i = 0; i < 256; ++i) {
    const uint8_t entry[4] = {static_cast<uint8_t>(i), static_cast<uint8_t>(i),
                              static_cast<uint8_t>(i), 0};
    EXPECT_EQ(std::memcmp(p + 40 + 4 * i, entry, 4), 0) << i;
  }
  for (size_t i = 0; i < 144 * 144; ++i) ASSERT_EQ(p[WG_OS_BITMAP_PIXEL_OFFSET + i], 0);
  FreeOSBitmap(nullptr);
}

// The pixel area of a bitmap filled with a pattern first, so that the frame has to be written.
uint8_t* DirtyPixels(const Bitmap& bitmap, size_t uiSide) {
  uint8_t* pPixels = bitmap.get() + WG_OS_BITMAP_PIXEL_OFFSET;
  std::memset(pPixels, 0xEE, uiSide * uiSide);
  return pPixels;
}

TEST(OSBitmap, PlacementCentresTheImageUprightInABlackFrame) {
  struct Case {
    uint16_t uiSide;
    uint32_t uiWidth, uiHeight;
    size_t uiTop, uiLeft;  // in stored rows, bottom row first
  };
  const Case cases[] = {{144, 128, 128, 8, 8}, {144, 100, 60, 42, 22}, {128, 128, 128, 0, 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.uiWidth << " x " << c.uiHeight << " in " << c.uiSide);
    const Image image = RandomImage(c.uiWidth * c.uiHeight, c.uiWidth);
    const Bitmap bitmap = NewBitmap(c.uiSide);
    const uint8_t* pPixels = DirtyPixels(bitmap, c.uiSide);
    PlaceRawImage(bitmap.get(), image.data(), c.uiWidth, c.uiHeight);
    for (size_t row = 0; row < c.uiSide; ++row) {
      for (size_t col = 0; col < c.uiSide; ++col) {
        const bool bInside = row >= c.uiTop && row < c.uiTop + c.uiHeight && col >= c.uiLeft &&
                             col < c.uiLeft + c.uiWidth;
        const uint8_t ucExpected =
            bInside ? image[(c.uiHeight - 1 - (row - c.uiTop)) * c.uiWidth + col - c.uiLeft] : 0;
        ASSERT_EQ(pPixels[row * c.uiSide + col], ucExpected) << row << ", " << col;
      }
    }
  }
}

TEST(OSBitmap, PlacementIntoASmallerBitmapChangesNothing) {
  struct Case {
    uint16_t uiSide;
    uint32_t uiWidth, uiHeight;
  };
  for (const Case& c : {Case{127, 128, 128}, Case{144, 145, 10}, Case{144, 10, 145}}) {
    const Image image = RandomImage(c.uiWidth * c.uiHeight, 5);
    const Bitmap bitmap = NewBitmap(c.uiSide);
    DirtyPixels(bitmap, c.uiSide);
    const Image before(bitmap.get(),
                       bitmap.get() + WG_OS_BITMAP_PIXEL_OFFSET + c.uiSide * c.uiSide);
    PlaceRawImage(bitmap.get(), image.data(), c.uiWidth, c.uiHeight);
    EXPECT_TRUE(std::equal(before.begin(), before.end(), bitmap.get())) << c.uiSide;
  }
}

class BuildOSBmpHeader : public TracedTest {};

TEST_F(BuildOSBmpHeader, WritesTheTopDownDisplayHeader) {
  Image header(WG_BITMAP_HEADER_SIZE, 0xCC);
  EXPECT_EQ(WGBuildOSBmpHeader(0, header.data()), WG_OK);
  EXPECT_EQ(LoadU32(&header[8]), 0xFFFFFF80u);
  // Apart from the sign of the height it is the header of an OS bitmap of side 128.
  const Bitmap bitmap = NewBitmap(128);
  EXPECT_EQ(LoadI32(bitmap.get() + 8), 128);
  StoreI32(&header[8], 128);
  EXPECT_TRUE(std::equal(header.begin(), header.end(), bitmap.get()));
  EXPECT_EQ(takeTraces(), (std::vector<TraceLine>{
                              {TRACE_TYPE_ENTER, "ENTERING WGBuildOSBmpHeader"},
                              {TRACE_TYPE_API_RESULT, "WGBuildOSBmpHeader: returning WG_OK"},
                              {TRACE_TYPE_EXIT, "EXITING WGBuildOSBmpHeader"},
                          }));
  EXPECT_EQ(GetClientErrorCode(), 0);
}

TEST_F(BuildOSBmpHeader, RefusesANullBuffer) {
  EXPECT_EQ(WGBuildOSBmpHeader(0, nullptr), WG_BAD_POINTER);
  EXPECT_EQ(TakeClientError(nullptr, nullptr), WGERR_PARAMETER_INVALID);
  EXPECT_EQ(takeTraces(),
            (std::vector<TraceLine>{
                {TRACE_TYPE_ENTER, "ENTERING WGBuildOSBmpHeader"},
                {TRACE_TYPE_CRITICAL, "ERROR WGBuildOSBmpHeader: Bad parameter (NULL)."},
                {TRACE_TYPE_API_RESULT, "WGBuildOSBmpHeader: returning WG_BAD_POINTER"},
                {TRACE_TYPE_EXIT, "EXITING WGBuildOSBmpHeader"},
            }));
}

}  // namespace
