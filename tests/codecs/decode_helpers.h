#pragma once

#include <cstdint>
#include <string>
#include <vector>

class CImageBitmap;
class CImageDecoder;

// Decodes bytes held in memory with one format's decoder, as CAutoDecoder hands them over.
void DecodeBytes(CImageDecoder& decoder, const std::vector<uint8_t>& bytes, CImageBitmap& bitmap, int& depth);

// The code of the CTextException a decode at the given depth raises (0 when it succeeds),
// and its text when asked.
int DecodeError(CImageDecoder& decoder, const std::vector<uint8_t>& bytes, std::string* text = nullptr, int depth = 32);
