#pragma once

#include "runtime/Bytes.h"

// The bookmark file written when none exists: an empty two-field table ("名称", 500 bytes; "网址", 512 bytes)
// with one bookmark, 1276 bytes in all.
Bytes DefaultBookmarkImage();
