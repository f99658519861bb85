// The secondary shader set. The game draws nothing with it, so it holds no
// programs; the stage reset still asks for it every time.
#pragma once

// Makes the set on the first call and does nothing on later calls; with no
// programs in it, every call is a no-op.
void Lib_ShaderSet2Create();
