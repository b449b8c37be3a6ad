// Peer for the speed comparison: prints the text of drawings as read by dxflib, one value
// a line; --all adds MTEXT, dimension and arc-aligned text to TEXT, ATTRIB and BLOCK names.
#include <dl_creationadapter.h>
#include <dl_dxf.h>

#include <cstdio>
#include <string>

#include "PeerMain.hpp"

namespace {

class TextPrinter : public DL_CreationAdapter {
public:
    explicit TextPrinter(bool all) : all_(all) {}

    long long texts() const { return texts_; }

    void addBlock(const DL_BlockData& data) override { print(data.name); }
    void addText(const DL_TextData& data) override { print(data.text); }
    // ATTRIB: the value and its tag, the two values the plug-in delivers for one.
    void addAttribute(const DL_AttributeData& data) override {
        print(data.text);
        print(data.tag);
    }
    // dxflib hands the 250-character code 3 chunks of an MTEXT over before the entity.
    void addMTextChunk(const std::string& text) override {
        if (all_) chunks_ += text;
    }
    void addMText(const DL_MTextData& data) override {
        if (all_) print(chunks_ + data.text);
        chunks_.clear();
    }
    void addArcAlignedText(const DL_ArcAlignedTextData& data) override {
        if (all_) print(data.text);
    }
    void addDimAlign(const DL_DimensionData& data, const DL_DimAlignedData&) override { dimension(data); }
    void addDimLinear(const DL_DimensionData& data, const DL_DimLinearData&) override { dimension(data); }
    void addDimRadial(const DL_DimensionData& data, const DL_DimRadialData&) override { dimension(data); }
    void addDimDiametric(const DL_DimensionData& data, const DL_DimDiametricData&) override { dimension(data); }
    void addDimAngular(const DL_DimensionData& data, const DL_DimAngular2LData&) override { dimension(data); }
    void addDimAngular3P(const DL_DimensionData& data, const DL_DimAngular3PData&) override { dimension(data); }
    void addDimOrdinate(const DL_DimensionData& data, const DL_DimOrdinateData&) override { dimension(data); }

private:
    // A dimension's own text, when its user wrote one instead of the measured value.
    void dimension(const DL_DimensionData& data) {
        if (all_ && !data.text.empty() && data.text != "<>") print(data.text);
    }
    void print(const std::string& text) {
        std::fwrite(text.data(), 1, text.size(), stdout);
        std::fputc('\n', stdout);
        ++texts_;
    }

    bool all_;
    long long texts_ = 0;
    std::string chunks_;
};

}  // namespace

int main(int argc, char** argv) {
    const bool all = hasOption(argc, argv, "--all");
    long long texts = 0;
    return readEach(argc, argv, [&](const char* path) {
        TextPrinter printer(all);
        DL_Dxf dxf;
        const bool read = dxf.in(path, &printer);
        texts += printer.texts();
        return read;
    }, texts);
}
