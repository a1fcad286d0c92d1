// Request lines on pbb-sim's control socket: a line is decoded or refused
// with a reason, never anything else; a decoded request encodes to a line
// that decodes to the same request.
#include "fuzz/fuzz_check.h"
#include "platform/transport/control.h"

#include <cstdint>
#include <string>

using plat::transport::ControlRequest;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string line(reinterpret_cast<const char*>(data), size);
    std::string error;
    std::optional<ControlRequest> req = plat::transport::decodeRequest(line, &error);
    if (!req) {
        FUZZ_CHECK(!error.empty());
        return 0;
    }
    const std::string again = plat::transport::encodeRequest(*req);
    FUZZ_CHECK(again.find('\n') == std::string::npos);
    std::string error2;
    std::optional<ControlRequest> back = plat::transport::decodeRequest(again, &error2);
    FUZZ_CHECK(back.has_value());
    FUZZ_CHECK(back->words == req->words && back->json == req->json && back->cwd == req->cwd);
    return 0;
}
