// The Windows JPEG decoder (WIC) against pictures WIC's own encoder makes.

#include <objbase.h>
#include <wincodec.h>
#include <windows.h>
#include <wrl/client.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "uiframework/jpeg_decode.h"

namespace {

using Microsoft::WRL::ComPtr;

// A JPEG of `width` × `height` whose left half is `left` and right half
// `right` (0xRRGGBB), written by WIC's encoder at full quality.
std::string makeJpeg(UINT width, UINT height, uint32_t left, uint32_t right) {
  ComPtr<IWICImagingFactory> factory;
  ComPtr<IStream> stream;
  ComPtr<IWICBitmapEncoder> encoder;
  ComPtr<IWICBitmapFrameEncode> frame;
  ComPtr<IPropertyBag2> options;
  if (FAILED(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                              IID_PPV_ARGS(&factory))) ||
      FAILED(CreateStreamOnHGlobal(nullptr, TRUE, &stream)) ||
      FAILED(factory->CreateEncoder(GUID_ContainerFormatJpeg, nullptr, &encoder)) ||
      FAILED(encoder->Initialize(stream.Get(), WICBitmapEncoderNoCache)) ||
      FAILED(encoder->CreateNewFrame(&frame, &options))) {
    return {};
  }
  PROPBAG2 quality{};
  quality.pstrName = const_cast<LPOLESTR>(L"ImageQuality");
  VARIANT value;
  VariantInit(&value);
  value.vt = VT_R4;
  value.fltVal = 1.0f;
  options->Write(1, &quality, &value);
  WICPixelFormatGUID format = GUID_WICPixelFormat24bppBGR;
  if (FAILED(frame->Initialize(options.Get())) || FAILED(frame->SetSize(width, height)) ||
      FAILED(frame->SetPixelFormat(&format)) || format != GUID_WICPixelFormat24bppBGR) {
    return {};
  }
  std::vector<BYTE> pixels(static_cast<size_t>(width) * height * 3);
  for (UINT y = 0; y < height; ++y) {
    for (UINT x = 0; x < width; ++x) {
      const uint32_t rgb = x < width / 2 ? left : right;
      BYTE* p = &pixels[(static_cast<size_t>(y) * width + x) * 3];
      p[0] = rgb & 0xFF;
      p[1] = (rgb >> 8) & 0xFF;
      p[2] = (rgb >> 16) & 0xFF;
    }
  }
  if (FAILED(
          frame->WritePixels(height, width * 3, static_cast<UINT>(pixels.size()), pixels.data())) ||
      FAILED(frame->Commit()) || FAILED(encoder->Commit())) {
    return {};
  }
  HGLOBAL memory = nullptr;
  if (FAILED(GetHGlobalFromStream(stream.Get(), &memory))) return {};
  STATSTG stat{};
  stream->Stat(&stat, STATFLAG_NONAME);
  const auto* bytes = static_cast<const char*>(GlobalLock(memory));
  std::string jpeg(bytes, static_cast<size_t>(stat.cbSize.QuadPart));
  GlobalUnlock(memory);
  return jpeg;
}

// Within the few steps a full-quality JPEG moves a flat colour.
bool closeTo(uint32_t pixel, uint32_t rgb) {
  for (int shift : {0, 8, 16}) {
    const int a = static_cast<int>((pixel >> shift) & 0xFF);
    const int b = static_cast<int>((rgb >> shift) & 0xFF);
    if (a - b > 6 || b - a > 6) return false;
  }
  return true;
}

class JpegDecodeWinTest : public ::testing::Test {
 protected:
  void SetUp() override { com_ = CoInitializeEx(nullptr, COINIT_MULTITHREADED); }
  void TearDown() override {
    if (SUCCEEDED(com_)) CoUninitialize();
  }
  HRESULT com_ = E_FAIL;
};

// Catches channels swapped between WIC's layout and cairo's, rows written
// with the wrong stride, and the side limit applied off by one or to the
// wrong side.
TEST_F(JpegDecodeWinTest, DecodesIntoCairoLayoutWithinLimit) {
  const std::string jpeg = makeJpeg(50, 20, 0xC82858, 0x0ADC1E);
  ASSERT_FALSE(jpeg.empty());
  cairo_surface_t* image = ui::DecodeJpeg(jpeg, 50);
  ASSERT_NE(image, nullptr);
  EXPECT_EQ(cairo_image_surface_get_format(image), CAIRO_FORMAT_RGB24);
  EXPECT_EQ(cairo_image_surface_get_width(image), 50);
  EXPECT_EQ(cairo_image_surface_get_height(image), 20);
  const unsigned char* data = cairo_image_surface_get_data(image);
  const int stride = cairo_image_surface_get_stride(image);
  for (int y : {0, 19}) {
    const auto* row = reinterpret_cast<const uint32_t*>(data + y * stride);
    EXPECT_TRUE(closeTo(row[2], 0xC82858)) << std::hex << row[2];
    EXPECT_TRUE(closeTo(row[47], 0x0ADC1E)) << std::hex << row[47];
  }
  cairo_surface_destroy(image);
  EXPECT_EQ(ui::DecodeJpeg(jpeg, 49), nullptr);
  EXPECT_EQ(ui::DecodeJpeg(makeJpeg(20, 50, 0, 0), 49), nullptr);
}

// Catches a decoder that trusts what it is handed: cut short, not a
// picture at all, a JPEG start followed by noise, or nothing.
TEST_F(JpegDecodeWinTest, RefusesBrokenBytes) {
  const std::string jpeg = makeJpeg(32, 32, 0x808080, 0x101010);
  ASSERT_FALSE(jpeg.empty());
  std::string noise(4000, '\0');
  uint32_t seed = 12345;
  for (char& c : noise) {
    seed = seed * 1103515245u + 12345u;
    c = static_cast<char>(seed >> 24);
  }
  for (const std::string& bad :
       {jpeg.substr(0, 100), noise, std::string("\xFF\xD8\xFF", 3) + noise, std::string()}) {
    cairo_surface_t* image = ui::DecodeJpeg(bad, 1000);
    EXPECT_EQ(image, nullptr) << bad.size() << " bytes";
    if (image != nullptr) cairo_surface_destroy(image);
  }
}

// Catches a decoder that leaves COM initialised on the caller's thread,
// or fails on a thread that already has COM of the other model.
TEST(JpegDecodeWinComTest, LeavesTheCallersComAsItWas) {
  const HRESULT sta = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  ASSERT_TRUE(SUCCEEDED(sta));
  const std::string jpeg = makeJpeg(8, 8, 0xFFFFFF, 0);
  cairo_surface_t* image = ui::DecodeJpeg(jpeg, 8);
  EXPECT_NE(image, nullptr);
  if (image != nullptr) cairo_surface_destroy(image);
  CoUninitialize();
  std::thread([&] {
    for (int i = 0; i < 3; ++i) {
      cairo_surface_t* again = ui::DecodeJpeg(jpeg, 8);
      EXPECT_NE(again, nullptr);
      if (again != nullptr) cairo_surface_destroy(again);
    }
    // Had the decoder kept a reference, this thread would still be in the
    // multithreaded apartment and could not enter a single-threaded one.
    const HRESULT after = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    EXPECT_EQ(after, S_OK);
    if (SUCCEEDED(after)) CoUninitialize();
  }).join();
}

}  // namespace
