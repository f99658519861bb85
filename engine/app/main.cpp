#include "engine/app/frame.h"

int main() { return WinMain(); }
