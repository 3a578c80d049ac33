#include "console/services/SettingsStore.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "common/Utf.h"
#include "platform/Registry.h"

namespace console {
namespace {

using platform::RegAccess;
using platform::RegHive;
using platform::TRegKey;

constexpr std::string_view kRoot = "SOFTWARE\\Quindle";
constexpr int kCanvasWidth = 1920;
constexpr int kCanvasHeight = 1080;
constexpr size_t kTemplateNameUnits = sizeof(TCapLayout::Name) / sizeof(char16_t);
constexpr size_t kPositionBytes = sizeof(TCapLayer::Position);
constexpr int kBitRateChoices = 6;
constexpr int16_t kDefaultBitRate = 2;

std::string KeyPath(std::string_view subkey) {
    std::string path(kRoot);
    if (!subkey.empty()) {
        path += '\\';
        path += subkey;
    }
    return path;
}

std::string Numbered(const char* format, int n) {
    char text[64];
    std::snprintf(text, sizeof text, format, n);
    return text;
}

std::string TemplateKey(int n) {
    return Numbered("LayerTemplates\\Template%d", n);
}

std::string LayerKey(int n, int layer) {
    return TemplateKey(n) + Numbered("\\Layer%d", layer);
}

bool OpenForRead(std::string_view subkey, TRegKey* key) {
    return key->Open(RegHive::LocalMachine, KeyPath(subkey), RegAccess::Read) == platform::kRegOk;
}

int OpenForWrite(std::string_view subkey, TRegKey* key) {
    return key->Create(RegHive::LocalMachine, KeyPath(subkey), RegAccess::Write);
}

bool QueryDword(const TRegKey& key, std::string_view name, uint32_t* value) {
    return key.IsOpen() && key.QueryDword(name, value) == platform::kRegOk;
}

// The value as a 16-bit number, or fallback when it is missing.
int16_t Query16(const TRegKey& key, std::string_view name, int16_t fallback) {
    uint32_t value = 0;
    return QueryDword(key, name, &value) ? static_cast<int16_t>(value) : fallback;
}

int16_t BitRateIndex(int16_t index) {
    return index >= 0 && index < kBitRateChoices ? index : kDefaultBitRate;
}

// The stored string when it fits maxUnits UTF-16 units with its terminator.
bool QueryWide(const TRegKey& key, std::string_view name, size_t maxUnits, std::u16string* text) {
    std::string stored;
    if (!key.IsOpen() || key.QueryString(name, &stored) != platform::kRegOk)
        return false;
    *text = common::Utf8ToUtf16(stored);
    return text->size() < maxUnits;
}

void CopyTerminated(std::u16string_view text, char16_t* buffer) {
    std::copy(text.begin(), text.end(), buffer);
    buffer[text.size()] = u'\0';
}

// Writes every value; true only when each write succeeded.
class TWriteBatch {
public:
    explicit TWriteBatch(std::string_view subkey) { m_bOk = OpenForWrite(subkey, &m_key) == 0; }
    bool Dword(std::string_view name, uint32_t value) {
        return Record(m_bOk && m_key.SetDword(name, value) == platform::kRegOk);
    }
    bool Signed(std::string_view name, int32_t value) {
        return Dword(name, static_cast<uint32_t>(value));
    }
    bool Wide(std::string_view name, std::u16string_view text) {
        return Record(m_bOk &&
                      m_key.SetString(name, common::Utf16ToUtf8(text)) == platform::kRegOk);
    }
    bool Binary(std::string_view name, const void* data, size_t size) {
        return Record(m_bOk && m_key.SetBinary(name, data, size) == platform::kRegOk);
    }
    bool Ok() const { return m_bOk && m_bAllWritten; }

private:
    bool Record(bool written) {
        m_bAllWritten = m_bAllWritten && written;
        return written;
    }

