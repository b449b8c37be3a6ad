// The DXF vocabulary shared by every module: section names, the entity names the dispatcher
// knows, and the 257 group codes with the value type each one carries.
#include "DxfVocabulary.h"

// Index order is the section index used throughout the reader (and its phase number).
const char* const dxfSectionNames[SectionCount] = {
    "SECTION", "ENDSEC", "HEADER", "CLASSES", "TABLES", "BLOCKS", "ENTITIES", "OBJECTS", "EOF",
};

// The dispatcher's table order; the index of a name selects its handler slot there.
const char* const dxfEntityNames[EntityNameCount] = {
    "3DFACE",             // 0
    "3DSOLID",            // 1
    "ACAD_PROXY_ENTITY",  // 2
    "ARC",                // 3
    "ARCALIGNEDTEXT",     // 4
    "ATTDEF",             // 5
    "ATTRIB",             // 6
    "BLOCK",              // 7
    "BODY",               // 8
    "CIRCLE",             // 9
    "DIMENSION",          // 10
    "ELLIPSE",            // 11
    "HATCH",              // 12
    "IMAGE",              // 13
    "INSERT",             // 14
    "LEADER",             // 15
    "LINE",               // 16
    "LWPOLYLINE",         // 17
    "MLINE",              // 18
    "MTEXT",              // 19
    "OLEFRAME",           // 20
    "OLE2FRAME",          // 21
    "POINT",              // 22
    "POLYLINE",           // 23
    "RAY",                // 24
    "REGION",             // 25
    "RTEXT",              // 26
    "SEQEND",             // 27
    "SHAPE",              // 28
    "SOLID",              // 29
    "SPLINE",             // 30
    "TEXT",               // 31
    "TOLERANCE",          // 32
    "TRACE",              // 33
    "VERTEX",             // 34
    "VIEWPORT",           // 35
    "WIPEOUT",            // 36
    "XLINE",              // 37
};

// The empty text after the last code ends the table and is never looked up.
const char* const groupCodeTable[GroupCodeCount + 1] = {
#include "GroupCodeTexts.inc"
    "",
};

// clang-format off
// Value type of each code, parallel to groupCodeTable: 0 special (negative codes), 1 string,
// 2 real, 3 16-bit integer, 4 32-bit integer, 6 8-bit integer, 7 extended-data real.
const int32_t groupTypeTable[GroupCodeCount + 1] = {
    0, 0, 0, 0, 0, 1, 1, 1, 1, 1,  // 0
    1, 1, 1, 1, 1, 2, 2, 2, 2, 2,  // 10
    2, 2, 2, 2, 2, 2, 2, 2, 2, 2,  // 20
    2, 2, 2, 2, 2, 2, 2, 2, 2, 2,  // 30
    2, 2, 2, 2, 2, 2, 2, 2, 2, 2,  // 40
    2, 2, 2, 2, 2, 2, 2, 2, 2, 2,  // 50
    2, 2, 3, 3, 3, 3, 3, 3, 3, 3,  // 60
    3, 3, 3, 3, 3, 3, 3, 4, 4, 4,  // 70
    4, 4, 4, 4, 4, 4, 4, 1, 1, 1,  // 80
    2, 2, 2, 6, 6, 6, 6, 6, 6, 6,  // 90
    6, 6, 6, 6, 6, 6, 6, 6, 6, 6,  // 100
    6, 6, 1, 1, 1, 1, 1, 1, 1, 1,  // 110
    1, 1, 1, 1, 1, 1, 1, 1, 1, 1,  // 120
    1, 1, 1, 1, 1, 1, 1, 1, 1, 1,  // 130
    1, 1, 1, 1, 1, 1, 1, 1, 1, 1,  // 140
    1, 1, 1, 1, 1, 1, 1, 1, 1, 1,  // 150
    1, 1, 1, 1, 1, 1, 1, 1, 1, 1,  // 160
    1, 1, 1, 1, 1, 1, 1, 1, 1, 1,  // 170
    1, 1, 1, 6, 6, 6, 6, 6, 6, 6,  // 180
    6, 6, 6, 6, 6, 6, 6, 6, 6, 6,  // 190
    6, 6, 6, 1, 1, 1, 1, 1, 1, 1,  // 200
    1, 1, 1, 3, 3, 3, 3, 3, 3, 3,  // 210
    3, 3, 3, 1, 1, 1, 1, 1, 1, 1,  // 220
    1, 1, 1, 1, 1, 1, 1, 1, 1, 1,  // 230
    7, 7, 7, 7, 7, 7, 7, 7, 7, 7,  // 240
    7, 7, 7, 7, 7, 4, 4,  // 250
    0,
};
// clang-format on
