// The OpenGL 3.3 core entry points, linked directly from the system's GL
// library (GLVND), for the modules that draw.
#pragma once

#ifndef GL_GLEXT_PROTOTYPES
#define GL_GLEXT_PROTOTYPES 1
#endif
#include <GL/glcorearb.h>
