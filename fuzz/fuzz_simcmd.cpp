// The simulator's command language, as topology files and pbb-simctl send
// it: each line split into words and run against a fresh switch model. A
// line is done, refused or failed with a status and a message; nothing
// escapes. Commands that read or write files (frame) are split only.
#include "fuzz/fuzz_check.h"
#include "platform/model/switch_model.h"
#include "tools/simcmd/simcmd.h"

#include <cstdint>
#include <stdexcept>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > 4096) return -1;
    const std::string text(reinterpret_cast<const char*>(data), size);
    sim::SwitchModel model;
    size_t start = 0;
    int lines = 0;
    while (start <= text.size() && lines++ < 64) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        const std::string line = text.substr(start, end - start);
        start = end + 1;
        std::vector<std::string> words;
        try {
            words = simcmd::split(line);
        } catch (const std::invalid_argument&) {
            continue;  // an unterminated quote
        }
        if (words.empty() || words[0] == "frame") continue;
        const bool json = (lines % 2) == 0;
        simcmd::Outcome o = simcmd::run(model, nullptr, words, json);
        FUZZ_CHECK(o.status == 0 || o.status == 1 || o.status == 2);
        FUZZ_CHECK(o.status == 0 || !o.err.empty());
    }
    return 0;
}
