/* Everything a host or a test needs from the wqdxfrdr reader plug-in, in one include. */
#ifndef WQDXFRDR_H
#define WQDXFRDR_H

#include "DxfEntities.h"
#include "DxfFileStrmIo.h"
#include "DxfGrpId.h"
#include "DxfHash.h"
#include "DxfHost.h"
#include "DxfPublicStorage.h"
#include "DxfSource.h"
#include "DxfStrEtc.h"
#include "GetDxfData.h"
#include "MtextConv.h"
#include "ReadDatUtil.h"

#endif
