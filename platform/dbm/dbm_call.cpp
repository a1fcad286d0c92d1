#include "platform/dbm/dbm_call.h"

#include <cstdio>
#include <cstring>

namespace plat::dbm {

bool keyOf(const char* pcKey, uint32_t uiKeyLen, std::string_view& out)
{
    if (pcKey == nullptr || uiKeyLen < 2 || uiKeyLen > DBM_MAX_KEY_LEN) return false;
    if (::strnlen(pcKey, uiKeyLen) != uiKeyLen - 1) return false;
    out = std::string_view(pcKey, uiKeyLen - 1);
    return true;
}

bool validName(const char* sz)
{
    if (sz == nullptr) return false;
    size_t n = ::strnlen(sz, DBM_MAX_NAME_LEN + 1);
    if (n == 0 || n > DBM_MAX_NAME_LEN) return false;
    for (size_t i = 0; i < n; ++i) {
        char c = sz[i];
        bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '-';
        if (!ok) return false;
    }
    return true;
}

uint32_t classOf(const DBM_PARAM_S* pstParam)
{
    if (pstParam == nullptr) return DBM_CLASS_DURABLE;
    const uint32_t* w = pstParam->auiWord;
    if (w[0] != DBM_PARAM_VERSION || w[1] != 0) return 0;
    for (int i = 3; i < 8; ++i)
        if (w[i] != 0) return 0;
    return (w[2] == DBM_CLASS_DURABLE || w[2] == DBM_CLASS_WRITE_BEHIND) ? w[2] : 0;
}

std::string baseArgs(uint32_t hDb, const char* pcKey, uint32_t uiKeyLen)
{
    return "h=" + std::to_string(hDb) + " key=" + keyArg(pcKey, uiKeyLen) + " keylen=" + std::to_string(uiKeyLen);
}

std::string keyArg(const char* pcKey, uint32_t uiKeyLen)
{
    if (pcKey == nullptr) return "null";
    size_t n = ::strnlen(pcKey, uiKeyLen > DBM_MAX_KEY_LEN ? DBM_MAX_KEY_LEN : uiKeyLen);
    std::string out = "\"";
    for (size_t i = 0; i < n; ++i) {
        unsigned char c = static_cast<unsigned char>(pcKey[i]);
        if (c < 0x20 || c >= 0x7F || c == '"' || c == '\\') {
            char buf[5];
            std::snprintf(buf, sizeof buf, "\\x%02x", c);
            out += buf;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

}  // namespace plat::dbm
