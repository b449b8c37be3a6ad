// Peer for the speed comparison: prints the Text field of every feature that GDAL's OGR
// DXF driver reads from drawings (TEXT, MTEXT, ATTDEF, dimension text) and each of an
// insert's attributes ("TAG value"), one a line; --fields puts the entity's fields before it.
#include <gdal.h>
#include <ogr_api.h>
#include <cpl_conv.h>

#include <cstdio>

#include "PeerMain.hpp"

namespace {

long long texts = 0;
bool fields = false;

void print(const char* text) {
    std::fputs(text, stdout);
    std::fputc('\n', stdout);
    ++texts;
}

// The driver's fields that say where an entity is and what it is, as dxftext's JSON Lines
// say them; -1 for a field this layer (or this version of GDAL) does not have.
struct FieldIndexes {
    int layer, handle, paperSpace, block, tag, blockName;

    explicit FieldIndexes(OGRFeatureDefnH definition)
        : layer(OGR_FD_GetFieldIndex(definition, "Layer")),
          handle(OGR_FD_GetFieldIndex(definition, "EntityHandle")),
          paperSpace(OGR_FD_GetFieldIndex(definition, "PaperSpace")),
          block(OGR_FD_GetFieldIndex(definition, "Block")),
          tag(OGR_FD_GetFieldIndex(definition, "AttributeTag")),
          blockName(OGR_FD_GetFieldIndex(definition, "BlockName")) {}
};

const char* stringField(OGRFeatureH feature, int index) {
    return index >= 0 && OGR_F_IsFieldSetAndNotNull(feature, index) ? OGR_F_GetFieldAsString(feature, index) : "";
}

// Layer, handle, block, space, tag, insert ("handle block" of the insert an attribute
// belongs to) and position (x y z of a point geometry), each followed by a tab. The fields
// are asked for one feature at a time, as a program that keeps them would.
void printFields(OGRFeatureH feature, const FieldIndexes& index, const char* tag, bool ofInsert) {
    const bool paper = index.paperSpace >= 0 && OGR_F_IsFieldSetAndNotNull(feature, index.paperSpace) &&
                       OGR_F_GetFieldAsInteger(feature, index.paperSpace) != 0;
    std::printf("%s\t%s\t%s\t%s\t%s\t", stringField(feature, index.layer),
                ofInsert ? "" : stringField(feature, index.handle), stringField(feature, index.block),
                paper ? "paper" : "model", tag);
    if (ofInsert)
        std::printf("%s %s", stringField(feature, index.handle), stringField(feature, index.blockName));
    std::fputc('\t', stdout);
    OGRGeometryH geometry = OGR_F_GetGeometryRef(feature);
    if (geometry != nullptr && wkbFlatten(OGR_G_GetGeometryType(geometry)) == wkbPoint)
        std::printf("%.17g %.17g %.17g", OGR_G_GetX(geometry, 0), OGR_G_GetY(geometry, 0), OGR_G_GetZ(geometry, 0));
    std::fputc('\t', stdout);
}

// Reads one drawing; false when GDAL cannot open it.
bool readDrawing(const char* path) {
    const char* const drivers[] = {"DXF", nullptr};
    GDALDatasetH dataset = GDALOpenEx(path, GDAL_OF_VECTOR | GDAL_OF_READONLY, drivers, nullptr, nullptr);
    if (dataset == nullptr) return false;
    for (int i = 0; i < GDALDatasetGetLayerCount(dataset); ++i) {
        OGRLayerH layer = GDALDatasetGetLayer(dataset, i);
        OGRFeatureDefnH definition = OGR_L_GetLayerDefn(layer);
        const int field = OGR_FD_GetFieldIndex(definition, "Text");
        const int attributes = OGR_FD_GetFieldIndex(definition, "BlockAttributes");
        if (field < 0) continue;
        const FieldIndexes index(definition);
        OGR_L_ResetReading(layer);
        while (OGRFeatureH feature = OGR_L_GetNextFeature(layer)) {
            if (OGR_F_IsFieldSetAndNotNull(feature, field)) {
                if (fields) printFields(feature, index, stringField(feature, index.tag), false);
                print(OGR_F_GetFieldAsString(feature, field));
            }
            if (attributes >= 0 && OGR_F_IsFieldSetAndNotNull(feature, attributes)) {
                char** list = OGR_F_GetFieldAsStringList(feature, attributes);
                for (int a = 0; list != nullptr && list[a] != nullptr; ++a) {
                    // The driver keeps an attribute only as "TAG value": its tag stays in the text.
                    if (fields) printFields(feature, index, "", true);
                    print(list[a]);
                }
            }
            OGR_F_Destroy(feature);
        }
    }
    GDALClose(dataset);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    fields = hasOption(argc, argv, "--fields");
    GDALAllRegister();
    // Block definitions come once, in their own layer, rather than copied into every
    // insert: the text of a drawing is read as the other readers read it.
    CPLSetConfigOption("DXF_INLINE_BLOCKS", "FALSE");
    CPLSetConfigOption("CPL_LOG", "/dev/null");
    CPLPushErrorHandler(CPLQuietErrorHandler);
    return readEach(argc, argv, readDrawing, texts);
}
