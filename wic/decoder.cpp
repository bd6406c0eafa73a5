// SPDX-License-Identifier: MIT
#include "wic/decoder.h"

#include <algorithm>
#include <cstdint>
#include <memory>
#include <new>
#include <string>

#include "framework/companion_rule.h"
#include "framework/picture_geometry.h"
#include "host/picture.h"
#include "wic/codec_classes.h"
#include "wic/module.h"

namespace wic {

namespace {

using PictureRef = std::shared_ptr<const host::Picture>;

constexpr double kDotsPerInch = 96.0;
constexpr UINT kBitsPerPixel = 4;

// The WIC error for a failed decode.
HRESULT errorOf(LoaderResult code) {
  switch (code) {
    case LoaderResult::NoMemory:
    case LoaderResult::LockFailed:
      return E_OUTOFMEMORY;
    case LoaderResult::OpenFailed:
      return WINCODEC_ERR_STREAMREAD;
    case LoaderResult::UnknownFormat:
      return WINCODEC_ERR_UNKNOWNIMAGEFORMAT;
    default:
      return WINCODEC_ERR_BADIMAGE;
  }
}

// Up to limit bytes from the stream's position on.
HRESULT readUpTo(IStream* stream, std::size_t limit, host::Bytes& bytes) {
  bytes.clear();
  constexpr ULONG kStep = 64 * 1024;
  while (bytes.size() < limit) {
    const std::size_t at = bytes.size();
    const ULONG want = static_cast<ULONG>(std::min<std::size_t>(kStep, limit - at));
    bytes.resize(at + want);
    ULONG got = 0;
    const HRESULT hr = stream->Read(bytes.data() + at, want, &got);
    bytes.resize(at + std::min(got, want));
    if (FAILED(hr)) return hr;
    if (got == 0) break;
  }
  return S_OK;
}

HRESULT seekTo(IStream* stream, ULONGLONG position) {
  LARGE_INTEGER to;
  to.QuadPart = static_cast<LONGLONG>(position);
  return stream->Seek(to, STREAM_SEEK_SET, nullptr);
}

// The name of the stream's file as Stat tells it; empty when it tells none.
std::wstring nameOf(IStream* stream) {
  STATSTG stat{};
  if (FAILED(stream->Stat(&stat, STATFLAG_DEFAULT))) return {};
  std::wstring name = stat.pwcsName ? stat.pwcsName : L"";
  CoTaskMemFree(stat.pwcsName);
  return name;
}

// Up to limit bytes of the file at path; nullopt when it cannot be opened or read.
std::optional<host::Bytes> readFile(const std::wstring& path, std::size_t limit) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return std::nullopt;
  host::Bytes bytes(limit);
  DWORD got = 0;
  const BOOL ok = ReadFile(file, bytes.data(), static_cast<DWORD>(limit), &got, nullptr);
  CloseHandle(file);
  if (!ok) return std::nullopt;
  bytes.resize(got);
  return bytes;
}

// The companion files of the picture at path, as the host holds them: each named by the
// companion rule (the file system finds them whatever their letter case), read one byte past its
// size so that the plug-in's exact-size rule sees a longer file as one.
host::HeldFiles companionsBeside(const FormatDescription& format, const std::wstring& path) {
  host::HeldFiles held;
  const std::size_t stem = companionStemLength(path.c_str(), path.size());
  if (!stem || path.find_first_of(L"\\/") == std::wstring::npos) return held;
  for (const CompanionFile& companion : format.companions) {
    const std::wstring suffix(companion.suffix.begin(), companion.suffix.end());
    const std::wstring name = path.substr(0, stem) + suffix;
    if (std::optional<host::Bytes> bytes = readFile(name, companion.size + 1)) {
      held.push_back({"picture." + std::string(companion.suffix), std::move(*bytes)});
    }
  }
  return held;
}

class Frame final : public IWICBitmapFrameDecode, RefCounted<Frame> {
 public:
  explicit Frame(PictureRef picture) : picture_(std::move(picture)) {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
    if (!object) return E_POINTER;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IWICBitmapSource) ||
        IsEqualIID(riid, IID_IWICBitmapFrameDecode)) {
      *object = static_cast<IWICBitmapFrameDecode*>(this);
      AddRef();
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return addRef(); }
  ULONG STDMETHODCALLTYPE Release() override { return release(); }

