#include "platform/dbm/dbm_writer.h"

#include "platform/dbm.h"

#include <iterator>

namespace plat::dbm {

uint32_t DurableWriter::submit(std::span<Op> ops)
{
    // The file's apply takes a group; a call's changes are few.
    OpGroup group(std::make_move_iterator(ops.begin()), std::make_move_iterator(ops.end()));
    std::string error;
    uint32_t rc = m_file.apply(group, error);
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
