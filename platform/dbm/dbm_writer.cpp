#include "platform/dbm/dbm_writer.h"

#include "platform/dbm.h"


namespace plat::dbm {

uint32_t DurableWriter::submit(std::span<const Op> ops)
{
    m_group.clear();
    m_group.append(ops);
    std::string error;
    uint32_t rc = m_file.commit(m_group, 0, error);
    if (rc != DBM_OK) m_errors.push_back(error);
    return rc;
}

std::vector<std::string> DurableWriter::takeErrors()
{
    std::vector<std::string> out;
    out.swap(m_errors);
    return out;
}

}  // namespace plat::dbm