  HRESULT STDMETHODCALLTYPE GetSize(UINT* width, UINT* height) override {
    if (!width || !height) return E_INVALIDARG;
    *width = static_cast<UINT>(picture_->width());
    *height = static_cast<UINT>(picture_->height());
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetPixelFormat(WICPixelFormatGUID* format) override {
    if (!format) return E_INVALIDARG;
    *format = GUID_WICPixelFormat4bppIndexed;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetResolution(double* x, double* y) override {
    if (!x || !y) return E_INVALIDARG;
    *x = kDotsPerInch;
    *y = kDotsPerInch;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE CopyPalette(IWICPalette* palette) override {
    if (!palette) return E_INVALIDARG;
    WICColor colors[kPaletteEntries];
    for (int i = 0; i < kPaletteEntries; ++i) {
      const RgbQuad& c = picture_->palette[static_cast<std::size_t>(i)];
      colors[i] = 0xFF000000u | static_cast<WICColor>(c.red) << 16 |
                  static_cast<WICColor>(c.green) << 8 | c.blue;
    }
    return palette->InitializeCustom(colors, kPaletteEntries);
  }
  // The rectangle's rows, two pixels a byte with the left one in the high nibble, each row
  // starting at a byte: the rectangle must lie inside the picture, stride hold a row and the
  // buffer every row.
  HRESULT STDMETHODCALLTYPE CopyPixels(const WICRect* rect, UINT stride, UINT bufferSize,
                                       BYTE* buffer) override {
    const int width = picture_->width(), height = picture_->height();
    const WICRect all{0, 0, width, height};
    const WICRect r = rect ? *rect : all;
    if (r.X < 0 || r.Y < 0 || r.Width < 0 || r.Height < 0 || r.X > width - r.Width ||
        r.Y > height - r.Height)
      return E_INVALIDARG;
    if (r.Width == 0 || r.Height == 0) return S_OK;
    if (!buffer) return E_INVALIDARG;
    const UINT rowBytes = (static_cast<UINT>(r.Width) * kBitsPerPixel + 7) / 8;
    if (stride < rowBytes) return E_INVALIDARG;
    const std::uint64_t needed =
        static_cast<std::uint64_t>(stride) * static_cast<UINT>(r.Height - 1) + rowBytes;
    if (bufferSize < needed) return WINCODEC_ERR_INSUFFICIENTBUFFER;
    for (int y = 0; y < r.Height; ++y) {
      BYTE* out = buffer + static_cast<std::size_t>(stride) * static_cast<std::size_t>(y);
      std::fill_n(out, rowBytes, 0);
      for (int x = 0; x < r.Width; ++x) {
        const std::uint8_t index = picture_->index(r.X + x, r.Y + y);
        out[x / 2] |= (x % 2) ? index : static_cast<std::uint8_t>(index << 4);
      }
    }
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE GetMetadataQueryReader(IWICMetadataQueryReader** reader) override {
    if (reader) *reader = nullptr;
    return WINCODEC_ERR_UNSUPPORTEDOPERATION;
  }
  HRESULT STDMETHODCALLTYPE GetColorContexts(UINT, IWICColorContext**, UINT* count) override {
    if (!count) return E_INVALIDARG;
    *count = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetThumbnail(IWICBitmapSource** thumbnail) override {
    if (thumbnail) *thumbnail = nullptr;
    return WINCODEC_ERR_CODECNOTHUMBNAIL;
  }

 private:
  PictureRef picture_;
};

class Decoder final : public IWICBitmapDecoder, RefCounted<Decoder> {
 public:
  explicit Decoder(const CodecClass& codec) : codec_(codec) {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
    if (!object) return E_POINTER;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IWICBitmapDecoder)) {
      *object = static_cast<IWICBitmapDecoder*>(this);
      AddRef();
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return addRef(); }
  ULONG STDMETHODCALLTYPE Release() override { return release(); }

  // Whether the stream's first bytes pass the format's own checks; the stream is left where it
  // was.
  HRESULT STDMETHODCALLTYPE QueryCapability(IStream* stream, DWORD* capability) override {
    if (!stream || !capability) return E_INVALIDARG;
    *capability = 0;
    ULARGE_INTEGER was{};
    LARGE_INTEGER none{};
    HRESULT hr = stream->Seek(none, STREAM_SEEK_CUR, &was);
    if (SUCCEEDED(hr)) hr = seekTo(stream, 0);
    host::Bytes head;
    if (SUCCEEDED(hr)) hr = readUpTo(stream, kRecognitionBlockSize, head);
    const HRESULT back = seekTo(stream, was.QuadPart);
    if (FAILED(hr)) return hr;
    if (FAILED(back)) return back;
    const host::Plugin* plugin = plugins().byFormat(codec_.format);
    if (plugin && host::recognisesContent(*plugin, head)) {
      *capability = WICBitmapDecoderCapabilityCanDecodeAllImages |
                    WICBitmapDecoderCapabilityCanDecodeSomeImages;
    }
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE Initialize(IStream* stream, WICDecodeOptions) override {
    if (!stream) return E_INVALIDARG;
    AcquireSRWLockExclusive(&lock_);
    const HRESULT hr = picture_ ? WINCODEC_ERR_WRONGSTATE : decode(stream);
    ReleaseSRWLockExclusive(&lock_);
    return hr;
  }

  HRESULT STDMETHODCALLTYPE GetContainerFormat(GUID* format) override {
    if (!format) return E_INVALIDARG;
    *format = codec_.container;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetDecoderInfo(IWICBitmapDecoderInfo** info) override {
    if (!info) return E_INVALIDARG;
    *info = nullptr;
    IWICImagingFactory* factory = nullptr;
    HRESULT hr = CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                                  IID_IWICImagingFactory, reinterpret_cast<void**>(&factory));
    if (FAILED(hr)) return hr;
    IWICComponentInfo* component = nullptr;
    hr = factory->CreateComponentInfo(codec_.decoder, &component);
    factory->Release();
    if (FAILED(hr)) return hr;
    hr = component->QueryInterface(IID_IWICBitmapDecoderInfo, reinterpret_cast<void**>(info));
    component->Release();
    return hr;
  }
  HRESULT STDMETHODCALLTYPE CopyPalette(IWICPalette*) override {
    return WINCODEC_ERR_PALETTEUNAVAILABLE;
  }
  HRESULT STDMETHODCALLTYPE GetMetadataQueryReader(IWICMetadataQueryReader** reader) override {
    if (reader) *reader = nullptr;
    return WINCODEC_ERR_UNSUPPORTEDOPERATION;
  }
  HRESULT STDMETHODCALLTYPE GetPreview(IWICBitmapSource** preview) override {
    if (preview) *preview = nullptr;
    return WINCODEC_ERR_UNSUPPORTEDOPERATION;
  }
  HRESULT STDMETHODCALLTYPE GetColorContexts(UINT, IWICColorContext**, UINT* count) override {
    if (!count) return E_INVALIDARG;
    *count = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetThumbnail(IWICBitmapSource** thumbnail) override {
    if (thumbnail) *thumbnail = nullptr;
    return WINCODEC_ERR_CODECNOTHUMBNAIL;
  }
  HRESULT STDMETHODCALLTYPE GetFrameCount(UINT* count) override {
    if (!count) return E_INVALIDARG;
    *count = decoded() ? 1 : 0;
    return decoded() ? S_OK : WINCODEC_ERR_NOTINITIALIZED;
  }
  HRESULT STDMETHODCALLTYPE GetFrame(UINT index, IWICBitmapFrameDecode** frame) override {
    if (!frame) return E_INVALIDARG;
    *frame = nullptr;
    const PictureRef picture = decoded();
    if (!picture) return WINCODEC_ERR_NOTINITIALIZED;
    if (index != 0) return E_INVALIDARG;
    *frame = new (std::nothrow) Frame(picture);
    return *frame ? S_OK : E_OUTOFMEMORY;
  }

 private:
  ~Decoder() override = default;

  static const host::PluginSet& plugins() {
    static const host::PluginSet set;
    return set;
  }

  PictureRef decoded() {
    AcquireSRWLockShared(&lock_);
    PictureRef picture = picture_;
    ReleaseSRWLockShared(&lock_);
    return picture;
  }

  HRESULT decode(IStream* stream) try {
    const host::Plugin* plugin = plugins().byFormat(codec_.format);
    if (!plugin) return E_UNEXPECTED;
    const FormatDescription& format = *plugin->description;
    host::Bytes bytes;
    HRESULT hr = seekTo(stream, 0);
    if (SUCCEEDED(hr)) hr = readUpTo(stream, format.largestFile, bytes);
    if (FAILED(hr)) return WINCODEC_ERR_STREAMREAD;
    if (!host::recognisesContent(*plugin, bytes)) return WINCODEC_ERR_BADHEADER;
    host::PictureFile file{"", std::move(bytes), companionsBeside(format, nameOf(stream))};
    auto picture = std::make_shared<host::Picture>();
    if (host::Result r = host::decode(*plugin, file, *picture); !r) return errorOf(r.code);
    picture_ = std::move(picture);
    return S_OK;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }

  const CodecClass& codec_;
  SRWLOCK lock_ = SRWLOCK_INIT;
  PictureRef picture_;
};

}  // namespace

HRESULT createDecoder(host::PictureFormat format, REFIID riid, void** object) {
  if (!object) return E_POINTER;
  *object = nullptr;
  Decoder* decoder = new (std::nothrow) Decoder(codecClassOf(format));
  if (!decoder) return E_OUTOFMEMORY;
  const HRESULT hr = decoder->QueryInterface(riid, object);
  decoder->Release();
  return hr;
}

}  // namespace wic
