// The geometry support library: everything a program includes to use it.
#pragma once

#include "geometry/math.h"
#include "geometry/mesh.h"
#include "geometry/intersect.h"
#include "geometry/mesh_build.h"
#include "geometry/xfile_loader.h"
