// The management service over the in-process platform: the control-logic
// fixture, request encoders, and a connected socket pair whose server end
// is served one read at a time, so that what each read holds is exact.
#pragma once

#include "daemon/pbb_gs.h"
#include "daemon/pbb_log.h"
#include "platform/stlv.h"
#include "support/logread.h"
#include "unit/ctl/ctl_test.h"

#include <arpa/inet.h>
#include <sys/socket.h>
#include <unistd.h>

namespace gstest {

using Bytes = std::vector<uint8_t>;

struct Reply {
    uint16_t type;
    Bytes value;
    uint32_t code() const { return value.size() == 4 ? uint32_t(value[0]) << 24 | value[1] << 16 | value[2] << 8 | value[3] : 0xBAD; }
};

inline Bytes tlv(uint16_t type, const void* value, size_t len)
{
    Bytes out(STLV_HEADER_LEN + len);
    EXPECT_EQ(STLV_Set(out.data(), uint32_t(out.size()), type, uint16_t(len), value), out.size());
    return out;
}
// A request whose value is a VSI name in its 32-byte field.
inline Bytes nameTlv(uint16_t type, const char* name)
{
    char field[PBB_VSI_NAME_LEN] = {};
    std::strncpy(field, name, sizeof field - 1);
    return tlv(type, field, sizeof field);
}
template <typename T>
Bytes tlv(uint16_t type, const T& value) { return tlv(type, &value, sizeof(T)); }
inline Bytes operator+(Bytes x, const Bytes& y) { return x.insert(x.end(), y.begin(), y.end()), x; }
inline void putName(char* field, const char* name) { memcpy(field, name, strnlen(name, PBB_VSI_NAME_LEN)); }

inline Bytes setReq(uint16_t type, uint16_t op, uint32_t value, uint32_t isid, const char* name)
{
    PbbGsSetReq r{htons(op), 0, htonl(value), htonl(isid), {}};
    putName(r.szVsiName, name);
    return tlv(type, r);
}
// Types 0 and 3: an operation and one word.
inline Bytes pairReq(uint16_t type, uint16_t op, uint32_t word) { return tlv(type, PbbGsDebugReq{htons(op), 0, htonl(word)}); }
inline Bytes uplinkReq(uint16_t op, uint32_t ifIndex, std::vector<const char*> names)
{
    PbbGsUplinkReq h{htons(op), 0, htonl(ifIndex), htonl(uint32_t(names.size()))};
    Bytes v(sizeof h + names.size() * PBB_VSI_NAME_LEN);
    memcpy(v.data(), &h, sizeof h);
    for (size_t i = 0; i < names.size(); ++i) putName(reinterpret_cast<char*>(&v[sizeof h + i * PBB_VSI_NAME_LEN]), names[i]);
    return tlv(PBB_GS_REQ_SET_UPLINK_VSI, v.data(), v.size());
}
inline PbbGsResetUcPwReq resetReq(std::vector<uint16_t> vlans, std::vector<uint32_t> ifs, const char* name)
{
    PbbGsResetUcPwReq r{};
    BITMAP_S* map = Bitmap_Create(4094);
    for (uint16_t v : vlans) Bitmap_Set(map, v);
    Bitmap_H2N(map);
    memcpy(r.auiBVlanMap, map, Bitmap_RecordSize(4094));
    Bitmap_Destroy(map);
    r.uiIfCount = htonl(uint32_t(ifs.size()));
    for (size_t i = 0; i < ifs.size(); ++i) r.auiIfIndex[i] = htonl(ifs[i]);
    putName(r.szVsiName, name);
    return r;
}
// A reset request whose B-VLAN set claims more than 560 bytes.
inline PbbGsResetUcPwReq badSetReq()
{
    PbbGsResetUcPwReq r = resetReq({10}, {}, "");
    r.auiBVlanMap[0] = htonl(139);
    return r;
}
inline Bytes ucReq(uint16_t type, uint32_t vsi, uint32_t isid, uint16_t bvlan, uint8_t lastMac, const char* name)
{
    PbbGsUcPwMsg r{htonl(vsi), htonl(isid), htons(bvlan), {0, 0x11, 0x22, 0x33, 0, lastMac}, 0, {}};
    putName(r.szVsiName, name);
    return tlv(type, r);
}

class Gs : public ctltest::Ctl {
protected:
    void SetUp() override
    {
        Ctl::SetUp();
        int sv[2];
        ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0, sv), 0);
        cli_ = sv[0];
        srv_ = sv[1];
    }
    void TearDown() override
    {
        if (cli_ >= 0) close(cli_);
        if (srv_ >= 0) close(srv_);
        g_uiPbbDbgFlag = 0;
        Ctl::TearDown();
    }
    // Writes bytes, serves one read of them, returns every reply sent.
    std::vector<Reply> serve(const Bytes& bytes)
    {
        EXPECT_EQ(send(cli_, bytes.data(), bytes.size(), 0), ssize_t(bytes.size()));
        EXPECT_EQ(_pbb_gs_RecvMsg(srv_), PBB_OK);
        Bytes in;
        uint8_t buf[8192];
        for (ssize_t n; (n = recv(cli_, buf, sizeof buf, MSG_DONTWAIT)) > 0;) in.insert(in.end(), buf, buf + n);
        std::vector<Reply> out;
        for (size_t at = 0; at < in.size();) {
            uint16_t type = 0, len = 0;
            void* value = nullptr;
            (void)STLV_Get(&in[at], uint16_t(std::min<size_t>(in.size() - at, 0xFFFF)), &type, &len, &value);
            if (value == nullptr) return ADD_FAILURE() << "incomplete reply", out;
            auto* v = static_cast<uint8_t*>(value);
            out.push_back({type, Bytes(v, v + len)});
            at = size_t(v + len - in.data());
        }
        return out;
    }
    // The code of the one result reply to a request; 0xDEADBEEF for any other answer.
    uint32_t result(const Bytes& request)
    {
        auto r = serve(request);
        return r.size() == 1 && r[0].type == PBB_GS_REPLY_RESULT ? r[0].code() : 0xDEADBEEFu;
    }

    int cli_ = -1;
    int srv_ = -1;
};

}  // namespace gstest
