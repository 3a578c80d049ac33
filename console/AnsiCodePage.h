#pragma once

#include <iconv.h>

#include <string>
#include <string_view>

namespace console {

// Converts between UTF-8 and the ANSI code page the console measures byte
// limits in (GBK, CP936). Holds its converters, so a caller converting every
// frame allocates nothing but the result. Not shared between threads.
class TAnsiCodec {
public:
    TAnsiCodec();
    ~TAnsiCodec();
    TAnsiCodec(const TAnsiCodec&) = delete;
    TAnsiCodec& operator=(const TAnsiCodec&) = delete;

    // False when the text has no GBK (or UTF-8) form; `out` is then empty.
    bool ToAnsi(std::string_view utf8, std::string* out);
    bool FromAnsi(std::string_view gbk, std::string* out);

private:
    static bool Convert(iconv_t codec, std::string_view in, std::string* out);

    iconv_t m_toAnsi;
    iconv_t m_fromAnsi;
};

}  // namespace console
