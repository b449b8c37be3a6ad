/* What a host includes to drive the plug-in: its host tables, the per-document record and
 * the three entry points. Plain C99 or C++17. */
#ifndef WQDXFRDR_H
#define WQDXFRDR_H

#include "DxfHost.h"
#include "DxfSource.h"

#endif
