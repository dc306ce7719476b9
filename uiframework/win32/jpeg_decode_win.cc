// JPEG pictures through the Windows Imaging Component, decoded straight
// into a cairo surface.

#include <objbase.h>
#include <wincodec.h>
#include <windows.h>
#include <wrl/client.h>

#include <climits>
#include <cstdint>

#include "uiframework/jpeg_decode.h"

namespace ui {
namespace {

using Microsoft::WRL::ComPtr;

// COM for the length of one decode. Any thread may decode, so the caller's
// thread may not have COM yet, or may have it in either model: S_OK and
// S_FALSE both count a reference to give back; RPC_E_CHANGED_MODE means the
// thread already has COM of the other model, which serves WIC as well and
// is not ours to end.
class ComForThisCall {
 public:
  ComForThisCall() : hr_(CoInitializeEx(nullptr, COINIT_MULTITHREADED)) {}
  ~ComForThisCall() {
    if (SUCCEEDED(hr_)) CoUninitialize();
  }
  ComForThisCall(const ComForThisCall&) = delete;
  ComForThisCall& operator=(const ComForThisCall&) = delete;
  bool usable() const { return SUCCEEDED(hr_) || hr_ == RPC_E_CHANGED_MODE; }

 private:
  HRESULT hr_;
};

struct SurfaceOwner {
  cairo_surface_t* surface;
  ~SurfaceOwner() {
    if (surface != nullptr) cairo_surface_destroy(surface);
  }
  cairo_surface_t* release() {
    cairo_surface_t* s = surface;
    surface = nullptr;
    return s;
  }
};

}  // namespace

cairo_surface_t* DecodeJpeg(const std::string& bytes, int maxSide) {
  if (bytes.empty() || bytes.size() > UINT_MAX || maxSide <= 0) return nullptr;
  ComForThisCall com;
  if (!com.usable()) return nullptr;
  // The COM objects are released before COM is given back (declared after).
  ComPtr<IWICImagingFactory> factory;
  if (FAILED(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                              IID_PPV_ARGS(&factory)))) {
    return nullptr;
  }
  ComPtr<IWICStream> stream;
  if (FAILED(factory->CreateStream(&stream)) ||
      FAILED(stream->InitializeFromMemory(reinterpret_cast<BYTE*>(const_cast<char*>(bytes.data())),
                                          static_cast<DWORD>(bytes.size())))) {
    return nullptr;
  }
  // The system's own JPEG codec, asked for by name: letting WIC pick a
  // decoder by content would hand the untrusted bytes to whatever codecs
  // other software has installed.
  ComPtr<IWICBitmapDecoder> decoder;
  ComPtr<IWICBitmapFrameDecode> frame;
  if (FAILED(factory->CreateDecoder(GUID_ContainerFormatJpeg, nullptr, &decoder)) ||
      FAILED(decoder->Initialize(stream.Get(), WICDecodeMetadataCacheOnDemand)) ||
      FAILED(decoder->GetFrame(0, &frame))) {
    return nullptr;
  }
  UINT width = 0, height = 0;
  if (FAILED(frame->GetSize(&width, &height)) || width == 0 || height == 0 ||
      width > static_cast<UINT>(maxSide) || height > static_cast<UINT>(maxSide)) {
    return nullptr;
  }
  ComPtr<IWICFormatConverter> converter;
  if (FAILED(factory->CreateFormatConverter(&converter)) ||
      FAILED(converter->Initialize(frame.Get(), GUID_WICPixelFormat32bppBGR,
                                   WICBitmapDitherTypeNone, nullptr, 0.0,
                                   WICBitmapPaletteTypeCustom))) {
    return nullptr;
  }
  // 32bppBGR is cairo's RGB24 in memory on little-endian Windows: one
  // 32-bit word per pixel, blue in the lowest byte, the top byte unused.
  SurfaceOwner image{cairo_image_surface_create(CAIRO_FORMAT_RGB24, static_cast<int>(width),
                                                static_cast<int>(height))};
  if (cairo_surface_status(image.surface) != CAIRO_STATUS_SUCCESS) return nullptr;
  cairo_surface_flush(image.surface);
  unsigned char* data = cairo_image_surface_get_data(image.surface);
  const int stride = cairo_image_surface_get_stride(image.surface);
  const uint64_t size = static_cast<uint64_t>(stride) * height;
  if (data == nullptr || stride <= 0 || size > UINT_MAX) return nullptr;
  if (FAILED(converter->CopyPixels(nullptr, static_cast<UINT>(stride), static_cast<UINT>(size),
                                   data))) {
    return nullptr;
  }
  cairo_surface_mark_dirty(image.surface);
  return image.release();
}

}  // namespace ui
