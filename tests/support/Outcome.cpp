// The record sequences a run may deliver when host calls fail.
#include "Outcome.hpp"

namespace wqtest {

std::string disallowedRecords(const std::vector<std::string>& clean,
                              const std::vector<std::string>& got, TextRule rule) {
    if (got.empty()) return "no transcript at all";
    if (got[0].rfind("FAIL refused", 0) == 0) return "";
    bool open = false;
    size_t nextText = 0;  // where the next text may be found in the clean run
    for (size_t i = 0; i < got.size(); ++i) {
        const std::string& line = got[i];
        const std::string where = "record " + std::to_string(i) + " (" + line + ")";
        if (line == "S") {
            open = true;
        } else if (line == "E") {
            if (!open) return where + ": an end without a start";
            open = false;
        } else if (line == "D") {
            if (i + 1 != got.size()) return where + ": the end of document is not last";
        } else if (line != "FAIL null") {
            if (line[0] != 'T') return where + ": not a record";
            if (!open) return where + ": a text outside an entity";
            if (rule == TextRule::Any || (rule == TextRule::FromCleanRunOrEmpty && line == "T"))
                continue;
            while (nextText < clean.size() && clean[nextText] != line) ++nextText;
            if (nextText++ >= clean.size()) return where + ": a text the clean run has not here";
        }
    }
    return "";
}

}  // namespace wqtest
