#include "print/png.h"

#include <windows.h>
#include <wincodec.h>

#include <cstdio>
#include <new>

// The Windows Imaging Component is part of Windows: reached through COM,
// whose library is loaded only here, so that the program imports nothing
// more than before.
namespace {

typedef HRESULT(WINAPI* CoInitializeExCall)(LPVOID, DWORD);
typedef HRESULT(WINAPI* CoCreateInstanceCall)(REFCLSID, LPUNKNOWN, DWORD, REFIID, LPVOID*);
typedef void(WINAPI* CoUninitializeCall)();

// The component's factory (CLSID_WICImagingFactory) and the pixel format
// wanted: blue, green, red, alpha premultiplied.
const CLSID kImagingFactory = {0xcacaf262, 0x9370, 0x4615, {0xa1, 0x3b, 0x9f, 0x55, 0x39, 0xda, 0x4c, 0x0a}};
const GUID kFormatPbgra = {0x6fddc324, 0x4e03, 0x4bfe, {0xb1, 0x85, 0x3d, 0x77, 0x76, 0x8d, 0xc9, 0x10}};

std::string codeText(HRESULT code) {
  char text[32];
  std::snprintf(text, sizeof text, "(error 0x%08lx)", static_cast<unsigned long>(code));
  return text;
}

template <typename T> void release(T*& object) {
  if (object != nullptr) object->Release();
  object = nullptr;
}

// The decoded frame, converted to premultiplied BGRA, into image: laid over
// white. S_OK, or the failing call's code.
HRESULT copyFrame(IWICImagingFactory* factory, IWICBitmapFrameDecode* frame, DecodedImage* image) {
  IWICFormatConverter* converter = nullptr;
  HRESULT hr = factory->CreateFormatConverter(&converter);
  if (SUCCEEDED(hr))
    hr = converter->Initialize(frame, kFormatPbgra, WICBitmapDitherTypeNone, nullptr, 0.0, WICBitmapPaletteTypeCustom);
  UINT width = 0, height = 0;
  if (SUCCEEDED(hr)) hr = converter->GetSize(&width, &height);
  if (SUCCEEDED(hr) && (width == 0 || height == 0 || width > 0x7FFFFFFF / 4 || height > 0x7FFFFFFF)) hr = E_FAIL;
  if (SUCCEEDED(hr)) {
    try {
      image->pixels.assign(static_cast<std::size_t>(width) * height * 4, 0);
    } catch (const std::bad_alloc&) {
      hr = E_OUTOFMEMORY;
    }
  }
  if (SUCCEEDED(hr) && image->pixels.size() > 0xFFFFFFFFu) hr = E_OUTOFMEMORY;
  if (SUCCEEDED(hr))
    hr = converter->CopyPixels(nullptr, width * 4, static_cast<UINT>(image->pixels.size()), image->pixels.data());
  release(converter);
  if (FAILED(hr)) return hr;
  for (std::size_t i = 0; i < image->pixels.size(); i += 4) {
    unsigned char* p = &image->pixels[i];
    unsigned char white = static_cast<unsigned char>(255 - p[3]);
    p[0] = static_cast<unsigned char>(p[0] + white);
    p[1] = static_cast<unsigned char>(p[1] + white);
    p[2] = static_cast<unsigned char>(p[2] + white);
    p[3] = 0;
  }
  image->width = static_cast<int>(width);
  image->height = static_cast<int>(height);
  return S_OK;
}

HRESULT decodeWith(CoCreateInstanceCall create, const unsigned char* data, std::size_t size, DecodedImage* image) {
  IWICImagingFactory* factory = nullptr;
  IWICStream* stream = nullptr;
  IWICBitmapDecoder* decoder = nullptr;
  IWICBitmapFrameDecode* frame = nullptr;
  HRESULT hr = create(kImagingFactory, nullptr, CLSCTX_INPROC_SERVER, __uuidof(IWICImagingFactory),
                      reinterpret_cast<void**>(&factory));
  if (SUCCEEDED(hr)) hr = factory->CreateStream(&stream);
  if (SUCCEEDED(hr) && size > 0xFFFFFFFFu) hr = E_OUTOFMEMORY;
  if (SUCCEEDED(hr)) hr = stream->InitializeFromMemory(const_cast<BYTE*>(data), static_cast<DWORD>(size));
  if (SUCCEEDED(hr))
    hr = factory->CreateDecoderFromStream(stream, nullptr, WICDecodeMetadataCacheOnDemand, &decoder);
  if (SUCCEEDED(hr)) hr = decoder->GetFrame(0, &frame);
  if (SUCCEEDED(hr)) hr = copyFrame(factory, frame, image);
  release(frame);
  release(decoder);
  release(stream);
  release(factory);
  return hr;
}

}  // namespace

bool decodePng(const unsigned char* data, std::size_t size, DecodedImage* image, std::string* why) {
  HMODULE ole32 = LoadLibraryA("ole32.dll");
  if (ole32 == nullptr) {
    *why = "Windows' COM library could not be loaded " + codeText(HRESULT_FROM_WIN32(GetLastError()));
    return false;
  }
  CoInitializeExCall initialize =
      reinterpret_cast<CoInitializeExCall>(reinterpret_cast<void (*)()>(GetProcAddress(ole32, "CoInitializeEx")));
  CoCreateInstanceCall create = reinterpret_cast<CoCreateInstanceCall>(
      reinterpret_cast<void (*)()>(GetProcAddress(ole32, "CoCreateInstance")));
  CoUninitializeCall uninitialize =
      reinterpret_cast<CoUninitializeCall>(reinterpret_cast<void (*)()>(GetProcAddress(ole32, "CoUninitialize")));
  HRESULT hr = initialize != nullptr && create != nullptr && uninitialize != nullptr ? S_OK : E_NOINTERFACE;
  // A thread that has COM started already in another way keeps it.
  HRESULT started = SUCCEEDED(hr) ? initialize(nullptr, COINIT_MULTITHREADED) : hr;
  if (SUCCEEDED(hr)) hr = decodeWith(create, data, size, image);
  if (SUCCEEDED(started)) uninitialize();
  FreeLibrary(ole32);
  if (SUCCEEDED(hr)) return true;
  image->pixels.clear();
  *why = hr == E_OUTOFMEMORY ? "there is not enough memory to decode it"
                             : "it cannot be decoded " + codeText(hr);
  return false;
}
