// veltroclient: presenter-side client library for the Veltro live cloud classroom.
// Include this umbrella header, or a single class header, as <veltroclient/...>.
#pragma once

// codec
#include "lzmacodec.h"
#include "gzip.h"

// model

// client

// collab
