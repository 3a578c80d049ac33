#include "console/AnsiCodePage.h"

#include <cerrno>

namespace console {

namespace {
const iconv_t kNoCodec = reinterpret_cast<iconv_t>(-1);
}

TAnsiCodec::TAnsiCodec() : m_toAnsi(iconv_open("GBK", "UTF-8")), m_fromAnsi(iconv_open("UTF-8", "GBK")) {}

TAnsiCodec::~TAnsiCodec() {
    if (m_toAnsi != kNoCodec) iconv_close(m_toAnsi);
    if (m_fromAnsi != kNoCodec) iconv_close(m_fromAnsi);
}

bool TAnsiCodec::ToAnsi(std::string_view utf8, std::string* out) { return Convert(m_toAnsi, utf8, out); }

bool TAnsiCodec::FromAnsi(std::string_view gbk, std::string* out) { return Convert(m_fromAnsi, gbk, out); }

bool TAnsiCodec::Convert(iconv_t codec, std::string_view in, std::string* out) {
    out->clear();
    if (codec == kNoCodec) return false;
    iconv(codec, nullptr, nullptr, nullptr, nullptr);
    // Neither direction more than doubles the length.
    out->resize(in.size() * 2 + 4);
    char* source = const_cast<char*>(in.data());
    size_t sourceLeft = in.size();
    char* target = out->data();
    size_t targetLeft = out->size();
    if (iconv(codec, &source, &sourceLeft, &target, &targetLeft) == static_cast<size_t>(-1) ||
        iconv(codec, nullptr, nullptr, &target, &targetLeft) == static_cast<size_t>(-1)) {
        out->clear();
        return false;
    }
    out->resize(out->size() - targetLeft);
    return true;
}

}  // namespace console
