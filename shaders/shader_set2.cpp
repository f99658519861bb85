#include "shaders/shader_set2.h"

void Lib_ShaderSet2Create() {}