    TRegKey m_key;
    bool m_bOk = false;
    bool m_bAllWritten = true;
};

std::u16string_view NameOf(const TCapLayout& layout) {
    const std::u16string_view all(layout.Name, kTemplateNameUnits);
    return all.substr(0, std::min(all.find(u'\0'), all.size()));
}

void SetName(TCapLayout* layout, std::u16string_view name) {
    std::fill(std::begin(layout->Name), std::end(layout->Name), u'\0');
    std::copy_n(name.begin(), std::min(name.size(), kTemplateNameUnits - 1), layout->Name);
}

int32_t Saturated(int64_t value) {
    return static_cast<int32_t>(std::clamp<int64_t>(value, INT32_MIN, INT32_MAX));
}

void SetRect(TCapLayer* layer, int64_t left, int64_t top, int64_t right, int64_t bottom) {
    const int32_t l = Saturated(left), t = Saturated(top), r = Saturated(right),
                  b = Saturated(bottom);
    layer->Position[0] = {l, t};
    layer->Position[1] = {r, t};
    layer->Position[2] = {r, b};
    layer->Position[3] = {l, b};
}

void SetLayer(TCapLayer* layer, int16_t id, int32_t flag) {
    layer->Id = id;
    layer->Flag = flag;
    layer->BrdAdjust = 0;
}

void FillBuiltIn(TCapLayout* layout, int n) {
    const int64_t w = layout->MaxWidth, h = layout->MaxHeight;
    SetName(layout, n == 0 ? u"全屏" : u"双视窗");
    layout->BuildIn = 1;
    layout->LayerCnt = 2;
    for (int16_t i = 0; i < 2; ++i) {
        TCapLayer& layer = layout->layers[i];
        if (n == 0) {
            SetLayer(&layer, i, 1);
            SetRect(&layer, 0, 0, w - 1, h - 1);
        } else {
            SetLayer(&layer, i, i == 0 ? 5 : 1);
            const int64_t x0 = i * w / 2;
            SetRect(&layer, x0, h / 4, x0 + w / 2 - 1, h / 4 + h / 2 - 1);
        }
    }
}

bool ValidShape(const TCapLayout& layout) {
    return layout.LayerCnt >= 0 && layout.LayerCnt <= TCapLayout::kMaxLayers &&
           layout.MaxWidth >= 2 && layout.MaxHeight >= 2;
}

bool LoadHeader(int n, TCapLayout* layout) {
    TRegKey key;
    if (!OpenForRead(TemplateKey(n), &key))
        return false;
    std::u16string name;
    uint32_t count = 0, builtIn = 0, width = 0, height = 0;
    if (!QueryWide(key, "Name", kTemplateNameUnits, &name) ||
        !QueryDword(key, "LayerCnt", &count) || !QueryDword(key, "BuildIn", &builtIn) ||
        !QueryDword(key, "MaxWidth", &width) || !QueryDword(key, "MaxHeight", &height)) {
        return false;
    }
    SetName(layout, name);
    layout->LayerCnt = static_cast<int32_t>(count);
    layout->BuildIn = static_cast<int32_t>(builtIn);
    layout->MaxWidth = static_cast<int32_t>(width);
    layout->MaxHeight = static_cast<int32_t>(height);
    return ValidShape(*layout);
}

bool LoadLayer(int n, int index, TCapLayer* layer) {
    TRegKey key;
    if (!OpenForRead(LayerKey(n, index), &key))
        return false;
    uint32_t id = 0;
    std::vector<uint8_t> position;
    if (!QueryDword(key, "Id", &id) || key.QueryBinary("Position", &position) != platform::kRegOk ||
        position.size() != kPositionBytes) {
        return false;
    }
    layer->Id = static_cast<int16_t>(id);
    uint32_t flag = 0;
    layer->Flag = QueryDword(key, "Flag", &flag) ? static_cast<int32_t>(flag) : 1;
    layer->BrdAdjust = Query16(key, "BrdAdjust", 1);
    std::memcpy(layer->Position, position.data(), kPositionBytes);
    return true;
}

TCapLayout ScaledToCanvas(const TCapLayout& layout) {
    TCapLayout copy = layout;
    if (copy.MaxWidth == kCanvasWidth && copy.MaxHeight == kCanvasHeight)
        return copy;
    RescaleLayout(&copy, kCanvasWidth, kCanvasHeight);
    return copy;
}

}  // namespace

int ReadClient(int16_t* width, int16_t* height, int16_t* fps, int16_t* pixelFormat) {
    TRegKey key;
    OpenForRead("Client", &key);
    *width = Query16(key, "Width", 1280);
    *height = Query16(key, "Height", 720);
    *fps = std::max<int16_t>(Query16(key, "FPS", 30), -1);
    *pixelFormat = std::max<int16_t>(Query16(key, "Pixelfmt", 1), -1);
    return 1;
}

bool WriteClient(int16_t width, int16_t height, int16_t fps, int16_t pixelFormat) {
    TWriteBatch batch("Client");
    batch.Signed("Width", width);
    batch.Signed("Height", height);
    batch.Signed("FPS", fps);
    batch.Signed("Pixelfmt", pixelFormat);
    return batch.Ok();
}

int ReadRecord(int16_t* vaAlign, int16_t* bytesRate, int16_t* gop, uint16_t* fileExt) {
    TRegKey key;
    OpenForRead("Record", &key);
    *vaAlign = Query16(key, "VAAlign", 0);
    *bytesRate = BitRateIndex(Query16(key, "BytesRate", kDefaultBitRate));
    *gop = Query16(key, "GOP", 100);
    *fileExt = static_cast<uint16_t>(Query16(key, "FileExt", 1));
    return 1;
}

bool WriteRecord(int16_t vaAlign, int16_t bytesRate, int16_t gop, uint16_t fileExt) {
    TWriteBatch batch("Record");
    batch.Signed("VAAlign", vaAlign);
    batch.Signed("BytesRate", bytesRate);
    batch.Signed("GOP", gop);
    batch.Dword("FileExt", fileExt);
    return batch.Ok();
}

int ReadRtmp(int16_t* byteRate, char16_t (*addresses)[kRtmpAddrUnits],
             char16_t (*names)[kRtmpNameUnits]) {
    for (int i = 0; i < kRtmpTargets; ++i) {
        if (addresses)
            addresses[i][0] = u'\0';
        if (names)
            names[i][0] = u'\0';
    }
    TRegKey key;
    OpenForRead("RTMP", &key);
    *byteRate = BitRateIndex(Query16(key, "ByteRate", kDefaultBitRate));
    for (int i = 0; i < kRtmpTargets; ++i) {
        std::u16string address, name;
        const bool hasAddress = QueryWide(key, Numbered("Addr%d", i + 1), kRtmpAddrUnits, &address);
        const bool hasName = QueryWide(key, Numbered("Name%d", i + 1), kRtmpNameUnits, &name);
        if (!hasName)
            continue;
        if (names)
            CopyTerminated(name, names[i]);
        if (addresses && hasAddress)
            CopyTerminated(address, addresses[i]);
    }
    return 1;
}

bool WriteRtmp(int16_t byteRate, const std::u16string_view addresses[kRtmpTargets],
               const std::u16string_view names[kRtmpTargets]) {
    TWriteBatch batch("RTMP");
    batch.Signed("ByteRate", byteRate);
    for (int i = 0; i < kRtmpTargets; ++i) {
        if (batch.Wide(Numbered("Addr%d", i + 1), addresses[i])) {
            batch.Wide(Numbered("Name%d", i + 1), names[i]);
        }
    }
    return batch.Ok();
}

int ReadString(char16_t* buffer, size_t bufferBytes, std::string_view valueName,
               std::string_view subkey) {
    TRegKey key;
    std::u16string text;
    if (!OpenForRead(subkey, &key) || !QueryWide(key, valueName, bufferBytes / 2, &text))
        return 0;
    CopyTerminated(text, buffer);
    return 1;
}

bool IsStored(std::string_view valueName, std::string_view subkey) {
    TRegKey key;
    platform::RegType type{};
    return OpenForRead(subkey, &key) && key.QueryType(valueName, &type) == platform::kRegOk &&
           (type == platform::RegType::Dword || type == platform::RegType::String);
}

int WriteString(std::u16string_view text, std::string_view valueName, std::string_view subkey) {
    TRegKey key;
    const int result = OpenForWrite(subkey, &key);
    if (result != platform::kRegOk)
        return result;
    return key.SetString(valueName, common::Utf16ToUtf8(text));
}

int RenameTemplate(std::u16string_view name, int n) {
    return WriteString(name, "Name", TemplateKey(n)) == platform::kRegOk ? 1 : 0;
}

int LoadTemplate(TCapLayout* layout, int n, bool withLayers) {
    if (n == 0 || n == 1) {
        FillBuiltIn(layout, n);
        return 1;
    }
    TCapLayout loaded = *layout;
    if (!LoadHeader(n, &loaded))
        return 0;
    for (int i = 0; withLayers && i < loaded.LayerCnt; ++i) {
        if (!LoadLayer(n, i, &loaded.layers[i]))
            return 0;
    }
    *layout = loaded;
    return 1;
}

int SaveTemplate(const TCapLayout& layout, int n) {
    if (layout.BuildIn != 0)
        return 1;
    if (!ValidShape(layout))
        return 0;
    const TCapLayout scaled = ScaledToCanvas(layout);
    TWriteBatch header(TemplateKey(n));
    header.Wide("Name", NameOf(scaled));
    header.Signed("LayerCnt", scaled.LayerCnt);
    header.Signed("BuildIn", scaled.BuildIn);
    header.Signed("MaxWidth", scaled.MaxWidth);
    header.Signed("MaxHeight", scaled.MaxHeight);
    if (!header.Ok())
        return 0;
    for (int i = 0; i < scaled.LayerCnt; ++i) {
        const TCapLayer& layer = scaled.layers[i];
        TWriteBatch batch(LayerKey(n, i));
        batch.Signed("Id", layer.Id);
        batch.Signed("Flag", layer.Flag);
        batch.Signed("BrdAdjust", layer.BrdAdjust);
        batch.Binary("Position", layer.Position, kPositionBytes);
        if (!batch.Ok())
            return 0;
    }
    return 1;
}

TCapLayout DefaultTemplate(int n) {
    TCapLayout layout{};
    for (TCapLayer& layer : layout.layers) layer.Id = TCapLayer::kUnused;
    const std::string name = Numbered("自定义%d", n + 1);
    SetName(&layout, common::Utf8ToUtf16(name));
    layout.LayerCnt = 2;
    layout.BuildIn = 0;
    layout.MaxWidth = kCanvasWidth;
    layout.MaxHeight = kCanvasHeight;
    SetLayer(&layout.layers[0], 0, 7);
    SetRect(&layout.layers[0], 100, 100, 100 + kCanvasWidth / 2, 100 + kCanvasHeight / 2);
    SetLayer(&layout.layers[1], 1, 3);
    SetRect(&layout.layers[1], 300, 300, 1260, 840);
    return layout;
}

}  // namespace console
