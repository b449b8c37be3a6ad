// STUB (replaced by the real module)
#ifndef WQHOST_METADATA_HPP
#define WQHOST_METADATA_HPP
#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>
namespace wqhost {
struct DrawingMetadata {
    std::optional<std::string> acadver, codepage, encoding, created, modified, lastSavedBy,
        fingerprintGuid, versionGuid, units, title, subject, author, keywords, comments, revision;
    std::vector<std::pair<std::string, std::string>> custom;
    bool empty() const { return !acadver && custom.empty(); }
    void forEach(const std::function<void(const char* key, const std::string& value)>& visit) const {
        if (acadver) visit("acadver", *acadver);
        if (codepage) visit("codepage", *codepage);
        if (encoding) visit("encoding", *encoding);
    }
};
class MetadataCollector {
  public:
    static constexpr std::size_t kLongestValue = 4096;
    static constexpr std::size_t kMostCustom = 256;
    void clear() { var_.clear(); acadver_.reset(); }
    void headerGroup(int code, std::string_view value, bool cut) {
        if (code == 9) { var_ = std::string(value); return; }
        if (!cut && var_ == "$ACADVER" && code == 1 && !acadver_) acadver_ = std::string(value);
    }
    bool objectBegins(std::string_view type) { return type == "XRECORD"; }
    bool objectGroup(int, std::string_view, bool) { return false; }
    DrawingMetadata result(const std::function<void(std::string_view bytes, std::string* out)>& convert) const {
        DrawingMetadata m;
        if (acadver_) { m.acadver.emplace(); convert(*acadver_, &*m.acadver); }
        return m;
    }
  private:
    std::string var_;
    std::optional<std::string> acadver_;
};
}
#endif
