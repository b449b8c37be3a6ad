// Peer for the speed comparison: prints the Text field of every feature that GDAL's OGR
// DXF driver reads from drawings (TEXT, MTEXT, ATTDEF, dimension text) and each of an
// insert's attributes ("TAG value"), one a line.
#include <gdal.h>
#include <ogr_api.h>
#include <cpl_conv.h>

#include <cstdio>

#include "PeerMain.hpp"

namespace {

long long texts = 0;

void print(const char* text) {
    std::fputs(text, stdout);
    std::fputc('\n', stdout);
    ++texts;
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
        OGR_L_ResetReading(layer);
        while (OGRFeatureH feature = OGR_L_GetNextFeature(layer)) {
            if (OGR_F_IsFieldSetAndNotNull(feature, field)) print(OGR_F_GetFieldAsString(feature, field));
            if (attributes >= 0 && OGR_F_IsFieldSetAndNotNull(feature, attributes)) {
                char** list = OGR_F_GetFieldAsStringList(feature, attributes);
                for (int a = 0; list != nullptr && list[a] != nullptr; ++a) print(list[a]);
            }
            OGR_F_Destroy(feature);
        }
    }
    GDALClose(dataset);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    GDALAllRegister();
    // Block definitions come once, in their own layer, rather than copied into every
    // insert: the text of a drawing is read as the other readers read it.
    CPLSetConfigOption("DXF_INLINE_BLOCKS", "FALSE");
    CPLSetConfigOption("CPL_LOG", "/dev/null");
    CPLPushErrorHandler(CPLQuietErrorHandler);
    return readEach(argc, argv, readDrawing, texts);
}
