// The texture support library: textures from image files, image decoding,
// pixel formats and codecs, DXT blocks, filtering and mip generation.
#pragma once

#include "texture/block_codec.h"
#include "texture/dds_reader.h"
#include "texture/debug_mute.h"
#include "texture/filter.h"
#include "texture/image_level.h"
#include "texture/image_readers.h"
#include "texture/mapped_file.h"
#include "texture/pixel_codec.h"
#include "texture/pixel_format.h"
#include "texture/texture_from_file.h"
