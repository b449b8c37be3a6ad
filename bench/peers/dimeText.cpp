// Peer for the speed comparison: prints the TEXT, ATTDEF and ATTRIB values and the block
// names of drawings as read by libdime, one value a line.
#include <dime/Input.h>
#include <dime/Model.h>
#include <dime/entities/Block.h>
#include <dime/entities/Text.h>
#include <dime/sections/BlocksSection.h>

#include <cstdio>
#include <cstring>

#include "PeerMain.hpp"

namespace {

long long texts = 0;

void print(const char* text) {
    if (text == nullptr) text = "";
    std::fputs(text, stdout);
    std::fputc('\n', stdout);
    ++texts;
}

// libdime has no classes of its own for ATTDEF and ATTRIB: their groups stay records,
// asked for by code (1 the value, 2 the tag).
bool printText(const dimeState*, dimeEntity* entity, void*) {
    if (entity->typeId() == dimeBase::dimeTextType) {
        print(static_cast<dimeText*>(entity)->getTextString());
    } else if (std::strcmp(entity->getEntityName(), "ATTRIB") == 0 ||
               std::strcmp(entity->getEntityName(), "ATTDEF") == 0) {
        dimeParam param;
        if (entity->getRecord(1, param)) print(param.string_data);
        if (entity->getRecord(2, param)) print(param.string_data);
    }
    return true;
}

// Reads one drawing; false when libdime cannot.
bool readDrawing(const char* path) {
    dimeInput input;
    if (!input.setFile(path)) return false;
    dimeModel model;
    if (!model.read(&input)) return false;
    for (int i = 0; i < model.getNumSections(); ++i) {
        dimeSection* section = model.getSection(i);
        if (section->typeId() != dimeBase::dimeBlocksSectionType) continue;
        dimeBlocksSection* blocks = static_cast<dimeBlocksSection*>(section);
        for (int b = 0; b < blocks->getNumBlocks(); ++b) print(blocks->getBlock(b)->getName());
    }
    // Inserts are not exploded: each block's text is read once, in the BLOCKS section.
    model.traverseEntities(printText, nullptr, true, false, false);
    return true;
}

}  // namespace

int main(int argc, char** argv) { return readEach(argc, argv, readDrawing, texts); }
