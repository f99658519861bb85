#include "engine/core/frame.h"

int main() { return WinMain(); }
