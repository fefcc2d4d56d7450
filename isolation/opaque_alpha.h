#pragma once

class CImageBitmap;

// Sets every alpha byte of a 32-bit picture without transparency to 255 (32-bit files often
// store 0 there), so that it can be drawn as it is. Run where the picture was decoded.
void MakeOpaque(CImageBitmap& picture);
