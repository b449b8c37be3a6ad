// What a whole run may deliver when host calls fail, judged against the run of the same
// document with no failures: the rule tests and fuzz targets hold transcripts to.
#ifndef WQTEST_OUTCOME_HPP
#define WQTEST_OUTCOME_HPP

#include <string>
#include <vector>

namespace wqtest {

// Which texts a run with failures may deliver.
enum class TextRule {
    // The clean run's texts in its order, some of them missing: memory failures lose the
    // text being made, and a failure that stops delivery loses the rest.
    FromCleanRun,
    // The same, and empty texts anywhere: a failed seek reads as an empty line.
    FromCleanRunOrEmpty,
    // Any text: a failed read or seek can cut a section short or shift the groups after it.
    Any,
};

// Why `got` (a transcript: "S", "T <hex>", "E", "D", "FAIL null") is not what a run may
// deliver, or "" when it is. A start record opens an entity, and a new one may cut the open
// entity short (a retried entity starts again); texts and end records come only inside an
// entity; the end of document comes at most once, and last. A refused start ("FAIL
// refused ...") is left to the caller. `clean` is the transcript of the run without
// failures, used by the text rules above.
std::string disallowedRecords(const std::vector<std::string>& clean,
                              const std::vector<std::string>& got, TextRule rule);

}  // namespace wqtest

#endif
