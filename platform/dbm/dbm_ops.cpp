#include "platform/dbm/dbm_ops.h"

namespace plat::dbm {

void OpList::append(const Op& op)
{
    auto len = [](std::string_view t) { return static_cast<uint32_t>(t.size()); };
    m_ops.push_back(Stored{op.kind, op.db, op.toDb, op.valueType, op.elemLen, op.desc,
                           m_bytes.size(), len(op.key), len(op.field), len(op.data)});
    m_bytes.append(op.key).append(op.field).append(op.data);
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

}  // namespace plat::dbm
