#include "platform/dbm/dbm_ops.h"

#include <cstring>

namespace plat::dbm {

void OpList::append(const Op& op)
{
    auto len = [](std::string_view t) { return static_cast<uint32_t>(t.size()); };
    const size_t at = m_bytes.size();
    m_ops.push_back(Stored{op.kind, op.db, op.toDb, op.valueType, op.elemLen, op.desc, at, len(op.key),
                           len(op.field), len(op.data)});
    // The three texts side by side, the buffer grown once for them (every
    // learned entry's save comes through here).
    m_bytes.resize(at + op.key.size() + op.field.size() + op.data.size());
    char* p = m_bytes.data() + at;
    for (std::string_view t : {op.key, op.field, op.data}) {
        if (!t.empty()) std::memcpy(p, t.data(), t.size());
        p += t.size();
    }
}

Op OpList::operator[](size_t i) const
{
    const Stored& s = m_ops[i];
    std::string_view bytes(m_bytes);
    Op op;
    op.kind = s.kind;
    op.db = s.db;
    op.toDb = s.toDb;
    op.valueType = s.valueType;
    op.elemLen = s.elemLen;
    op.desc = s.desc;
    op.key = bytes.substr(s.at, s.keyLen);
    op.field = bytes.substr(s.at + s.keyLen, s.fieldLen);
    op.data = bytes.substr(s.at + s.keyLen + s.fieldLen, s.dataLen);
    return op;
}

std::vector<Op> OpList::views() const
{
    std::vector<Op> out;
    out.reserve(m_ops.size());
    for (size_t i = 0; i < m_ops.size(); ++i) out.push_back((*this)[i]);
    return out;
}

namespace {

// A change in the log: its kind (1 byte), twelve numbers (db, toDb,
// valueType, elemLen, the five words of the description, the lengths of
// key, field and data), each in 7-bit groups, least significant first, the
// high bit set on all but the last; then the texts.
constexpr int kWords = 12;

// Writes v at `at`; returns the end of what it wrote (at most 5 bytes).
char* putVarint(char* at, uint32_t v)
{
    while (v >= 0x80) {
        *at++ = static_cast<char>(0x80 | (v & 0x7F));
        v >>= 7;
    }
    *at++ = static_cast<char>(v);
    return at;
}

bool getVarint(std::string_view& in, uint32_t& v)
{
    v = 0;
    for (int shift = 0; shift < 35 && !in.empty(); shift += 7) {
        uint8_t b = static_cast<uint8_t>(in.front());
        in.remove_prefix(1);
        if (shift == 28 && b > 0x0F) return false;
        v |= uint32_t(b & 0x7F) << shift;
        if ((b & 0x80) == 0) return true;
    }
    return false;
}

}  // namespace

void OpList::encode(std::string& out) const
{
    // The kind and the numbers of a change go out in one append: the
    // committer encodes every learned entry.
    char head[1 + kWords * 5];
    for (const Stored& s : m_ops) {
        const uint32_t words[kWords] = {s.db, s.toDb, s.valueType, s.elemLen, s.desc.kind, s.desc.offset,
                                        s.desc.length, s.desc.compare, s.desc.flags, s.keyLen, s.fieldLen, s.dataLen};
        char* end = head;
        *end++ = static_cast<char>(s.kind);
        for (uint32_t w : words) end = putVarint(end, w);
        out.append(head, static_cast<size_t>(end - head));
        out.append(m_bytes, s.at, size_t(s.keyLen) + s.fieldLen + s.dataLen);
    }
}

bool takeChange(std::string_view& bytes, Op& op)
{
    if (bytes.empty() || static_cast<uint8_t>(bytes.front()) > static_cast<uint8_t>(OpKind::MoveKey)) return false;
    std::string_view in = bytes.substr(1);
    uint32_t w[kWords];
    for (uint32_t& word : w)
        if (!getVarint(in, word)) return false;
    const size_t texts = size_t(w[9]) + w[10] + w[11];
    if (in.size() < texts) return false;
    op.kind = static_cast<OpKind>(bytes.front());
    op.db = w[0];
    op.toDb = w[1];
    op.valueType = w[2];
    op.elemLen = w[3];
    op.desc = SortDesc{w[4], w[5], w[6], w[7], w[8]};
    op.key = in.substr(0, w[9]);
    op.field = in.substr(w[9], w[10]);
    op.data = in.substr(size_t(w[9]) + w[10], w[11]);
    bytes = in.substr(texts);
    return true;
}

}  // namespace plat::dbm
